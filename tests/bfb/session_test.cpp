// The BFB session against the simulated phone on a pty, with a container
// read by the library as the host would hand it over.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/ees.h"
#include "doralex/doralex.h"
#include "doralex/engine/bfb_requests.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "phonesim/simulator.h"
#include "support/pty_peer.h"
#include "xbi_builder.h"

namespace dlx {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

constexpr uint32_t kUpdateSpeed = 115200;

// What the callbacks saw (they run on the calling thread).
std::vector<int> progressSteps;
std::vector<int> testSteps;
ProductInfo phoneSeen{};
ProductInfo fileSeen{};
int infoCalls = 0;
int infoResult = 1;

void onProgress(uint16_t, int total, int step) {
  EXPECT_EQ(total, 7);
  progressSteps.push_back(step);
}
void onTestProgress(uint16_t, int total, int step) {
  EXPECT_EQ(total, 5);
  testSteps.push_back(step);
}
int onInfo(uint16_t, const ProductInfo* phone, const ProductInfo* file) {
  ++infoCalls;
  phoneSeen = *phone;
  fileSeen = *file;
  return infoResult;
}

std::string hex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The record a phone holds from an earlier update (the simulator's default).
Bytes previousRecord() {
  Bytes record(kEesRecordSize, 0xFF);
  const uint8_t head[] = {0xFF, 0xA7, 10, 20, 30, 2, 3, 15, 0x50, 0x00, 0x01, 2, 30};
  std::copy(std::begin(head), std::end(head), record.begin());
  uint8_t check = 0;
  for (std::size_t i = 0; i < 63; ++i) check ^= record[i];
  record[63] = check;
  return record;
}

// Exchanges of the phone's report whose "what" starts with `prefix`.
std::vector<json> exchanges(const json& report, const std::string& prefix) {
  std::vector<json> found;
  for (const json& e : report.at("exchanges")) {
    if (e.at("what").get<std::string>().rfind(prefix, 0) == 0) found.push_back(e);
  }
  return found;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    progressSteps.clear();
    testSteps.clear();
    infoCalls = 0;
    infoResult = 1;
    ASSERT_EQ(InitLibrary(1, 29), 1);
    InstallBfbCallbacks(onProgress, onTestProgress);
  }
  void TearDown() override { ReleaseXbiContainer(); }

  // Reads a container of `fileType` in update mode 1, then switches to `mode`.
  void readContainer(int fileType, int mode = 1) {
    json records = json::array({
        {{"type", 16}, {"value", 100}},
        {{"type", 17}, {"value", 230}},
        {{"type", 18}, {"date", "18.11.02"}, {"time", "10:20:30"}},
        {{"type", 19}, {"date", "05.06.03"}, {"time", "07:08:09"}},
        {{"type", 23}, {"text", "PROJ12"}},
        {{"type", 27}, {"value", 0x1234ABCD}},
        {{"type", 29}, {"value", 0x0152}},
        {{"type", 40}, {"text", "R12 Phone"}},
        {{"type", 52}, {"value", 3}},
        {{"type", 64}, {"value", fileType}},
    });
    json description = {{"header", {{"records", records}}},
                        {"heap", {{"image", {{"hex", "00112233445566778899"}}}}}};
    container_ = xbitool::BuildContainer(description).bytes;
    SetUpdateMode(1);
    ProductInfo info{};
    ASSERT_EQ(ReadXbiContainer(&info, container_.data(), static_cast<uint32_t>(container_.size())),
              1);
    SetUpdateMode(mode);
  }

  // The record the session must leave for a container read by readContainer.
  static Bytes expectedRecord(const Bytes* previous) {
    Bytes record(kEesRecordSize, 0xFF);
    const uint8_t fromContainer[] = {7, 8, 9, 3, 6, 5, 0x52, 0xAB, 0xCD, 2, 30};
    std::copy(std::begin(fromContainer), std::end(fromContainer), record.begin() + 2);
    if (previous) std::copy(previous->begin() + 2, previous->begin() + 11, record.begin() + 13);
    record[1] = kEesRecordMarker;
    uint8_t check = 0;
    for (std::size_t i = 0; i < 63; ++i) check ^= record[i];
    record[63] = check;
    return record;
  }

  // Starts the simulated phone and maps COM1 to it.
  void startPhone(const json& scenario) {
    table_.reset();  // before the next one sets the environment
    phone_.reset();
    std::string error;
    phone_ = phonesim::Simulator::OnPty(scenario.dump(), &error);
    ASSERT_TRUE(phone_) << error;
    table_ = std::make_unique<testsupport::SerialTableFile>(
        std::vector<std::pair<int, std::string>>{{0, phone_->slave_path()}});
  }
  json stopPhone() {
    phone_->Stop();
    json report = phone_->Report();
    EXPECT_TRUE(report.at("violations").empty()) << report.at("violations").dump(1);
    return report;
  }

  static bool portIsFree() {
    WHandle handle = WComOpen(0, 57600);
    if (handle == kInvalidWHandle) return false;
    WComClose(handle);
    return true;
  }

  Bytes container_;
  std::unique_ptr<phonesim::Simulator> phone_;
  std::unique_ptr<testsupport::SerialTableFile> table_;
};

TEST_F(SessionTest, PhoneAnsweringTheFirstPingIsPreparedWithTheNewConcept) {
  readContainer(0);
  InstallInfoCallback(onInfo, 0);
  startPhone({{"initial_mode", "bfb"}, {"voltage_mv", 3900}, {"product_type", "R12 Phone"},
              {"compile_date", "18.11.02"}, {"eeprom", {{"record", "valid"}}}});

  uint16_t voltage = 1;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 1);
  json report = stopPhone();

