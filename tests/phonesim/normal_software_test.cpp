// The phone's normal software (AT commands, BFB, EEPROM blocks), its boot ROM,
// the customer reboot and the manual start, driven from the PC's side.
#include <gtest/gtest.h>

#include <thread>

#include "sim_fixture.h"

namespace phonesim_test {
namespace {

using nlohmann::json;

TEST_F(SimTest, AtIdentificationAnswersErrorUntilSqwe2) {
  Start(R"({"at_error_until_sqwe2": true, "identity": "Quorvex\r\nR12X\r\n", "imei": "490154203237518"})", 57600);
  pc_->Write("AT+CGSN;I9\r\n");
  const std::string first = ToText(pc_->ReadQuiet(100));
  EXPECT_EQ(first, "AT+CGSN;I9\r\nERROR\r\n");

  pc_->Write("AT^SQWE=2\r\n");
  const std::string second = ToText(pc_->ReadQuiet(100));
  EXPECT_EQ(second, "AT^SQWE=2\r\nOK\r\n");
  EXPECT_GE(second.size(), 13u);  // the probe's minimum counts on the echo

  pc_->Write("AT+CGSN;I9\r\n");
  const std::string third = ToText(pc_->ReadQuiet(100));
  ASSERT_EQ(third.rfind("AT+CGSN;I9\r\n", 0), 0u);
  EXPECT_NE(third.find("Quorvex"), std::string::npos);
  EXPECT_NE(third.find("R12X"), std::string::npos);
  // The IMEI starts four characters after the first empty line.
  const size_t empty_line = third.find("\r\n\r\n");
  ASSERT_NE(empty_line, std::string::npos);
  EXPECT_EQ(third.substr(empty_line + 4, 15), "490154203237518");

  const json report = Finish();
  EXPECT_EQ(Count(report["exchanges"], "answer", "ERROR\r\n"), 1);
  EXPECT_TRUE(report["violations"].empty());
}

// Both ways from AT mode into BFB mode; BFB then runs at 57600 whatever
// speed the switch came at.
TEST_F(SimTest, AtModeSwitchesToBfbByEitherCommand) {
  struct Case {
    unsigned speed;
    std::vector<std::string> writes;
    std::string echo_and_ok;
  };
  const Case cases[] = {
      {115200, {"at^sqwe=1\r"}, "at^sqwe=1\rOK\r\n"},
      {19200, {"at^sbf", "b=1\r"}, "at^sbfb=1\rOK\r\n"},
  };
  for (const auto& c : cases) {
    Start("{}", c.speed);
    // A ping in AT mode is neither answered nor echoed.
    pc_->Write(BfbFrame(0x02, {0x14}));
    EXPECT_TRUE(pc_->ReadQuiet(50).empty());
    std::string answer;
    for (const auto& w : c.writes) {
      pc_->Write(w);
      answer += ToText(pc_->ReadQuiet(50));
    }
    EXPECT_EQ(answer, c.echo_and_ok);
    pc_->SetSpeed(57600);
    pc_->Write(BfbFrame(0x02, {0x14}));
    EXPECT_EQ(pc_->Read(5, 1000), (Bytes{0x02, 0x02, 0x00, 0x14, 0xAA}));
    Finish();
  }
}

TEST_F(SimTest, BfbAnswersInformationRequests) {
  Start(R"({"initial_mode": "bfb", "voltage_mv": 3712, "svn": "0x52", "software_version_high": 1,
            "product_type": "R11", "compile_date": "31.12.99", "put_count": 8000, "directory": "VOR2.Q7abc"})",
        57600);
  auto padded = [](const std::string& text, size_t width) {
    Bytes b(text.begin(), text.end());
    b.resize(width, 0);
    return b;
  };
  struct Case {
    Bytes request;
    Bytes answer;  // data of the type-0x0E answer
  };
  Bytes product = {0x07};
  for (uint8_t b : padded("R11", 16)) product.push_back(b);
  Bytes date = {0x08};
  for (uint8_t b : padded("31.12.99", 8)) date.push_back(b);
  Bytes put = {0x21, 0x40, 0x1F, 0x00, 0x00};
  for (uint8_t b : padded("VOR2.Q7abc", 16)) put.push_back(b);
  const Case cases[] = {
      {{0x02}, {0x02, 0x80, 0x0E}},  // 3712 mV, low byte first
      {{0x03}, {0x03, 0x52, 0x01}},
      {{0x07}, product},
      {{0x08}, date},
      {{0x21}, put},
  };
  for (const auto& c : cases) {
    pc_->Write(BfbFrame(0x0E, c.request));
    const Bytes got = pc_->Read(3 + c.answer.size(), 1000);
    EXPECT_EQ(got, BfbFrame(0x0E, c.answer)) << "request " << int(c.request[0]);
  }
  // A frame with a broken header in front is skipped to the next frame.
  Bytes noisy = {0x7F};
  for (uint8_t b : BfbFrame(0x02, {0x14})) noisy.push_back(b);
  pc_->Write(noisy);
  EXPECT_EQ(pc_->Read(5, 1000), (Bytes{0x02, 0x02, 0x00, 0x14, 0xAA}));

