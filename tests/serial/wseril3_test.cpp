// Composite flash-loader exchanges against a scripted phone.
#include "doralex/serial/wseril3.h"

#include <cstring>

#include "doralex/doralex.h"
#include "doralex/serial/wmob_err.h"
#include "doralex/serial/wseril2.h"
#include "serial/loader_line.h"

namespace dlx::testing {
namespace {

// One block or command frame from the PC: header, then L data bytes and the
// checksum. Empty when nothing (complete) arrived.
Bytes ReadBlock(PtyPeer& phone, int timeoutMs = 2000) {
  Bytes head = phone.receive(4, timeoutMs);
  if (head.size() < 4) return {};
  Bytes rest = phone.receive(head[3] + 1u, 500);
  head.insert(head.end(), rest.begin(), rest.end());
  return head;
}

class CompositeTest : public LoaderLineTest {};

void RecordTransmitProgress(void* context, uint32_t bytesSent) {
  static_cast<std::vector<uint32_t>*>(context)->push_back(bytesSent);
}

Bytes TransferImage(int blocks, int dataBytes) {
  Bytes image;
  for (int i = 0; i < blocks; ++i) {
    uint32_t address = static_cast<uint32_t>(i * dataBytes);
    Bytes block = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                   static_cast<uint8_t>(address), static_cast<uint8_t>(dataBytes)};
    for (int j = 0; j < dataBytes; ++j) block.push_back(static_cast<uint8_t>(i + j));
    uint8_t x = 0;
    for (uint8_t b : block) x ^= b;
    block.push_back(x);
    image.insert(image.end(), block.begin(), block.end());
  }
  return image;
}

TEST_F(CompositeTest, TransmitBlocksStreamsTheImageWithProgress) {
  const Bytes image = TransferImage(138, 64);  // 138 blocks of 69 bytes: 9522 bytes
  ASSERT_EQ(image.size(), 9522u);
  Bytes received;
  PlayPhone([&](PtyPeer& phone) {
    for (Bytes block = ReadBlock(phone); !block.empty(); block = ReadBlock(phone, 300)) {
      received.insert(received.end(), block.begin(), block.end());
      phone.send({kAck});
    }
  });
  std::vector<uint32_t> progress;
  EXPECT_EQ(TransmitBlocks(kPort, image.data(), static_cast<uint32_t>(image.size()), 5000,
                           &progress, RecordTransmitProgress),
            1);
  WaitForPhone();
  EXPECT_EQ(received, image);
  EXPECT_EQ(progress, (std::vector<uint32_t>{4140, 8280, 9522}));
}

TEST_F(CompositeTest, TransmitBlocksStopsAtTheFirstRefusedBlock) {
  const Bytes image = TransferImage(3, 8);
  int blocks = 0;
  PlayPhone([&](PtyPeer& phone) {
    for (Bytes block = ReadBlock(phone); !block.empty(); block = ReadBlock(phone, 300)) {
      phone.send({blocks == 0 ? kAck : kNak});
      ++blocks;
    }
  });
  std::vector<uint32_t> progress;
  EXPECT_EQ(TransmitBlocks(kPort, image.data(), static_cast<uint32_t>(image.size()), 1000,
                           &progress, RecordTransmitProgress),
            0);
  WaitForPhone();
  EXPECT_EQ(blocks, 6);  // the first, then the second five times; never the third
  EXPECT_EQ(progress, std::vector<uint32_t>{13});
  EXPECT_EQ(ErrorCodes().back(), 0x208u);
}

TEST_F(CompositeTest, TransmitBlocksRefusesABlockCutOffByTheImageEnd) {
  const Bytes whole = TransferImage(2, 8);
  const Bytes image(whole.begin(), whole.end() - 3);  // the second block lacks its last bytes
  int blocks = 0;
  PlayPhone([&](PtyPeer& phone) {
    for (Bytes block = ReadBlock(phone); !block.empty(); block = ReadBlock(phone, 300)) {
      phone.send({kAck});
      ++blocks;
    }
  });
  EXPECT_EQ(TransmitBlocks(kPort, image.data(), static_cast<uint32_t>(image.size()), 1000,
                           nullptr, nullptr),
            0);
  WaitForPhone();
  EXPECT_EQ(blocks, 1);
  EXPECT_EQ(ErrorCodes(), std::vector<uint32_t>{0x909});
}

struct EraseCall {
  uint16_t channel, total, done;
  bool operator==(const EraseCall&) const = default;
};
std::vector<EraseCall> eraseCalls;
void RecordErase(uint16_t channel, uint16_t total, uint16_t done) {
  eraseCalls.push_back({channel, total, done});
}

TEST_F(CompositeTest, EraseAreasThenEraseBlocks) {
  std::vector<Range> blocks = {{9, 9}};
  uint16_t total = 99;
  EXPECT_EQ(EraseAreas(kPort, &blocks, {}, &total), 1);
  EXPECT_TRUE(blocks.empty());
  EXPECT_EQ(total, 0);

  std::vector<Bytes> commands;
  PlayPhone([&](PtyPeer& phone) {
    const Bytes answers[] = {PhoneFrame(0x54, {0x00, 3, 5}), PhoneFrame(0x54, {0x00, 10, 10})};
    for (const Bytes& answer : answers) {
      commands.push_back(ReadBlock(phone));
      phone.send({kAck});
      phone.send(answer);
      phone.receive(1, 500);  // the PC's ACK of the answer
    }
    for (Bytes command = ReadBlock(phone); !command.empty(); command = ReadBlock(phone, 300)) {
      commands.push_back(command);
      phone.send({kAck});
      phone.send(PhoneFrame(0x56, {}));
      phone.receive(1, 500);
    }
  });
  const std::vector<Range> areas = {{0x00030000, 0x0005FFFF}, {0x000A0000, 0x000AFFFF}};
  ASSERT_EQ(EraseAreas(kPort, &blocks, areas, &total), 1);
  EXPECT_EQ(total, 4);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].first, 3u);
  EXPECT_EQ(blocks[0].last, 5u);
  EXPECT_EQ(blocks[1].first, 10u);
  EXPECT_EQ(blocks[1].last, 10u);

  EXPECT_EQ(EraseBlocks(kPort, blocks, 1, total, RecordErase), 1);
  WaitForPhone();
  const std::vector<Bytes> expected = {
      CommandFrame(0x53, {0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0xFF, 0xFF}),
      CommandFrame(0x53, {0x00, 0x0A, 0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF}),
      CommandFrame(0x55, {3, 3}),
      CommandFrame(0x55, {4, 4}),
      CommandFrame(0x55, {5, 5}),
      CommandFrame(0x55, {10, 10}),
  };
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(eraseCalls, (std::vector<EraseCall>{{1, 4, 1}, {1, 4, 2}, {1, 4, 3}, {1, 4, 4}}));
  EXPECT_TRUE(ErrorCodes().empty());
}

