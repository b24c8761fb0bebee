// The BFB session against a scripted phone on a pty, with a container read
// by the library as the host would hand it over.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/ees.h"
#include "doralex/doralex.h"
#include "doralex/engine/bfb_requests.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "fake_phone.h"
#include "pty_peer.h"
#include "xbi_builder.h"

namespace dlx {
namespace {

using bfbtest::EesBlock;
using bfbtest::FakePhone;
using bfbtest::PhoneScript;
using bfbtest::PtyPeer;
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

Bytes text(const std::string& s, std::size_t width) {
  Bytes out(s.begin(), s.end());
  out.resize(width, 0);
  return out;
}

// A phone in normal mode that answers everything the session asks.
PhoneScript normalPhone() {
  PhoneScript script;
  script.info[0x02] = {0x3C, 0x0F};  // 3900 mV
  script.info[0x03] = {0x52, 0x01};
  script.info[0x07] = text("R12 Phone", 16);
  script.info[0x08] = text("18.11.02", 8);
  return script;
}

Bytes previousRecord() {
  Bytes record(kEesRecordSize, 0xFF);
  for (std::size_t i = 2; i <= 10; ++i) record[i] = static_cast<uint8_t>(0x10 + i);
  record[1] = kEesRecordMarker;
  uint8_t check = 0;
  for (std::size_t i = 0; i < 63; ++i) check ^= record[i];
  record[63] = check;
  return record;
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

  static bool portIsFree() {
    WHandle handle = WComOpen(0, 57600);
    if (handle == kInvalidWHandle) return false;
    WComClose(handle);
    return true;
  }

  Bytes container_;
  PtyPeer peer_;
};

TEST_F(SessionTest, PhoneAnsweringTheFirstPingIsPreparedWithTheNewConcept) {
  readContainer(0);
  InstallInfoCallback(onInfo, 0);
  PhoneScript script = normalPhone();
  script.blocks[kEesRecordBlock] = EesBlock{0xFF, previousRecord()};
  FakePhone phone(peer_, script);
  phone.start();

  uint16_t voltage = 1;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 1);
  phone.stopAndJoin();

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
  EXPECT_EQ(phone.blocks().at(kEesRecordBlock).data, expectedRecord(&previous));
  EXPECT_EQ(phone.rebootSpeed, kUpdateSpeed);
}

TEST_F(SessionTest, PhoneInAtModeAnswersAfterTheSwitch) {
  readContainer(3);
  PhoneScript script = normalPhone();
  script.atMode = true;  // and no record in block 5163 yet
  FakePhone phone(peer_, script);
  phone.start();

  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, 230400), 1);
  phone.stopAndJoin();

  EXPECT_EQ(progressSteps, (std::vector<int>{1, 2, 5, 7}));
  EXPECT_EQ(GetPortMode(0), kPortModeRebooted);
  EXPECT_EQ(phone.blocks().at(kEesRecordBlock).data, expectedRecord(nullptr));
  EXPECT_EQ(phone.rebootSpeed, 230400u);
}

TEST_F(SessionTest, SilentPhoneInUpdateModeOneIsLeftForAManualStart) {
  readContainer(0);
  Bytes line;
  peer_.start([&](PtyPeer& p) {
    while (!p.stopping()) {
      Bytes more = p.read(256, 50);
      line.insert(line.end(), more.begin(), more.end());
    }
  });
  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  peer_.stop();
  peer_.join();

  EXPECT_EQ(progressSteps, (std::vector<int>{1, 2}));
  EXPECT_EQ(GetPortMode(0), kPortModeManualStart);
  EXPECT_EQ(GetErrorNumber(0), 102);
  EXPECT_STREQ(GetPortErrorRecord(0)->module, "wbfbstat");
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x503u);
  // No switch-on: the wake-up byte 0x55 never went out.
  EXPECT_EQ(std::count(line.begin(), line.end(), 0x55), 0);
  EXPECT_NE(std::search(line.begin(), line.end(), std::begin("at^sqwe=1\r"),
                        std::end("at^sqwe=1\r") - 1),
            line.end());
  EXPECT_TRUE(portIsFree());
}

TEST_F(SessionTest, RefusalsBeforeThePortIsOpened) {
  readContainer(5);  // "Code and Lang"
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
}

TEST_F(SessionTest, EarlyCheckRefusalEndsTheSessionWithoutAnError) {
  readContainer(0);
  InstallInfoCallback(onInfo, 0);
  infoResult = 0;
  FakePhone phone(peer_, normalPhone());
  phone.start();

  uint16_t voltage = 0;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  phone.stopAndJoin();

  EXPECT_EQ(infoCalls, 1);
  EXPECT_EQ(voltage, 3900);
  EXPECT_EQ(progressSteps, (std::vector<int>{1, 5, 6}));
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_EQ(GetPortMode(0), kPortModeBfbRunning);
  EXPECT_TRUE(phone.eesRequests.empty());
  EXPECT_FALSE(phone.rebootSpeed);
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
    PtyPeer peer;
    PhoneScript script = normalPhone();
    Bytes answer{static_cast<uint8_t>(c.putCount), static_cast<uint8_t>(c.putCount >> 8), 0, 0};
    Bytes name = text(c.directory, 16);
    answer.insert(answer.end(), name.begin(), name.end());
    script.info[0x21] = answer;
    FakePhone phone(peer, script);
    phone.start();

    uint16_t voltage = 0;
    EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 1);
    phone.stopAndJoin();

    EXPECT_EQ(GetPortMode(0), kPortModeRebooted);
    EXPECT_EQ(GetFallbackFlag(0), !c.newConcept);
    EXPECT_EQ(phone.rebootSpeed.has_value(), c.newConcept);
    EXPECT_EQ(phone.blocks().count(kEesRecordBlock), c.newConcept ? 1u : 0u);
    EXPECT_EQ(phone.switchedOff, !c.newConcept);
    EXPECT_EQ(progressSteps, (std::vector<int>{1, 5, 7}));
  }
}

TEST_F(SessionTest, PhoneThatVanishesMidSessionFailsTheNewConceptStepQuickly) {
  readContainer(0);
  PhoneScript script = normalPhone();
  script.vanishOnInfo = 0x02;  // the cable is pulled as the voltage is asked for
  FakePhone phone(peer_, script);
  phone.start();

  auto started = std::chrono::steady_clock::now();
  uint16_t voltage = 1;
  EXPECT_EQ(BfbPrepareUpdate(0, 0, &voltage, kUpdateSpeed), 0);
  auto took = std::chrono::steady_clock::now() - started;
  phone.stopAndJoin();

  EXPECT_EQ(voltage, 0);
  EXPECT_EQ(GetErrorNumber(0), 104);
  EXPECT_EQ(GetLatestLibraryError(0).code, 0x505u);
  EXPECT_EQ(GetPortMode(0), kPortModeBfbRunning);
  // 1500 ms of settling; waiting out the time-outs of the requests and
  // EEPROM exchanges on a dead line would take well above 6 s.
  EXPECT_LT(took, std::chrono::milliseconds(4000));
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

TEST_F(SessionTest, TestOfTheNewSoftwareFindsThePhoneAfterTheSwitch) {
  readContainer(0);
  PhoneScript script;
  script.atMode = true;
  FakePhone phone(peer_, script);
  phone.start();

  EXPECT_EQ(BfbTestNewSoftware(0, 0), 1);
  phone.stopAndJoin();
  EXPECT_EQ(testSteps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(phone.switchedOff);
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_TRUE(portIsFree());
}

}  // namespace
}  // namespace dlx
