// Whole updates against the simulated phone: the successful finishes of every
// file type, and the callbacks the host sees on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "session_support.h"

namespace enginetest {
namespace {

bool Contains(const std::vector<int>& mis, int mi) { return std::find(mis.begin(), mis.end(), mi) != mis.end(); }

void ExpectSuccess(const SessionResult& r) {
  ASSERT_TRUE(r.ended) << "no callback within the time-out";
  EXPECT_EQ(r.host.successCalls, 1);
  EXPECT_EQ(r.host.errorCalls, 0);
  EXPECT_TRUE(r.errors.empty()) << "first error 0x" << std::hex << (r.errors.empty() ? 0 : r.errors[0]);
  EXPECT_EQ(r.report["violations"].size(), 0u) << r.report["violations"].dump();
  EXPECT_TRUE(FlashHoldsImage(r));
}

struct FinishCase {
  const char* name;
  uint32_t fileType;
  bool phoneErases;  // the new-concept erase answer: erased (1) or not by the phone (0xAA)
  std::vector<int> commands;  // every loader command the phone receives, in order
};

void PrintTo(const FinishCase& c, std::ostream* os) { *os << c.name; }

class SuccessfulUpdate : public ::testing::TestWithParam<FinishCase> {};

TEST_P(SuccessfulUpdate, FinishesByFileTypeAndLeavesTheImageInFlash) {
  const FinishCase& c = GetParam();
  phonesim::Scenario phone = LoaderPhone();
  phone.new_concept_erase = c.phoneErases;
  phone.split_id = 0x11223344;

  ContainerSpec spec;
  spec.fileType = c.fileType;
  // A command frame at the head of the heap data: needless once the phone erased itself.
  spec.commandFrames = {{0xD2, 0x77}};
  spec.mapInfo = {0xA1, 0xA2, 0xA3};
  if (c.fileType == 4 || c.fileType == 5 || c.fileType == 7) {
    spec.splitAddress = 0x00F00000;
    spec.splitId = 0x11223344;
    spec.languageGroup = {1, 2, 3, 4};
  }
  if (c.fileType == 6) spec.madeFrom = {{"15.03.02", "12:00:00"}};
  if (c.fileType == 7) {
    spec.projectName = "kq88w";
    spec.splits = {{0x23456, 0x24000, 0x5, "lang"}};
  }

  const SessionResult r = RunSession(phone, spec);
  ExpectSuccess(r);
  const std::vector<int> mis = LoaderCommands(r.report);
  EXPECT_EQ(mis, c.commands);
  EXPECT_EQ(r.report.value("additional_info", ""), "A1 A2 A3");
  EXPECT_EQ(LoaderExchange(r.report, 0x32)["params"], "01");
  EXPECT_EQ(LoaderExchange(r.report, 0xD0)["params"], "C8");
  EXPECT_EQ(LoaderExchange(r.report, 0xA0)["params"], "02 01");

  // The heap's own command frame reaches the phone only when it did not erase.
  const nlohmann::json heapFrame = LoaderExchange(r.report, 0xD2);
  int heapFrames = 0;
  for (const auto& e : r.report["exchanges"]) {
    if (e["kind"] == "loader" && e["what"] == "0xD2 byte time-out" && e["params"] == "77") ++heapFrames;
  }
  const bool erased = c.fileType != 4;
  EXPECT_EQ(heapFrames, erased && c.phoneErases ? 0 : 1);
  EXPECT_EQ(Contains(mis, 0x59), erased);

  switch (c.fileType) {
    case 4:
    case 5:
      EXPECT_EQ(mis.back(), 0xCE);
      EXPECT_EQ(LoaderExchange(r.report, 0xCE)["params"],
                "01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00");
      // Split information for split_address - sw_size + 0x1000000, and that plus 4.
      EXPECT_EQ(LoaderExchange(r.report, 0xC8)["params"], "00 00 E0 01 04 00 E0 01");
      break;
    case 7:
      EXPECT_EQ(mis.back(), 0xF0);
      // The split range widened to its whole 64 KiB block, enabled block by block.
      EXPECT_EQ(LoaderExchange(r.report, 0x53)["params"], "00 02 00 00 00 02 FF FF");
      EXPECT_EQ(LoaderExchange(r.report, 0x57)["params"], "02 00");
      EXPECT_FALSE(Contains(mis, 0x58));
      EXPECT_EQ(LoaderExchange(r.report, 0xB8)["params"], "56 34 02 00 00 40 02 00 05 00 00 00");
      break;
    default:
      EXPECT_EQ(mis.back(), 0x04);
      EXPECT_FALSE(Contains(mis, 0xC8));
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Finishes, SuccessfulUpdate,
    ::testing::Values(
        FinishCase{"MobSw", 0, true, {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0x59, 0xA0, 0x04}},
        FinishCase{"MobSwNotErasedByPhone", 0, false,
                   {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0x59, 0xA0, 0xD2, 0x04}},
        FinishCase{"CodeOnly", 3, true, {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0x59, 0xA0, 0x04}},
        FinishCase{"LangOnly", 4, true,
                   {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0xC8, 0x58, 0xA0, 0xD2, 0xCE}},
        FinishCase{"CodeAndLang", 5, true,
                   {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0xC8, 0x58, 0x59, 0xA0, 0xCE}},
        FinishCase{"DiffFile", 6, true, {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0x59, 0xA0, 0x04}},
        FinishCase{"ExtendedNewSplit", 7, true,
                   {0x94, 0x95, 0x96, 0x32, 0x21, 0xC2, 0xD0, 0xD2, 0xC8, 0x53, 0x57, 0x59, 0xA0, 0xB8, 0xF0}}),
    [](const ::testing::TestParamInfo<FinishCase>& p) { return std::string(p.param.name); });

TEST(UpdateCallbacks, ComeInOrderWithTheirValuesAndOneEnding) {
  phonesim::Scenario phone = LoaderPhone();
  phone.flash_code = 0x8988;
  phone.product_type = "R11";  // a product problem the host accepts
  ContainerSpec spec;
  spec.imageLength = 64 * 100;  // more than 4 KiB, so progress comes on the way
  const SessionResult r = RunSession(phone, spec, Answering({1}));
  ASSERT_TRUE(r.ended);
  const std::vector<std::string> expected = {
      "flashcode 0 8988 ''", "problem 1",  "erase 1/4", "erase 2/4", "erase 3/4", "erase 4/4",
      "transfer " + std::to_string(r.container.heapLength - r.container.commandFramesLength), "success 0"};
  EXPECT_EQ(r.host.events, expected);
  ASSERT_EQ(r.host.problemTypes, std::vector<int>{1});
  EXPECT_EQ(std::string(r.host.problemPhones[0].productType, 3), "R11");
  EXPECT_EQ(std::string(r.host.problemFiles[0].productType, 3), "R10");
  EXPECT_STREQ(r.host.problemPhones[0].version, "SVN: 52");
  ASSERT_GE(r.host.transferProgress.size(), 2u);
  EXPECT_TRUE(std::is_sorted(r.host.transferProgress.begin(), r.host.transferProgress.end()));
  EXPECT_EQ(r.host.transferProgress.back(), r.container.heapLength - r.container.commandFramesLength);
  EXPECT_TRUE(FlashHoldsImage(r));
}

TEST(Compression, InformationGoesOutBeforeTheTransfer) {
  ContainerSpec spec;
  spec.compressionMode = 3;
  spec.compression = {0x1234, 0xBEEF, 0x05, 0x06, 0x0708, 0x090A, 0x0B0C};
  const SessionResult r = RunSession(LoaderPhone(), spec);
  ExpectSuccess(r);
  // p1, p3, p4, p5, p6, p7 (p2 is not sent), little-endian.
  EXPECT_EQ(LoaderExchange(r.report, 0x80)["params"], "34 12 05 06 08 07 0A 09 0C 0B");
}

TEST(UpdateStart, ManualStartOpensAt115200AndUpdates) {
  phonesim::Scenario phone = LoaderPhone();
  phone.initial_mode = phonesim::Mode::kSilent;  // the owner switches the phone on by hand
  const SessionResult r = RunSession(phone, ContainerSpec{}, InPortMode(3));
  ExpectSuccess(r);
}

}  // namespace
}  // namespace enginetest