  EXPECT_EQ(voltage, 3900);
  EXPECT_EQ(progressSteps, (std::vector<int>{1, 5, 6, 7}));
  EXPECT_EQ(GetPortMode(0), kPortModeRebooted);
  EXPECT_FALSE(GetFallbackFlag(0));
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_TRUE(portIsFree());

  ASSERT_EQ(infoCalls, 1);
  EXPECT_STREQ(phoneSeen.version, "SVN: 52");
  EXPECT_EQ(std::string(phoneSeen.productType, 9), "R12 Phone");
  EXPECT_STREQ(phoneSeen.compileDate, "18.11.02");
  EXPECT_STREQ(phoneSeen.projectName, "");
  EXPECT_STREQ(fileSeen.projectName, "PROJ12");
  EXPECT_STREQ(fileSeen.version, "SVN: 152");

  Bytes previous = previousRecord();
  ASSERT_EQ(report.at("eeprom_writes").size(), 1u);
  const json& write = report.at("eeprom_writes")[0];
  EXPECT_EQ(write.at("block"), 5163);
  EXPECT_EQ(write.at("size"), 64);
  EXPECT_EQ(write.at("data"), hex(expectedRecord(&previous)));
  std::vector<json> reboot = exchanges(report, "0x0E 0x20");
  ASSERT_EQ(reboot.size(), 1u);
  EXPECT_EQ(reboot[0].at("params"), "20 00 00 C2 01 00");  // 115200, low byte first
}

TEST_F(SessionTest, PhoneInAtModeAnswersAfterTheSwitch) {
  readContainer(3);
  startPhone({{"initial_mode", "at"}});  // and no record in block 5163 yet

  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, 230400), 1);
  json report = stopPhone();

  EXPECT_EQ(voltage, 4000);
  EXPECT_EQ(progressSteps, (std::vector<int>{1, 2, 5, 7}));
  EXPECT_EQ(GetPortMode(0), kPortModeRebooted);
  ASSERT_EQ(report.at("eeprom_writes").size(), 1u);
  EXPECT_EQ(report.at("eeprom_writes")[0].at("data"), hex(expectedRecord(nullptr)));
  EXPECT_EQ(exchanges(report, "0x0E 0x20").at(0).at("params"), "20 00 00 84 03 00");
}

TEST_F(SessionTest, PhoneThatIsOffIsLeftForAManualStartInUpdateModeOne) {
  readContainer(0);
  startPhone({{"initial_mode", "off"}});

  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  phone_->Stop();
  json report = phone_->Report();

  EXPECT_EQ(progressSteps, (std::vector<int>{1, 2}));
  EXPECT_EQ(GetPortMode(0), kPortModeManualStart);
  EXPECT_EQ(GetErrorNumber(0), 102);
  EXPECT_STREQ(GetPortErrorRecord(0)->module, "wbfbstat");
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x503u);
  // No switch-on: the boot ROM never heard a wake-up.
  EXPECT_TRUE(exchanges(report, "wake-up").empty());
  EXPECT_EQ(report.at("final_mode"), "off");
  EXPECT_TRUE(portIsFree());
}

TEST_F(SessionTest, RefusalsBeforeThePortIsOpened) {
  readContainer(5);  // "Code and Lang"
  startPhone({{"initial_mode", "bfb"}});
  // The test holds the port: had the session tried to open it, it would fail with 101.
  WHandle held = WComOpen(0, 57600);
  ASSERT_NE(held, kInvalidWHandle);

  uint16_t voltage = 7;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  EXPECT_EQ(voltage, 0);
  EXPECT_EQ(GetErrorNumber(0), 105);
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x504u);
  EXPECT_TRUE(progressSteps.empty());

  InstallBfbCallbacks(nullptr, nullptr);
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  EXPECT_EQ(GetErrorNumber(0), 100);
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x500u);
  EXPECT_EQ(BfbTestNewSoftware(0, 0), 0);
  EXPECT_EQ(GetLibraryErrorList(0).count, 3);
  WComClose(held);
  EXPECT_TRUE(stopPhone().at("exchanges").empty());
}

