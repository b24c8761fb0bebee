// The flash loader, driven from the PC's side: commands and answer frames,
// data blocks into the flash image, signature negotiation and the faults.
#include <gtest/gtest.h>

#include <errno.h>

#include <thread>

#include "sim_fixture.h"

namespace phonesim_test {
namespace {

using nlohmann::json;

class LoaderTest : public SimTest {
 protected:
  // Starts a phone whose loader runs at 115200 and takes its announcement.
  void StartLoader(const std::string& extra = "") {
    Start(R"({"initial_mode": "loader", "timing": {"ack_timeout_ms": 150, "announce_interval_ms": 100})" +
              (extra.empty() ? "" : ", " + extra) + "}",
          115200);
    auto hello = pc_->ReadFrame(1000);
    ASSERT_TRUE(hello);
    ASSERT_EQ(hello->mi, 0x31);
  }
  // Sends a command and expects the single acknowledgement byte.
  void Expect(const Bytes& wire, uint8_t answer) {
    pc_->Write(wire);
    EXPECT_EQ(pc_->Read(1, 1000), Bytes{answer});
  }
  // Sends a command, expects its ACK, then the answer frame (acknowledged).
  std::optional<LoaderFrame> Ask(uint8_t mi, const Bytes& params) {
    Expect(Command(mi, params), 0x06);
    return pc_->ReadFrame(1000);
  }
};

TEST_F(LoaderTest, ShortSessionWritesBlocksIntoTheFlashImage) {
  StartLoader(R"("loader": {"flash_code": "0x8988", "flash_size_mbit": 16}, "svn": "0x52",
                 "product_type": "R10", "compile_date": "15.03.02", "compile_time": "12:34:56",
                 "mode_after_update": "at", "timing": {"restart_after_update_ms": 20, "ack_timeout_ms": 150})");
  auto code = Ask(0x32, {0x01});
  ASSERT_TRUE(code);
  EXPECT_EQ(code->mi, 0x33);
  EXPECT_EQ(code->data, (Bytes{0x01, 0x88, 0x89}));
  auto size = Ask(0x21, {});
  ASSERT_TRUE(size);
  EXPECT_EQ(size->data, (Bytes{0x10, 0x00}));
  auto version = Ask(0xC2, {});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->mi, 0xC3);
  ASSERT_EQ(version->data.size(), 33u);
  EXPECT_EQ(ToText(Bytes(version->data.begin(), version->data.begin() + 16)), "15.03.0212:34:56");
  EXPECT_EQ(ToText(Bytes(version->data.begin() + 16, version->data.begin() + 19)), "R10");
  EXPECT_EQ(version->data[19], 0);
  EXPECT_EQ(version->data[32], 0x52);
  Expect(Command(0xD0, {200}), 0x06);

  // Three blocks: 64 bytes at 0x010000, 64 after it, 5 at 0x020010.
  Bytes first(64), second(64);
  for (int i = 0; i < 64; ++i) first[i] = static_cast<uint8_t>(i), second[i] = static_cast<uint8_t>(0x80 + i);
  const Bytes third = {1, 2, 3, 4, 5};
  Expect(Block(0x010000, first), 0x06);
  Expect(Block(0x010040, second), 0x06);
  Expect(Block(0x020010, third), 0x06);

  auto status = Ask(0x04, {});
  ASSERT_TRUE(status);
  EXPECT_EQ(status->mi, 0x00);
  // After the end of transmission the normal software answers in AT mode.
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  pc_->Write("AT\r");
  EXPECT_EQ(ToText(pc_->ReadQuiet(100)), "AT\rOK\r\n");

  const json report = Finish();
  ASSERT_EQ(report["blocks"].size(), 3u);
  EXPECT_EQ(report["blocks"][0]["address"], 0x010000);
  EXPECT_EQ(report["blocks"][1]["length"], 64);
  EXPECT_EQ(report["blocks"][2]["address"], 0x020010);
  EXPECT_EQ(report["blocks"][2]["length"], 5);
  EXPECT_TRUE(report["violations"].empty()) << report["violations"].dump();

  const phonesim::FlashImage flash = phone_->Flash();
  ASSERT_EQ(flash.bytes().size(), 0x020015u);
  EXPECT_EQ(flash.At(0x00FFFF), 0xFF);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(flash.At(0x010000 + i), first[i]);
    EXPECT_EQ(flash.At(0x010040 + i), second[i]);
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(flash.At(0x020010 + i), third[i]);
  EXPECT_EQ(flash.ranges(), (std::map<uint32_t, uint32_t>{{0x010000, 128}, {0x020010, 5}}));
  EXPECT_EQ(report["flash"]["sha256"], phonesim::Sha256Hex(flash.bytes().data(), flash.bytes().size()));
}

TEST_F(LoaderTest, EraseCommandsMapAddressesToBlocksAndReportProgress) {
  StartLoader(R"("loader": {"flash_size_mbit": 32, "erase_progress_frames": 3})");
  Expect(Block(0x030000, Bytes(8, 0x11)), 0x06);

  auto area = Ask(0x53, {0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0xFF, 0xFF});
  ASSERT_TRUE(area);
  EXPECT_EQ(area->mi, 0x54);
  EXPECT_EQ(area->data, (Bytes{0x00, 0x03, 0x05}));
  auto outside = Ask(0x53, {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFF});
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->data[0], 0xFF);