  // Switch-off: answered, then the phone is silent.
  pc_->Write(BfbFrame(0x0E, {0x04}));
  EXPECT_EQ(pc_->Read(4, 1000), BfbFrame(0x0E, {0x04}));
  pc_->Write(BfbFrame(0x02, {0x14}));
  EXPECT_TRUE(pc_->ReadQuiet(100).empty());
  EXPECT_EQ(Finish()["final_mode"], "off");
}

// Writes a 64-byte record into block 5163 the way the update does (open,
// chunks of 20, close) and reads it back (information, chunks of 20).
TEST_F(SimTest, EepromRecordWrittenAndReadBackAfterBusyOpen) {
  Start(R"({"initial_mode": "bfb", "eeprom": {"busy_open_count": 1, "busy_open_delay_ms": 80}})", 57600);
  auto exchange = [&](const Bytes& request, size_t answer_data) {
    pc_->Write(BfbFrame(0x14, EesRequest(request)));
    const Bytes got = pc_->Read(3 + answer_data, 1000);
    return got.size() > 3 ? Bytes(got.begin() + 3, got.end()) : Bytes{};
  };
  Bytes record(64, 0xFF);
  record[1] = 0xA7;
  for (int i = 2; i < 22; ++i) record[i] = static_cast<uint8_t>(i);
  uint8_t x = 0;
  for (int i = 0; i < 63; ++i) x ^= record[i];
  record[63] = x;

  // Block 5163 is 0x142B: low byte first. The first open is answered busy.
  EXPECT_EQ(exchange({0x15, 0x2B, 0x14}, 2), EesRequest({0x30}));  // absent
  const auto before_open = std::chrono::steady_clock::now();
  EXPECT_EQ(exchange({0x11, 0x2B, 0x14, 0x40, 0x00, 0xFF}, 2), EesRequest({0x50}));
  EXPECT_EQ(pc_->Read(5, 1000), BfbFrame(0x14, EesRequest({0x11})));
  EXPECT_GE(std::chrono::steady_clock::now() - before_open, std::chrono::milliseconds(70));
  for (uint16_t offset = 0; offset < 64; offset += 20) {
    Bytes chunk = {0x12, 0x2B, 0x14, static_cast<uint8_t>(offset), 0x00};
    for (uint16_t i = offset; i < std::min<uint16_t>(offset + 20, 64); ++i) chunk.push_back(record[i]);
    EXPECT_EQ(exchange(chunk, 2), EesRequest({0x12}));
  }
  EXPECT_EQ(exchange({0x13, 0x2B, 0x14}, 2), EesRequest({0x13}));

  EXPECT_EQ(exchange({0x15, 0x2B, 0x14}, 5), EesRequest({0x15, 0x40, 0x00, 0xFF}));
  Bytes read_back;
  for (uint16_t offset = 0; offset < 64; offset += 20) {
    const uint8_t count = static_cast<uint8_t>(std::min<uint16_t>(20, 64 - offset));
    const Bytes answer = exchange({0x14, 0x2B, 0x14, static_cast<uint8_t>(offset), 0x00, count, 0x00}, count + 2u);
    ASSERT_EQ(answer.size(), count + 2u);
    EXPECT_EQ(answer[0], 0x14);
    read_back.insert(read_back.end(), answer.begin() + 1, answer.end() - 1);
  }
  EXPECT_EQ(read_back, record);

  // A request whose XOR does not hold is refused with 0x20.
  Bytes bad = EesRequest({0x15, 0x2B, 0x14});
  bad.back() ^= 1;
  pc_->Write(BfbFrame(0x14, bad));
  EXPECT_EQ(pc_->Read(5, 1000), BfbFrame(0x14, EesRequest({0x20})));

  const json report = Finish();
  ASSERT_EQ(report["eeprom_writes"].size(), 1u);
  EXPECT_EQ(report["eeprom_writes"][0]["block"], 5163);
  EXPECT_EQ(report["eeprom_writes"][0]["mode"], "0xFF");
  EXPECT_EQ(report["eeprom_writes"][0]["size"], 64);
}

