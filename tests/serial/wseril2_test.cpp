// Block framing over a pseudo-terminal: the acknowledgement rules of
// SendBlock, the phone's frames and their handlers, and a line that fails.
#include "doralex/serial/wseril2.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "doralex/doralex.h"
#include "doralex/serial/wmob_err.h"
#include "serial/loader_line.h"

namespace dlx::testing {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A data block: address, L data bytes counting up from `first`, checksum.
Bytes DataBlock(uint32_t address, int length, uint8_t first = 0) {
  Bytes block = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                 static_cast<uint8_t>(address), static_cast<uint8_t>(length)};
  for (int i = 0; i < length; ++i) block.push_back(static_cast<uint8_t>(first + i));
  uint8_t x = 0;
  for (uint8_t b : block) x ^= b;
  block.push_back(x);
  return block;
}

class FramingTest : public LoaderLineTest {};

TEST_F(FramingTest, CommandFramesGoOutExactly) {
  PlayPhone([](PtyPeer& phone) {
    EXPECT_EQ(phone.receive(6, 2000), (Bytes{0xFF, 0xFF, 0xFF, 0x01, 0x21, 0xDF}));
    phone.send({kAck});
    EXPECT_EQ(phone.receive(7, 2000), (Bytes{0xFF, 0xFF, 0xFF, 0x02, 0xD0, 0xC8, 0xE5}));
    phone.send({kAck});
  });
  EXPECT_EQ(SendFrame(kPort, 0x21, 0, nullptr), 1);
  const uint8_t value = 200;
  EXPECT_EQ(SendFrame(kPort, 0xD0, 1, &value), 1);
  WaitForPhone();
  EXPECT_TRUE(ErrorCodes().empty());
}

TEST_F(FramingTest, SixtyFourDataBytesGoOutSixtyFiveAreRefusedUnsent) {
  const Bytes full = DataBlock(0x123456, 64);
  PlayPhone([&](PtyPeer& phone) {
    EXPECT_EQ(phone.receive(full.size(), 2000), full);
    phone.send({kAck});
  });
  uint32_t sent = 0;
  EXPECT_EQ(SendBlock(kPort, full.data(), 1000, &sent), 1);
  EXPECT_EQ(sent, 69u);
  WaitForPhone();

  Bytes tooLong = DataBlock(0x123456, 65);
  EXPECT_EQ(SendBlock(kPort, tooLong.data(), 1000, &sent), 0);
  uint8_t params[64] = {};
  EXPECT_EQ(SendFrame(kPort, 0x95, 64, params), 0);
  EXPECT_EQ(GetErrorNumber(kPort), 7);
  EXPECT_STREQ(GetPortErrorRecord(kPort)->module, "wseril2");
  EXPECT_EQ(ErrorCodes(), (std::vector<uint32_t>{0x203, 0x203}));
  EXPECT_TRUE(peer.receive(1, 100).empty());
}

// How the phone answers one received block: bytes, then after a pause more bytes.
struct Answer {
  Bytes now;
  int pauseMs = 0;
  Bytes later = {};
};

struct AnswerCase {
  const char* name;
  std::vector<Answer> answers;  // one per received block; silence after the last
  int expectedResult;
  int expectedWrites;
  std::vector<uint32_t> expectedErrors;  // time-outs (0x205) left out where their count varies
  bool timeOutsVary = false;
};

TEST_F(FramingTest, AnswerRules) {
  const AnswerCase cases[] = {
      {"ACK", {{{kAck}}}, 1, 1, {}},
      {"NAK then ACK", {{{kNak}}, {{kAck}}}, 1, 2, {}},
      {"five NAKs", {{{kNak}}, {{kNak}}, {{kNak}}, {{kNak}}, {{kNak}}}, 0, 5, {0x208}},
      {"A5 is unexpected", {{{kA5}}, {{kAck}}}, 1, 2, {0x204}},
      {"busy, then ACK after more than the time-out", {{{kBusy}, 150, {kAck}}}, 1, 1, {}, true},
      {"silence", {}, 0, 5, {0x205, 0x205, 0x205, 0x205, 0x205, 0x208}},
      {"garbage is flushed, then sent again", {{{0x42, 0x43, 0x44}}, {{kAck}}}, 1, 2, {0x206}},
  };
  const Bytes block = DataBlock(0x010203, 4);
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    int writes = 0;
    PlayPhone([&](PtyPeer& phone) {
      for (;;) {
        Bytes got = phone.receive(block.size(), 250);
        if (got.empty()) return;
        EXPECT_EQ(got, block);
        if (static_cast<std::size_t>(writes) < c.answers.size()) {
          const Answer& answer = c.answers[static_cast<std::size_t>(writes)];
          phone.send(answer.now);
          if (answer.pauseMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.pauseMs));
            phone.send(answer.later);
          }
        }
        ++writes;
      }
    });
    uint32_t sent = 0;
    EXPECT_EQ(SendBlock(kPort, block.data(), 60, &sent), c.expectedResult);
    EXPECT_EQ(sent, block.size());
    WaitForPhone();
    EXPECT_EQ(writes, c.expectedWrites);
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    if (c.timeOutsVary) std::erase(errors, 0x205u);
    EXPECT_EQ(errors, c.expectedErrors);
  }
  const LibraryErrorList& list = GetLibraryErrorList(0);
  for (int i = 0; i < list.count; ++i) {
    if (list.slots[i].code == 0x204) {
      EXPECT_EQ(list.slots[i].intParams[0], 0xA5);  // the 0x204 carries the byte
    }
  }
}