  auto erased = Ask(0x55, {0x03, 0x03});
  ASSERT_TRUE(erased);
  EXPECT_EQ(erased->mi, 0x56);
  EXPECT_EQ(phone_->Flash().At(0x030000), 0xFF);

  Expect(Block(0x040000, Bytes(8, 0x22)), 0x06);
  Expect(Command(0x59, {}), 0x06);
  for (uint8_t done = 1; done <= 3; ++done) {
    auto progress = pc_->ReadFrame(1000);
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->mi, 0x5A);
    EXPECT_EQ(progress->data, (Bytes{3, done}));
  }
  auto ready = pc_->ReadFrame(1000);
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->mi, 0x5B);
  EXPECT_EQ(ready->data, Bytes{0x01});
  EXPECT_TRUE(phone_->Flash().ranges().empty());
}

TEST_F(LoaderTest, SignatureNegotiationAcceptsOrRejects) {
  struct Case {
    int signature_answer;
    Bytes key;             // the key the PC names in its selection
    uint8_t expected_code;
  };
  const Case cases[] = {
      {4, {0x01, 0x02, 0x03, 0x04}, 4},
      {5, {0x01, 0x02, 0x03, 0x04}, 5},
  };
  for (const auto& c : cases) {
    StartLoader(R"("signature": {"init_answer": 2, "key_id": "0x01020304", "signature_answer": )" +
                std::to_string(c.signature_answer) + "}");
    auto request = Ask(0x60, {0x01, 0xAB, 0x02, 0x00, 0x01, 0x00});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->mi, 0x61);
    EXPECT_EQ(request->data, (Bytes{0x02, 0x00, 0x01, 0x02, 0x03, 0x04}));

    // Selection, then a 70-byte signature as chunks of 60 and 10.
    Bytes selection = {0x02, 0x01};
    selection.insert(selection.end(), c.key.begin(), c.key.end());
    selection.insert(selection.end(), {70, 0x00});
    Expect(Command(0x60, selection), 0x06);
    Bytes chunk1 = {0x03, 0x00, 0x00}, chunk2 = {0x04, 60, 0x00};
    chunk1.resize(63, 0x5A);
    chunk2.resize(13, 0xA5);
    Expect(Command(0x60, chunk1), 0x06);
    Expect(Command(0x60, chunk2), 0x06);
    auto verdict = pc_->ReadFrame(1000);
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->mi, 0x61);
    EXPECT_EQ(verdict->data, Bytes{c.expected_code});

    Expect(Command(0x60, {0x06, 0x00, 0x00, 0x11, 0x22}), 0x06);
    auto hash = pc_->ReadFrame(1000);
    ASSERT_TRUE(hash);
    EXPECT_EQ(hash->data, Bytes{0x06});
    const json report = Finish();
    EXPECT_EQ(report["signature"]["key_id"], "01 02 03 04");
    EXPECT_EQ(report["signature"]["hash_list_length"], 2);
    EXPECT_TRUE(report["violations"].empty()) << report["violations"].dump();
  }
}

TEST_F(LoaderTest, OlderLoaderRefusesTheSignatureInit) {
  StartLoader(R"("signature": {"enabled": false})");
  Expect(Command(0x60, {0x01, 0xAB, 0x02, 0x00, 0x01, 0x00}), 0x15);
  EXPECT_EQ(Finish()["violations"][0]["kind"], "unknown_command");
}

TEST_F(LoaderTest, InjectedNakAndBusyAnswers) {
  StartLoader(R"("faults": {"nak_block": [{"block": 1, "count": 2}], "busy_block": [{"block": 2, "delay_ms": 120}]})");
  const Bytes data(16, 0x3C);
  Expect(Block(0x000000, data), 0x06);
  Expect(Block(0x000010, data), 0x15);
  Expect(Block(0x000010, data), 0x15);
  Expect(Block(0x000010, data), 0x06);
  pc_->Write(Block(0x000020, data));
  EXPECT_EQ(pc_->Read(1, 1000), Bytes{0x9B});
  const auto busy_at = std::chrono::steady_clock::now();
  EXPECT_EQ(pc_->Read(1, 1000), Bytes{0x06});
  EXPECT_GE(std::chrono::steady_clock::now() - busy_at, std::chrono::milliseconds(100));

  const json report = Finish();
  ASSERT_EQ(report["blocks"].size(), 3u);
  EXPECT_EQ(report["blocks"][1]["address"], 0x10);
  EXPECT_EQ(Count(report["exchanges"], "answer", "NAK (injected)"), 2);
}