TEST_F(SimTest, EepromRecordStatesAndInjectedRefusal) {
  struct Case {
    std::string eeprom;
    Bytes info_answer;
  };
  const Case cases[] = {
      {R"({"record": "absent", "absent_code": "0x30"})", {0x30}},
      {R"({"record": "valid"})", {0x15, 0x40, 0x00, 0xFF}},
      {R"({"record": "valid", "refuse": [{"command": "0x15", "code": "0x35"}]})", {0x35}},
  };
  for (const auto& c : cases) {
    Start(R"({"initial_mode": "bfb", "eeprom": )" + c.eeprom + "}", 57600);
    pc_->Write(BfbFrame(0x14, EesRequest({0x15, 0x2B, 0x14})));
    const Bytes expected = BfbFrame(0x14, EesRequest(c.info_answer));
    EXPECT_EQ(pc_->Read(expected.size(), 1000), expected) << c.eeprom;
    Finish();
  }
  // An invalid record is present but its XOR over all 64 bytes is not 0.
  Start(R"({"initial_mode": "bfb", "eeprom": {"record": "invalid"}})", 57600);
  Bytes record;
  for (uint8_t offset = 0; offset < 64; offset += 16) {
    pc_->Write(BfbFrame(0x14, EesRequest({0x14, 0x2B, 0x14, offset, 0x00, 16, 0x00})));
    const Bytes got = pc_->Read(3 + 18, 1000);
    ASSERT_EQ(got.size(), 21u);
    record.insert(record.end(), got.begin() + 4, got.end() - 1);
  }
  uint8_t x = 0;
  for (uint8_t b : record) x ^= b;
  EXPECT_EQ(record[1], 0xA7);
  EXPECT_NE(x, 0);
}

TEST_F(SimTest, CustomerRebootAnnouncesLoaderAtNewSpeedUntilAcknowledged) {
  Start(R"({"initial_mode": "bfb", "timing": {"customer_reboot_ms": 100, "announce_interval_ms": 100}})", 57600);
  // 0x20, 0x00, 115200 = 0x0001C200 low byte first.
  pc_->Write(BfbFrame(0x0E, {0x20, 0x00, 0x00, 0xC2, 0x01, 0x00}));
  EXPECT_EQ(pc_->Read(5, 1000), BfbFrame(0x0E, {0x20, 0x00}));
  // Still at the old speed, the PC hears no frame (only framing errors).
  for (uint8_t b : pc_->ReadQuiet(150, 300)) EXPECT_EQ(b, 0x00);
  pc_->SetSpeed(115200);
  auto first = pc_->ReadFrame(1000, false);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->mi, 0x31);
  EXPECT_TRUE(first->checksum_ok);
  auto again = pc_->ReadFrame(1000, true);  // repeated, now acknowledged
  ASSERT_TRUE(again);
  EXPECT_EQ(again->mi, 0x31);
  EXPECT_TRUE(pc_->ReadQuiet(150).empty());  // no more announcements

  const json report = Finish();
  EXPECT_EQ(report["final_mode"], "loader");
  EXPECT_EQ(Count(report["mode_changes"], "to", "rebooting"), 1);
  EXPECT_EQ(Count(report["exchanges"], "what", "0x31 announce"), 1);
}

// While the PC has the port closed nobody hears the loader: when the port
// opens again there is no backlog of announcements, and what the PC left
// unread at its close is gone too.
TEST_F(SimTest, WhatThePhoneSendsWhileThePortIsClosedIsLost) {
  Start(R"({"initial_mode": "bfb", "timing": {"customer_reboot_ms": 0, "announce_interval_ms": 30}})", 57600);
  pc_->Write(BfbFrame(0x0E, {0x20, 0x00, 0x00, 0xC2, 0x01, 0x00}));
  pc_->Write(BfbFrame(0x02, {0x14}));  // too late: the phone is rebooting
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pc_->Close();  // the reboot answer is left unread
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  PcPort port(phone_->slave_path(), 115200);
  auto frame = port.ReadFrame(1000);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->skipped.empty());
  EXPECT_EQ(frame->mi, 0x31);
  EXPECT_TRUE(port.ReadQuiet(100).empty());
}

