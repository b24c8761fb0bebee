// Updates the engine refuses or gives up, against the simulated phone: every
// one ends with the rule's error as the latest entry on channel 0, exactly one
// error callback, the port closed, and the switch-off command only where the
// phone's loader had answered before.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "doralex/doralex.h"
#include "doralex/frame/library_state.h"
#include "doralex/serial/wseril1.h"
#include "platform/serial_device.h"
#include "platform/serial_device_table.h"
#include "session_support.h"

namespace enginetest {
namespace {

bool Contains(const std::vector<int>& mis, int mi) { return std::find(mis.begin(), mis.end(), mi) != mis.end(); }

// One error callback, the latest error `code`, the port closed; `switchedOff`
// says whether the phone got the switch-off command.
void ExpectRefused(const SessionResult& r, uint32_t code, bool switchedOff) {
  ASSERT_TRUE(r.ended) << "no callback within the time-out";
  EXPECT_EQ(r.host.errorCalls, 1);
  EXPECT_EQ(r.host.successCalls, 0);
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.back(), code) << "latest error 0x" << std::hex << r.errors.back();
  const std::vector<int> mis = LoaderCommands(r.report);
  EXPECT_EQ(Contains(mis, 0xF0), switchedOff);
  if (switchedOff) {
    EXPECT_EQ(mis.back(), 0xF0);
  }
  EXPECT_EQ(r.report["blocks"].size(), 0u) << "no software may be written after a refusal";
  // The thread left the port closed: closing it again finds nothing open.
  EXPECT_EQ(dlx::ComClose(0), 0);
}

struct RuleCase {
  const char* name;
  std::string phoneProduct;
  uint8_t phoneSvn;
  std::string phoneDate;
  int problemType;
  uint32_t code;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class ConsistencyRule : public ::testing::TestWithParam<std::tuple<RuleCase, int>> {};

TEST_P(ConsistencyRule, HostDecidesWhetherTheUpdateGoesOn) {
  const auto& [c, answer] = GetParam();
  phonesim::Scenario phone = LoaderPhone();
  phone.product_type = c.phoneProduct;
  phone.svn = c.phoneSvn;
  phone.compile_date = c.phoneDate;
  const SessionResult r = RunSession(phone, ContainerSpec{}, Answering({answer}));
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.problemTypes, std::vector<int>{c.problemType});
  // Before the question the phone's block time-out goes out: 2000 as its low byte for the product.
  const nlohmann::json timeout = LoaderExchange(r.report, 0xD0);
  ASSERT_FALSE(timeout.is_null());
  EXPECT_EQ(timeout["params"], c.problemType == 1 ? "D0" : "C8");
  if (answer == 0) {
    ExpectRefused(r, c.code, true);
  } else {
    EXPECT_EQ(r.host.successCalls, 1);
    EXPECT_EQ(r.host.errorCalls, 0);
    EXPECT_TRUE(FlashHoldsImage(r));
  }
}

// The container: product R10, SVN 0x52, compiled 15.03.02.
INSTANTIATE_TEST_SUITE_P(
    Rules, ConsistencyRule,
    ::testing::Combine(::testing::Values(RuleCase{"Product", "R10X", 0x52, "15.03.02", 1, 0x60A},
                                         RuleCase{"Version", "R10", 0x53, "15.03.02", 2, 0x60C},
                                         RuleCase{"Date", "R10", 0x52, "16.03.02", 4, 0x60B},
                                         RuleCase{"DateAndVersion", "R10", 0x53, "01.01.03", 6, 0x60B}),
                       ::testing::Values(0, 1)),
    [](const auto& p) {
      return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "Accepted" : "Refused");
    });

struct DiffCase {
  const char* name;
  std::string phoneDate;
  std::string phoneTime;
  uint32_t code;
  int32_t number;
  const char* text;
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }

class DifferenceUpdate : public ::testing::TestWithParam<DiffCase> {};