std::atomic<int> progressFrames{0};
int CountingHandler(int, uint8_t, uint8_t, const uint8_t*) {
  ++progressFrames;
  return 1;
}

TEST_F(FramingTest, FrameInsteadOfAnAnswerIsTakenAndTheWaitGoesOn) {
  RegisterHandler(0x5A, CountingHandler);
  const Bytes block = DataBlock(0x000100, 2);
  const Bytes progress = PhoneFrame(0x5A, {0x10, 0x01});
  Bytes received;
  PlayPhone([&](PtyPeer& phone) {
    received = phone.receive(block.size(), 2000);
    phone.send(progress);
    received.push_back(phone.receive(1, 2000).at(0));  // our ACK of the frame
    phone.send({kAck});
  });
  uint32_t sent = 0;
  EXPECT_EQ(SendBlock(kPort, block.data(), 1000, &sent), 1);
  WaitForPhone();
  Bytes expected = block;
  expected.push_back(kAck);
  EXPECT_EQ(received, expected);  // written once, the frame acknowledged
  EXPECT_EQ(progressFrames.load(), 1);
  EXPECT_TRUE(ErrorCodes().empty());
  EXPECT_TRUE(peer.receive(1, 50).empty());
}

TEST_F(FramingTest, BusyWaitIsBoundedAndThenCountsAsATimeOut) {
  SetBusyWaitLimit(200);
  const Bytes block = DataBlock(0x000100, 2);
  int writes = 0;
  PlayPhone([&](PtyPeer& phone) {
    for (;;) {
      Bytes got = phone.receive(block.size(), 600);
      if (got.empty()) return;
      phone.send({writes == 0 ? kBusy : kAck});  // busy, then silence, then on the resend ACK
      ++writes;
    }
  });
  uint32_t sent = 0;
  EXPECT_EQ(SendBlock(kPort, block.data(), 50, &sent), 1);
  WaitForPhone();
  EXPECT_EQ(writes, 2);
}

TEST_F(FramingTest, ReceiveValueClassifiesTheAnswer) {
  struct Case {
    Bytes line;
    int status;
    uint8_t value;
    std::vector<uint32_t> errors;
  };
  const Case cases[] = {
      {{kAck}, ReceiveOk, kAck, {}},
      {{kNak}, ReceiveOk, kNak, {}},
      {{kA5}, ReceiveOk, kA5, {}},
      {{kBusy}, ReceiveOk, kBusy, {}},
      {{0x00}, UnknownChar, 0x00, {0x206}},
      {{}, ReceiveTimeOut, 0x99, {0x205}},
      {PhoneFrame(0x77, {1}), CmdBlockReceived, 0xFF, {}},
      {{0xFF, 0x00}, SerialError, 0xFF, {0x20D}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.line));
    const std::size_t before = ErrorCodes().size();
    peer.send(c.line);
    uint8_t value = 0x99;
    EXPECT_EQ(ReceiveValue(kPort, &value, 50), c.status);
    EXPECT_EQ(value, c.value);
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    EXPECT_EQ(errors, c.errors);
    peer.drain(20);
  }
}

struct FrameCase {
  const char* name;
  Bytes line;
  int result;
  uint8_t mi;
  Bytes data;
  bool acknowledged;
  std::vector<uint32_t> errors;
};

TEST_F(FramingTest, WaitForMessage) {
  RegisterHandler(0x18, MapPhoneError);
  RegisterHandler(0x5A, CountingHandler);
  Bytes strayInPreamble = PhoneFrame(0x33, {0x01, 0x10, 0x20});
  strayInPreamble.insert(strayInPreamble.begin() + 1, 0x00);  // FF 00 FF FF ...
  Bytes badChecksum = PhoneFrame(0x33, {0x01});
  badChecksum.back() ^= 0x01;
  Bytes progressFirst = PhoneFrame(0x5A, {0x05, 0x01});
  const Bytes wanted = PhoneFrame(0x33, {0x09});
  progressFirst.insert(progressFirst.end(), wanted.begin(), wanted.end());

  const FrameCase cases[] = {
      {"stray byte inside the preamble", strayInPreamble, 1, 0x33, {0x01, 0x10, 0x20}, true, {}},
      {"empty frame", PhoneFrame(0x33, {}), 1, 0x33, {}, true, {}},
      {"64 data bytes", PhoneFrame(0x33, Bytes(64, 0x5C)), 1, 0x33, Bytes(64, 0x5C), true, {}},
      {"bad checksum", badChecksum, 0, 0, {}, false, {0x209, 0x202}},
      {"phone error report", PhoneFrame(0x18, {0x42}), 0, 0, {}, true, {0x40C}},
      {"other frame without handler", PhoneFrame(0x44, {0x01}), 0, 0, {}, true, {}},
      {"progress, then the answer", progressFirst, 1, 0x33, {0x09}, true, {}},
      {"silence", {}, 0, 0, {}, false, {0x20D, 0x202}},
      {"frame breaks off", {0xFF, 0xFF, 0xFF, 0x05, 0x33, 0x01}, 0, 0, {}, false, {0x20B, 0x202}},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = ErrorCodes().size();
    peer.send(c.line);
    LoaderFrame frame{};
    EXPECT_EQ(WaitForMessage(kPort, &frame, 0x33, 150), c.result);
    if (c.result) {
      EXPECT_EQ(frame.mi, c.mi);
      EXPECT_EQ(Bytes(frame.data, frame.data + frame.length), c.data);
    }
    Bytes acks = peer.drain(30);
    EXPECT_EQ(!acks.empty() && acks.back() == kAck, c.acknowledged);
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    EXPECT_EQ(errors, c.errors);
  }
  EXPECT_EQ(progressFrames.load(), 1);
  EXPECT_EQ(GetErrorNumber(kPort), 400);  // the phone's report reached its handler
}