TEST_F(LoaderTest, ErrorFrameTakesThePlaceOfTheAnswer) {
  StartLoader(R"("faults": {"error_frame": [{"at": {"loader_command": "0x32"}, "data": "70 03 01 A2 F0"}]})");
  auto frame = Ask(0x32, {0x01});
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->mi, 0x18);
  EXPECT_EQ(frame->data, (Bytes{0x70, 0x03, 0x01, 0xA2, 0xF0}));
  // The next request is answered normally.
  auto code = Ask(0x32, {0x01});
  ASSERT_TRUE(code);
  EXPECT_EQ(code->mi, 0x33);
}

// What the PC does wrong shows in the report; the phone NAKs bad blocks and
// sends an unacknowledged frame again.
TEST_F(LoaderTest, ProtocolViolationsOfThePcAreReported) {
  StartLoader(R"("timing": {"ack_timeout_ms": 60, "resend_limit": 1, "byte_gap_ms": 50})");
  Bytes bad = Block(0x000100, {1, 2, 3});
  bad.back() ^= 0x01;
  Expect(bad, 0x15);
  Expect(Block(0x000200, Bytes(65, 0x00)), 0x15);
  Expect(Command(0x77, {}), 0x15);

  pc_->Write(Command(0x21, {}));
  EXPECT_EQ(pc_->Read(1, 1000), Bytes{0x06});
  auto first = pc_->ReadFrame(1000, false);
  auto resent = pc_->ReadFrame(1000, false);
  ASSERT_TRUE(first && resent);
  EXPECT_EQ(first->mi, 0x22);
  EXPECT_EQ(resent->mi, 0x22);
  EXPECT_TRUE(pc_->ReadQuiet(150).empty());  // given up after one resend

  pc_->Write(Bytes{0x12, 0x34});  // a block that breaks off
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  Expect(Block(0x000300, {9}), 0x06);

  const json report = Finish();
  const json& v = report["violations"];
  for (const char* kind : {"bad_checksum", "block_too_long", "unknown_command", "frame_unacknowledged",
                           "incomplete_frame"})
    EXPECT_EQ(Count(v, "kind", kind), 1) << kind << " in " << v.dump();
}

TEST_F(LoaderTest, CorruptedAndStrayFramesAreResentClean) {
  StartLoader(R"("faults": {"corrupt_frame": [{"mi": "0x33"}],
                            "stray_bytes": [{"frame": {"mi": "0x22"}, "bytes": "00", "inside_preamble": true}]})");
  Expect(Command(0x32, {0x01}), 0x06);
  auto corrupted = pc_->ReadFrame(1000);
  ASSERT_TRUE(corrupted);
  EXPECT_FALSE(corrupted->checksum_ok);
  auto clean = pc_->ReadFrame(1000);  // sent again after the time-out
  ASSERT_TRUE(clean);
  EXPECT_TRUE(clean->checksum_ok);
  EXPECT_EQ(clean->mi, 0x33);

  pc_->Write(Command(0x21, {}));
  const Bytes wire = pc_->Read(12, 1000);
  // ACK, then FF 00 FF FF 03 22 ...: the stray byte sits inside the preamble.
  ASSERT_GE(wire.size(), 5u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), (Bytes{0x06, 0xFF, 0x00, 0xFF, 0xFF}));
  EXPECT_TRUE(Finish()["violations"].empty());
}

TEST_F(LoaderTest, PulledCableAndSilenceAtAPoint) {
  StartLoader(R"("faults": {"close_at": {"loader_command": "0x21"}})");
  pc_->Write(Command(0x21, {}));
  uint8_t buffer[16];
  int n = 0;
  for (int i = 0; i < 20 && n == 0; ++i) n = pc_->RawRead(buffer, sizeof buffer, 50);
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(phone_->WaitForMode(phonesim::Mode::kClosed, 1000));
  for (int i = 0; i < 50 && !phone_->finished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(phone_->finished());
  EXPECT_EQ(Finish()["final_mode"], "closed");

  StartLoader(R"("faults": {"silent_at": {"loader_command": "0xC2"}})");
  auto size = Ask(0x21, {});
  ASSERT_TRUE(size);
  pc_->Write(Command(0xC2, {}));
  EXPECT_TRUE(pc_->ReadQuiet(200).empty());
  pc_->Write(Command(0x21, {}));
  EXPECT_TRUE(pc_->ReadQuiet(100).empty());
  EXPECT_EQ(Finish()["final_mode"], "dead");
}

}  // namespace
}  // namespace phonesim_test