TEST_P(DifferenceUpdate, MustFitTheSoftwareInThePhoneExactly) {
  const DiffCase& c = GetParam();
  phonesim::Scenario phone = LoaderPhone();
  phone.compile_date = c.phoneDate;
  phone.compile_time = c.phoneTime;
  ContainerSpec spec;
  spec.fileType = 6;
  spec.madeFrom = {{"15.03.02", "12:00:00"}};
  const SessionResult r = RunSession(phone, spec, Answering({1, 1, 1}));
  ExpectRefused(r, c.code, true);
  EXPECT_TRUE(r.host.problemTypes.empty()) << "the user cannot override this rule";
  EXPECT_EQ(r.portErrorNumber, c.number);
  EXPECT_EQ(r.additionalText, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DifferenceUpdate,
    ::testing::Values(DiffCase{"NoDate", std::string(8, '\xFF'), "12:00:00", 0x600, 500,
                               "No Date/Time-Info available, impossible to DIFF-Swup"},
                      DiffCase{"OtherDate", "14.03.02", "12:00:00", 0x601, 501,
                               "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Mobile"},
                      DiffCase{"OtherTime", "15.03.02", "12:00:01", 0x601, 501,
                               "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Moibile"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SplitIdRule, WrongSplitIdRefusesTheLanguageUpdate) {
  phonesim::Scenario phone = LoaderPhone();
  phone.split_id = 0x11223345;
  ContainerSpec spec;
  spec.fileType = 4;
  spec.splitAddress = 0x00F00000;
  spec.splitId = 0x11223344;
  const SessionResult r = RunSession(phone, spec);
  ExpectRefused(r, 0x60E, true);
  EXPECT_EQ(r.portErrorNumber, 63);
}

class FlashSizeRule : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FlashSizeRule, SixteenMbitTakeTwoMebibytesAndNoByteMore) {
  phonesim::Scenario phone = LoaderPhone();
  phone.flash_size_mbit = 16;
  ContainerSpec spec;
  spec.swSize = GetParam();
  const SessionResult r = RunSession(phone, spec);
  if (spec.swSize <= 2097152) {
    EXPECT_EQ(r.host.successCalls, 1);
    EXPECT_TRUE(FlashHoldsImage(r));
    return;
  }
  ExpectRefused(r, 0x608, true);
  EXPECT_EQ(r.portErrorNumber, 55);
  EXPECT_EQ(r.entries.back().intParams[0], 2097153);
  EXPECT_EQ(r.entries.back().intParams[1], 2097152);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FlashSizeRule, ::testing::Values(2097152u, 2097153u));

TEST(FlashCode, UnknownFlashShowsItsBytesHighFirst) {
  phonesim::Scenario phone = LoaderPhone();
  phone.flash_code_status = 2;
  phone.flash_code = 0x8889;  // answer bytes 1, 2: 0x89, 0x88
  const SessionResult r = RunSession(phone, ContainerSpec{});
  ExpectRefused(r, 0x606, true);
  EXPECT_EQ(r.portErrorNumber, 59);
  EXPECT_EQ(r.entries.back().intParams[0], 0x88);
  EXPECT_EQ(r.entries.back().intParams[1], 0x89);
  EXPECT_EQ(r.additionalText, "Unknown Flashcode 8889");
  EXPECT_EQ(std::count(r.host.events.begin(), r.host.events.end(), "flashcode 0 8889 ''"), 0);
}

TEST(Connection, PortHeldByAnotherProgramEndsWithoutSwitchOff) {
  std::unique_ptr<platform::SerialDevice> holder;
  SessionOptions options;
  options.beforeStart = [&] {
    platform::OpenError error;
    holder = platform::SerialDevice::open(*platform::SerialDevicePath(0), &error);
    ASSERT_TRUE(holder);
  };
  const SessionResult r = RunSession(LoaderPhone(), ContainerSpec{}, options);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.errorCalls, 1);
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.back(), 0x604u);
  EXPECT_STREQ(r.entries.back().descriptor, "dd");
  EXPECT_EQ(r.entries.back().intParams[0], 1);
  EXPECT_EQ(r.entries.back().intParams[1], 115200);
  EXPECT_EQ(r.portErrorNumber, 1);
  EXPECT_EQ(r.additionalText, "Opening Comport 1 with Speed 115200 Baud not possible");
  EXPECT_TRUE(LoaderCommands(r.report).empty());
}

TEST(Connection, LoaderThatNeverCallsEndsAfterThirtySeconds) {
  phonesim::Scenario phone = LoaderPhone();
  phone.initial_mode = phonesim::Mode::kOff;
  const SessionResult r = RunSession(phone, ContainerSpec{}, WaitingMs(40000));
  ExpectRefused(r, 0x61B, false);
  ASSERT_GE(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[r.errors.size() - 2], 0x202u);
  EXPECT_GE(r.elapsedMs, 29000);
}

TEST(Connection, BootCoreLoaderPathIsRefused) {
  SessionOptions options;
  options.beforeStart = [] {
    dlx::SetUpdateMode(2);
    dlx::SetFallbackFlag(0, true);
  };
  const SessionResult r = RunSession(LoaderPhone(), ContainerSpec{}, options);
  ExpectRefused(r, 0x616, false);
  EXPECT_EQ(r.entries.back().intParams[0], 1);
  EXPECT_EQ(r.portErrorNumber, 51);
  EXPECT_EQ(r.additionalText, "Cant connect to Mobile with BootstrapLoader on Com 1");
  EXPECT_TRUE(LoaderCommands(r.report).empty());
}

TEST(Connection, ManualOpenerRefusesAPortModeItWasNotMadeFor) {
  const SessionResult r = RunSession(LoaderPhone(), ContainerSpec{}, InPortMode(0));
  ExpectRefused(r, 0x616, false);
  EXPECT_EQ(r.portErrorNumber, 1);
  EXPECT_EQ(r.additionalText, "Cannot init manual update mode, precheck condition failed");
}