TEST_F(SessionTest, EarlyCheckRefusalEndsTheSessionWithoutAnError) {
  readContainer(0);
  InstallInfoCallback(onInfo, 0);
  infoResult = 0;
  startPhone({{"initial_mode", "bfb"}});

  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  json report = stopPhone();

  EXPECT_EQ(infoCalls, 1);
  EXPECT_EQ(voltage, 4000);
  EXPECT_EQ(progressSteps, (std::vector<int>{1, 5, 6}));
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_EQ(GetPortMode(0), kPortModeBfbRunning);
  EXPECT_TRUE(report.at("eeprom_writes").empty());
  EXPECT_TRUE(exchanges(report, "0x0E 0x20").empty());
  EXPECT_TRUE(portIsFree());
}

TEST_F(SessionTest, PutCountDecidesTheConceptInUpdateModeTwo) {
  struct Case {
    const char* directory;
    uint32_t putCount;
    bool newConcept;
  };
  const Case cases[] = {{"VOR2.Q7_B", 8000, true}, {"lim6", 1480, false}};
  readContainer(0, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory);
    progressSteps.clear();
    startPhone({{"initial_mode", "bfb"}, {"directory", c.directory}, {"put_count", c.putCount}});

    uint16_t voltage = 0;
    EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 1);
    json report = stopPhone();

    EXPECT_EQ(GetPortMode(0), kPortModeRebooted);
    EXPECT_EQ(GetFallbackFlag(0), !c.newConcept);
    EXPECT_EQ(exchanges(report, "0x0E 0x20").size(), c.newConcept ? 1u : 0u);
    EXPECT_EQ(report.at("eeprom_writes").size(), c.newConcept ? 1u : 0u);
    EXPECT_EQ(exchanges(report, "0x0E 0x04").size(), c.newConcept ? 0u : 1u);
    bool rebooting = false;
    bool off = false;
    for (const json& change : report.at("mode_changes")) {
      rebooting = rebooting || change.at("to") == "rebooting";
      off = off || change.at("to") == "off";
    }
    EXPECT_EQ(rebooting, c.newConcept);
    EXPECT_EQ(off, !c.newConcept);
    EXPECT_EQ(progressSteps, (std::vector<int>{1, 5, 7}));
  }
}

TEST_F(SessionTest, PhoneThatVanishesMidSessionFailsTheNewConceptStepQuickly) {
  readContainer(0);
  // The cable is pulled as the voltage is asked for.
  startPhone({{"initial_mode", "bfb"}, {"faults", {{"close_at", {{"bfb", 0x0E}, {"sub", 0x02}}}}}});

  auto started = std::chrono::steady_clock::now();
  uint16_t voltage = 1;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  auto took = std::chrono::steady_clock::now() - started;
  phone_->Stop();

  EXPECT_EQ(voltage, 0);
  EXPECT_EQ(GetErrorNumber(0), 104);
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x505u);
  EXPECT_EQ(GetPortMode(0), kPortModeBfbRunning);
  // 1500 ms of settling; waiting out the time-outs of the requests and
  // EEPROM exchanges on a dead line would take well above 6 s.
  EXPECT_LT(took, std::chrono::milliseconds(4000));
}

TEST_F(SessionTest, TestOfTheNewSoftwareFindsThePhoneAfterTheSwitch) {
  readContainer(0);
  startPhone({{"initial_mode", "at"}});

  EXPECT_EQ(BfbTestNewSoftware(0, 0), 1);
  json report = stopPhone();
  EXPECT_EQ(testSteps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(report.at("final_mode"), "off");
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_TRUE(portIsFree());
}

TEST(PutCountTable, PrefixAfterLowerCasingAndCountAboveThreshold) {
  struct Case {
    const char* directory;
    uint32_t count;
    int result;
  } cases[] = {
      {"VOR2.Q7abc", 8000, 1},      // first row after lower-casing
      {"vor2.q7", 7922, 0},         // not above 7922, and not above vor2's 8465
      {"vor2x", 8466, 1},
      {"lim6", 1480, 0},
      {"LIM6", 1481, 1},
      {"wexa9", 2, 1},
      {"wexa9", 1, 0},
      {"som", 99999, 0},            // no row is a prefix of it
      {"", 99999, 0},
      {"pat4hx.q7", 0xFFFFFFFF, 1},  // compared unsigned
      {"abcdefghijklmnop", 99999, 0},
  };
  for (const Case& c : cases) {
    PutCount putCount;
    putCount.count = c.count;
    std::strncpy(putCount.directory, c.directory, 16);
    EXPECT_EQ(PutCountAllowsNewConcept(putCount), c.result) << c.directory << " " << c.count;
  }
}

}  // namespace
}  // namespace dlx