TEST_F(SimTest, BytesAtTheWrongSpeedAreIgnored) {
  Start(R"({"initial_mode": "bfb"})", 19200);
  pc_->Write(BfbFrame(0x02, {0x14}));
  EXPECT_TRUE(pc_->ReadQuiet(100).empty());
  pc_->SetSpeed(57600);
  pc_->Write(BfbFrame(0x02, {0x14}));
  EXPECT_EQ(pc_->Read(5, 1000), (Bytes{0x02, 0x02, 0x00, 0x14, 0xAA}));

  const json report = Finish();
  ASSERT_EQ(report["violations"].size(), 1u);
  EXPECT_EQ(report["violations"][0]["kind"], "wrong_speed");
  EXPECT_EQ(Count(report["exchanges"], "what", "0x02 ping"), 1);
}

TEST_F(SimTest, BootRomWakesAPhoneThatIsOff) {
  Start(R"({"initial_mode": "off", "mode_after_boot": "bfb", "timing": {"boot_ms": 20}})", 57600);
  pc_->Write(Bytes{0x55});  // at 57600: the boot ROM does not hear it
  EXPECT_TRUE(pc_->ReadQuiet(60).empty());
  pc_->SetSpeed(19200);
  pc_->Write(Bytes{0x55});
  EXPECT_EQ(pc_->Read(1, 1000), Bytes{0xA0});

  const Bytes boot_block = {
      0xA5, 0x5A, 0xA5, 0xA5, 0xE6, 0x89, 0x46, 0x14, 0xD1, 0x90, 0xFF, 0x9A, 0xFE, 0x9B, 0xE6, 0x0C,
      0x09, 0x00, 0xE6, 0x8A, 0xBF, 0x04, 0xD1, 0x90, 0xE6, 0x0A, 0xF0, 0x0E, 0xE6, 0x8A, 0xAF, 0x04,
      0xB5, 0x4A, 0xB5, 0xB5, 0xE6, 0x00, 0x40, 0x00, 0xE7, 0xF0, 0x00, 0x00, 0xF7, 0xF0, 0x00, 0x02,
      0xE7, 0xF0, 0x02, 0x00, 0xF7, 0xF0, 0x01, 0x02, 0xE6, 0x03, 0x03, 0x00, 0xE7, 0xF0, 0x00, 0x00,
      0xF7, 0xF0, 0x00, 0xF6, 0xE7, 0xF0, 0x02, 0x00, 0xF7, 0xF0, 0x01, 0xF6, 0xE7, 0xF0, 0x80, 0x00,
      0xF7, 0xF0, 0x02, 0xF6, 0xE7, 0xF0, 0x01, 0x00, 0xF7, 0xF0, 0x03, 0xF6, 0xE6, 0xF0, 0x80, 0x00,
      0x74, 0xF0, 0xE0, 0xEF, 0xB7, 0x48, 0xB7, 0xB7};
  ASSERT_EQ(boot_block.size(), 104u);
  uint8_t x = 0;
  for (uint8_t b : boot_block) x ^= b;
  EXPECT_EQ(x, 0xFE);  // the sum check of the block with its parameters patched
  Bytes wire = {0x68};
  wire.insert(wire.end(), boot_block.begin(), boot_block.end());
  wire.push_back(x);
  pc_->Write(wire);
  EXPECT_EQ(pc_->Read(1, 1000), Bytes{0xA5});

  pc_->SetSpeed(57600);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  pc_->Write(BfbFrame(0x02, {0x14}));
  EXPECT_EQ(pc_->Read(5, 1000), (Bytes{0x02, 0x02, 0x00, 0x14, 0xAA}));
  EXPECT_TRUE(Finish()["violations"].empty());
}

// A silent phone calls only when the PC has held the port open at 115200
// for the owner's press delay; a short test-open does not count.
TEST_F(SimTest, ManualStartWaitsForThePortHeldOpenAt115200) {
  Start(R"({"initial_mode": "silent", "timing": {"manual_press_delay_ms": 150, "announce_interval_ms": 50}})",
        57600);
  pc_->Write("AT+CGSN;I9\r\n");
  pc_->Write(BfbFrame(0x02, {0x14}));
  EXPECT_TRUE(pc_->ReadQuiet(100).empty());
  pc_->Close();
  {
    PcPort test_open(phone_->slave_path(), 115200);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(phone_->mode(), phonesim::Mode::kSilent);

  PcPort port(phone_->slave_path(), 115200);
  const auto opened = std::chrono::steady_clock::now();
  auto frame = port.ReadFrame(2000);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->mi, 0x31);
  EXPECT_GE(std::chrono::steady_clock::now() - opened, std::chrono::milliseconds(140));
  port.Close();
  phone_->Stop();
  EXPECT_EQ(Count(phone_->Report()["mode_changes"], "reason", "owner pressed ON, loader at 115200 baud"), 1);
}

}  // namespace
}  // namespace phonesim_test