TEST(EmptyTransfer, WithoutContainerTheUpdateFailsUntouched) {
  const SessionResult r = RunSession(LoaderPhone(), ContainerSpec{}, WithoutContainer());
  ExpectRefused(r, 0x61A, false);
  EXPECT_EQ(r.errors.size(), 1u);
  EXPECT_TRUE(LoaderCommands(r.report).empty());
}

TEST(Compression, UnsupportedAlgorithmFailsWithoutSwitchOff) {
  phonesim::Scenario phone = LoaderPhone();
  phone.compression_supported = false;
  ContainerSpec spec;
  spec.compressionMode = 3;
  const SessionResult r = RunSession(phone, spec);
  ExpectRefused(r, 0x619, false);
  EXPECT_EQ(r.portErrorNumber, 61);
}

TEST(BgjInvalidation, ProjectTypeFiveMarksTheOldSoftwareBeforeErasing) {
  ContainerSpec spec;
  spec.projectType = 5;
  spec.bgjAddress = 0x40000;
  const SessionResult r = RunSession(LoaderPhone(), spec);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.successCalls, 1);
  ASSERT_FALSE(r.report["blocks"].empty());
  // Block 04 01 FC 01 00 F8: one zero byte at 0x401FC, after the whole-flash enable, before the erase.
  EXPECT_EQ(r.report["blocks"][0]["address"], 0x401FC);
  EXPECT_EQ(r.report["blocks"][0]["length"], 1);
  const std::vector<int> mis = LoaderCommands(r.report);
  const auto enable = std::find(mis.begin(), mis.end(), 0x58);
  const auto erase = std::find(mis.begin(), mis.end(), 0x59);
  EXPECT_TRUE(enable < erase && erase != mis.end());
  EXPECT_TRUE(FlashHoldsImage(r));  // the erase took the mark away again
}

// --- faults ------------------------------------------------------------------

TEST(PhoneFaults, ErrorFrameDuringEraseAbortsTheUpdate) {
  phonesim::Scenario phone = LoaderPhone();
  phonesim::Scenario::ErrorFrame frame;
  frame.at.loader_command = 0x59;
  frame.data = {0x60, 0x02, 0x07};
  phone.error_frames.push_back(frame);
  const SessionResult r = RunSession(phone, ContainerSpec{});
  ExpectRefused(r, 0x300, true);
  ASSERT_GE(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[r.errors.size() - 2], 0x405u);
}

TEST(PhoneFaults, SilenceAfterTheFlashCodeRequestAborts) {
  phonesim::Scenario phone = LoaderPhone();
  phonesim::Point silent;
  silent.loader_command = 0x32;
  phone.silent_at = silent;
  const SessionResult r = RunSession(phone, ContainerSpec{}, WaitingMs(30000));
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.errorCalls, 1);
  ASSERT_GE(r.errors.size(), 2u);
  // The wait's 0x202 first; the switch-off to a silent phone fails as well,
  // but the reason the update stopped stays the latest entry.
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), 0x202u), r.errors.end());
  EXPECT_EQ(r.errors.back(), 0x605u);
  EXPECT_EQ(r.portErrorNumber, 53);
  EXPECT_EQ(dlx::ComClose(0), 0);
}

TEST(PhoneFaults, BusyPhoneIsWaitedForWithoutResending) {
  phonesim::Scenario phone = LoaderPhone();
  phone.busy_blocks.push_back({1, 300});
  const SessionResult r = RunSession(phone, ContainerSpec{});
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.successCalls, 1);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.report["violations"].size(), 0u) << r.report["violations"].dump();
  EXPECT_TRUE(FlashHoldsImage(r));
}

TEST(PhoneFaults, NakStormDuringTransferAborts) {
  phonesim::Scenario phone = LoaderPhone();
  phone.nak_blocks.push_back({2, 10});
  const SessionResult r = RunSession(phone, ContainerSpec{});
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.errorCalls, 1);
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.back(), 0x208u);
  EXPECT_EQ(LoaderCommands(r.report).back(), 0xF0);
  EXPECT_EQ(r.report["blocks"].size(), 2u);
  EXPECT_EQ(dlx::ComClose(0), 0);
}

TEST(PhoneFaults, CablePulledMidTransferEndsWithinTheTimeOuts) {
  phonesim::Scenario phone = LoaderPhone();
  phonesim::Point pulled;
  pulled.block = 3;
  phone.close_at = pulled;
  const SessionResult r = RunSession(phone, ContainerSpec{}, WaitingMs(30000));
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.host.errorCalls, 1);
  EXPECT_EQ(r.host.successCalls, 0);
  EXPECT_LT(r.elapsedMs, 30000);
  EXPECT_EQ(dlx::ComClose(0), 0);
}

}  // namespace
}  // namespace enginetest