TEST_F(CompositeTest, EraseAreasRefusals) {
  struct Case {
    const char* name;
    Bytes answer;  // empty: the phone never answers
    int errorNumber;
    std::vector<uint32_t> errors;
    const char* text;
  };
  const Case cases[] = {
      {"address not erasable", PhoneFrame(0x54, {0xFF, 0, 0}), 204, {0x302},
       "Wrong Erase-Adress, not possible from 10000h to 1FFFFh"},
      {"answer not recognised", PhoneFrame(0x54, {0x07, 0, 0}), 205, {0x304}, ""},
      {"no answer", {}, 203, {0x20D, 0x202, 0x305}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    PlayPhone([&](PtyPeer& phone) {
      ReadBlock(phone);
      phone.send({kAck});
      phone.send(c.answer);
    });
    std::vector<Range> blocks;
    uint16_t total = 0;
    EXPECT_EQ(EraseAreas(kPort, &blocks, {{0x10000, 0x1FFFF}}, &total), 0);
    WaitForPhone();
    peer.drain(20);
    EXPECT_TRUE(blocks.empty());
    EXPECT_EQ(GetErrorNumber(kPort), c.errorNumber);
    EXPECT_STREQ(GetAdditionalErrorText(kPort), c.text);
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    EXPECT_EQ(errors, c.errors);
  }
  const LibraryErrorEntry& wrongAddress = GetLibraryErrorList(0).slots[0];
  EXPECT_EQ(wrongAddress.intParams[0], 0x10000);
  EXPECT_EQ(wrongAddress.intParams[1], 0x1FFFF);
}

TEST_F(CompositeTest, EraseBlocksFailures) {
  RegisterHandler(0x18, MapPhoneError);
  struct Case {
    const char* name;
    std::function<void(PtyPeer&)> phone;
    int errorNumber;
    std::vector<uint32_t> errors;
  };
  const Case cases[] = {
      {"phone reports an erase error",
       [](PtyPeer& phone) {
         ReadBlock(phone);
         phone.send({kAck});
         phone.send(PhoneFrame(0x18, {0x60, 0x02, 0x07}));
       },
       200, {0x405, 0x300}},
      {"command not acknowledged",
       [](PtyPeer& phone) {
         for (int i = 0; i < 5; ++i) {
           ReadBlock(phone);
           phone.send({kNak});
         }
       },
       201, {0x208, 0x301}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    PlayPhone(c.phone);
    eraseCalls.clear();
    EXPECT_EQ(EraseBlocks(kPort, {{7, 8}}, 0, 2, RecordErase), 0);
    WaitForPhone();
    peer.drain(20);
    EXPECT_TRUE(eraseCalls.empty());
    EXPECT_EQ(GetErrorNumber(kPort), c.errorNumber);
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    EXPECT_EQ(errors, c.errors);
  }
}

TEST_F(CompositeTest, EraseNewConcept) {
  struct Case {
    uint8_t answer;
    int result;
  };
  for (const Case c : {Case{0x01, 1}, Case{0xAA, 0}}) {
    SCOPED_TRACE(c.answer);
    eraseCalls.clear();
    Bytes command;
    PlayPhone([&](PtyPeer& phone) {
      command = ReadBlock(phone);
      phone.send({kAck});
      for (const Bytes& frame : {PhoneFrame(0x5A, {10, 1}), PhoneFrame(0x5A, {10, 5}),
                                 PhoneFrame(0x5B, {c.answer})}) {
        phone.send(frame);
        phone.receive(1, 500);
      }
    });
    EXPECT_EQ(EraseNewConcept(kPort, 3, RecordErase), c.result);
    WaitForPhone();
    EXPECT_EQ(command, CommandFrame(0x59, {}));
    EXPECT_EQ(eraseCalls, (std::vector<EraseCall>{{3, 10, 1}, {3, 10, 5}}));
  }
  EXPECT_TRUE(ErrorCodes(0).empty());  // "not erased by the phone" is no error
  EXPECT_TRUE(ErrorCodes(3).empty());
}

TEST_F(CompositeTest, StartHashingOnlyAfterANegotiatedSignature) {
  for (int state : {0, 1, 2, 3, 5}) {
    SCOPED_TRACE(state);
    int value = state;
    EXPECT_EQ(StartHashing(kPort, &value), 1);
    EXPECT_EQ(value, state);
  }
  EXPECT_TRUE(peer.receive(1, 30).empty());

  Bytes command;
  PlayPhone([&](PtyPeer& phone) {
    command = ReadBlock(phone);
    phone.send({kAck});
  });
  int state = 4;
  EXPECT_EQ(StartHashing(kPort, &state), 1);
  WaitForPhone();
  EXPECT_EQ(state, 5);
  EXPECT_EQ(command, CommandFrame(0x60, {0x07}));
}

TEST_F(CompositeTest, AdditionalInformationGoesOutInChunks) {
  Bytes info(130);
  for (std::size_t i = 0; i < info.size(); ++i) info[i] = static_cast<uint8_t>(i * 3);
  struct Case {
    Bytes data;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {info,
       {CommandFrame(0x94, {0x82, 0x00}), CommandFrame(0x95, Bytes(info.begin(), info.begin() + 62)),
        CommandFrame(0x95, Bytes(info.begin() + 62, info.begin() + 124)),
        CommandFrame(0x95, Bytes(info.begin() + 124, info.end())), CommandFrame(0x96, {})}},
      {{}, {CommandFrame(0x94, {0x00, 0x00}), CommandFrame(0x96, {})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data.size());
    std::vector<Bytes> frames;
    PlayPhone([&](PtyPeer& phone) {
      for (Bytes frame = ReadBlock(phone); !frame.empty(); frame = ReadBlock(phone, 300)) {
        frames.push_back(frame);
        phone.send({kAck});
      }
    });
    EXPECT_EQ(SendAdditionalInfo(kPort, c.data.data(), static_cast<uint16_t>(c.data.size())), 1);
    WaitForPhone();
    EXPECT_EQ(frames, c.frames);
  }
}

}  // namespace
}  // namespace dlx::testing