TEST_F(FramingTest, FramesThatDoNotFitTheRecordAreDrainedAndRejected) {
  Bytes zeroLength = {0xFF, 0xFF, 0xFF, 0x00, 0xFF};
  Bytes overLong = {0xFF, 0xFF, 0xFF, 66, 0x33};  // 65 data bytes announced
  overLong.insert(overLong.end(), 65, 0xEE);
  overLong.push_back(0x00);  // checksum
  for (const Bytes& bad : {zeroLength, overLong}) {
    SCOPED_TRACE(bad.size());
    const std::size_t before = ErrorCodes().size();
    Bytes line = bad;
    const Bytes good = PhoneFrame(0x33, {0x07});
    line.insert(line.end(), good.begin(), good.end());
    peer.send(line);

    LoaderFrame record;
    std::memset(&record, 0xA7, sizeof record);
    const LoaderFrame untouched = record;
    EXPECT_EQ(ReceiveFrame(kPort, &record, 3, 200), SerialError);
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0);
    EXPECT_TRUE(peer.receive(1, 30).empty());  // not acknowledged

    // What the phone announced is gone from the line: the next frame is whole.
    EXPECT_EQ(ReceiveFrame(kPort, &record, 3, 200), CmdBlockReceived);
    EXPECT_EQ(record.mi, 0x33);
    EXPECT_EQ(record.length, 1);
    EXPECT_EQ(peer.receive(1, 500), Bytes{kAck});
    std::vector<uint32_t> errors = ErrorCodes();
    errors.erase(errors.begin(), errors.begin() + static_cast<long>(before));
    EXPECT_EQ(errors, std::vector<uint32_t>{0x20C});
  }
}

TEST_F(FramingTest, EndlessGarbageEndsTheWaitAsATimeOut) {
  std::atomic<bool> stop{false};
  PlayPhone([&](PtyPeer& phone) {
    while (!stop) {
      phone.send(Bytes(16, 0x00));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  LoaderFrame frame{};
  const auto start = Clock::now();
  EXPECT_EQ(WaitForMessage(kPort, &frame, 0x33, 150), 0);
  EXPECT_LT(MsSince(start), 3000);
  stop = true;
  WaitForPhone();
  EXPECT_EQ(ErrorCodes(), (std::vector<uint32_t>{0x20D, 0x202}));
}

// The cable is pulled: whatever was waiting ends at once instead of waiting
// out its time-outs.
TEST_F(FramingTest, VanishedDeviceEndsWaitsPromptly) {
  struct Case {
    const char* name;
    std::function<int()> wait;
    Bytes before;  // what the phone sends before it vanishes
  };
  const Bytes block = DataBlock(0x000100, 2);
  const Case cases[] = {
      {"mid-frame", [] { LoaderFrame f{}; return WaitForMessage(kPort, &f, 0x33, 10000); },
       {0xFF, 0xFF, 0xFF, 0x05, 0x33}},
      {"waiting for a frame", [] { LoaderFrame f{}; return WaitForMessage(kPort, &f, 0x33, 10000); },
       {}},
      {"busy phone", [&] { uint32_t s = 0; return SendBlock(kPort, block.data(), 10000, &s); },
       {kBusy}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPeer line;
    ASSERT_TRUE(line.ok());
    SerialTableFile mapping({{kPort, line.slavePath()}});
    ComClose(kPort);
    ASSERT_EQ(ComOpen(kPort, 115200, 0), 1);
    std::thread pull([&] {
      line.receive(block.size(), 100);
      line.send(c.before);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      line.hangUp();
    });
    const auto start = Clock::now();
    EXPECT_EQ(c.wait(), 0);
    EXPECT_LT(MsSince(start), 3000);
    pull.join();
    EXPECT_EQ(ComLineFailed(kPort), 1);
  }
}

}  // namespace
}  // namespace dlx::testing
