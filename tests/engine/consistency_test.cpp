// The consistency rules decided without a port: the hooks record what would go
// to the phone and answer for the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "doralex/engine/consistency.h"
#include "doralex/frame/errors.h"

namespace dlx {
namespace {

constexpr int kPort = 2;
constexpr uint16_t kChannel = 0;

// Copies a text into a fixed-width field, zero-terminated when it fits.
template <size_t N>
void Put(char (&field)[N], const char* text) {
  std::memcpy(field, text, std::min(std::strlen(text), N));
}

ProductInfo Block(const char* product, const char* version, const char* date, const char* time = "12:00:00") {
  ProductInfo info{};
  Put(info.productType, product);
  Put(info.version, version);
  Put(info.compileDate, date);
  Put(info.compileTime, time);
  return info;
}

TEST(ConsistencyReading, VersionNumberReadsTheHexTextAsDecimalDigits) {
  struct Case {
    const char* version;
    uint16_t number;
  } cases[] = {{"SVN: 52", 52}, {"SVN: 4A", 4}, {"SVN: 40", 40}, {"SVN: A1", 0}, {"SVN: 9999", 9999},
               {"SVN: ", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(VersionNumber(Block("R10", c.version, "01.01.02")), c.number) << c.version;
  }
  // A version field filled to its last byte is read no further than the field.
  ProductInfo full = Block("R10", "", "01.01.02");
  std::memcpy(full.version, "SVN: 12345", 10);
  std::memcpy(full.compileDate, "9", 1);
  EXPECT_EQ(VersionNumber(full), 12345);
}

TEST(ConsistencyReading, DatesBeforeNinetyLieInTheTwoThousands) {
  const BlockDate end99 = ReadBlockDate(Block("R10", "SVN: 1", "31.12.99"));
  const BlockDate start00 = ReadBlockDate(Block("R10", "SVN: 1", "01.01.00"));
  EXPECT_EQ(end99.year, 1999);
  EXPECT_EQ(start00.year, 2000);
  EXPECT_EQ(ReadBlockDate(Block("R10", "SVN: 1", "01.01.89")).year, 2089);
  EXPECT_EQ(ReadBlockDate(Block("R10", "SVN: 1", "01.01.90")).year, 1990);
  EXPECT_TRUE(IsEarlier(end99, start00));
  EXPECT_FALSE(IsEarlier(start00, end99));
  EXPECT_FALSE(IsEarlier(ReadBlockDate(Block("R10", "SVN: 1", "15.03.02")),
                         ReadBlockDate(Block("R10", "SVN: 1", "14.03.02"))));
  EXPECT_TRUE(IsEarlier(ReadBlockDate(Block("R10", "SVN: 1", "28.02.02")),
                        ReadBlockDate(Block("R10", "SVN: 1", "01.03.02"))));
}

TEST(ConsistencyReading, PhoneBlockComesFromTheVersionAnswer) {
  uint8_t answer[33] = {};
  std::memcpy(answer, "14.03.0209:15:30R12X-EU         ", 32);
  answer[32] = 0x52;
  const ProductInfo phone = PhoneProductInfo(answer, sizeof answer);
  EXPECT_EQ(std::string(phone.compileDate), "14.03.02");
  EXPECT_EQ(std::string(phone.compileTime), "09:15:30");
  EXPECT_EQ(std::string(phone.productType, 16), "R12X-EU         ");
  EXPECT_STREQ(phone.version, "SVN: 52");
  EXPECT_EQ(phone.projectName[0], '\0');
  // A short answer leaves the missing bytes zero.
  const ProductInfo shortPhone = PhoneProductInfo(answer, 10);
  EXPECT_STREQ(shortPhone.compileTime, "09");
  EXPECT_STREQ(shortPhone.version, "SVN: 0");
}

TEST(FlashSizeRule, SixteenMbitHoldExactlyTwoMebibytes) {
  EXPECT_EQ(CheckFlashSize(kPort, kChannel, 16, 2097152), 1);
  EXPECT_EQ(GetLibraryErrorList(kChannel).count, 0);

  EXPECT_EQ(CheckFlashSize(kPort, kChannel, 16, 2097153), 0);
  const LibraryErrorEntry& e = GetLatestLibraryError(kChannel);
  EXPECT_EQ(e.code, 0x608u);
  EXPECT_EQ(e.intParams[0], 2097153);
  EXPECT_EQ(e.intParams[1], 2097152);
  EXPECT_EQ(GetErrorNumber(kPort), 55);
  EXPECT_STREQ(GetAdditionalErrorText(kPort),
               "Error : you are trying to update a SW for 2097153 Bytes into a Mobile with only "
               "space for 2097152 Bytes !");
  // The largest size a phone can report does not wrap around.
  EXPECT_EQ(CheckFlashSize(kPort, kChannel, 0xFFFF, 0xFFFFFFFF), 1);
}

// Records the hooks' traffic; the host answers from a script.
struct HostScript {
  std::vector<int> answers;  // one per consistency-problem call
  int informAnswer = 1;
  bool informInstalled = false;
  std::vector<std::string> events;

  ConsistencyHooks Hooks() {
    ConsistencyHooks hooks;
    hooks.sendBlockTimeOut = [this](uint8_t v) { events.push_back("timeout " + std::to_string(v)); };
    hooks.askHost = [this](const ProductInfo&, const ProductInfo&, int type) {
      events.push_back("ask " + std::to_string(type));
      const int answer = answers.empty() ? 0 : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return answer;
    };
    if (informInstalled) {
      hooks.inform = [this](const ProductInfo&, const ProductInfo&) {
        events.push_back("inform");
        return informAnswer;
      };
    }
    return hooks;
  }
};

struct RuleCase {
  const char* name;
  ProductInfo phone;
  ProductInfo file;
  std::vector<int> answers;
  int result;
  std::vector<std::string> events;
  uint32_t code;  // latest library error, 0 for none
};

TEST(SoftwareRules, RulesRunInOrderWithTheirTimeOutsAndProblemTypes) {
  const RuleCase cases[] = {
      {"all equal", Block("R10", "SVN: 52", "14.03.02"), Block("R10", "SVN: 52", "14.03.02"), {}, 1, {}, 0},
      {"newer file", Block("R10", "SVN: 50", "14.03.02"), Block("R10", "SVN: 52", "15.03.02"), {}, 1, {}, 0},
      {"product differs in case, refused", Block("R10", "SVN: 1", "01.01.02"),
       Block("r10", "SVN: 1", "01.01.02"), {0}, 0, {"timeout 208", "ask 1"}, 0x60A},
      {"product accepted, then version lower refused", Block("R11", "SVN: 52", "01.01.02"),
       Block("R10", "SVN: 50", "01.01.02"), {1, 0}, 0,
       {"timeout 208", "ask 1", "timeout 200", "ask 2"}, 0x60C},
      {"version lower accepted", Block("R10", "SVN: 52", "14.03.02"), Block("R10", "SVN: 50", "14.03.02"),
       {1}, 1, {"timeout 200", "ask 2"}, 0},
      {"hex letter reads low: 4A is 4, 40 not lower", Block("R10", "SVN: 4A", "14.03.02"),
       Block("R10", "SVN: 40", "14.03.02"), {}, 1, {}, 0},
      {"older date, version not lower", Block("R10", "SVN: 50", "01.01.00"),
       Block("R10", "SVN: 50", "31.12.99"), {0}, 0, {"timeout 200", "ask 4"}, 0x60B},
      {"older date and lower version", Block("R10", "SVN: 52", "14.03.02"),
       Block("R10", "SVN: 50", "13.03.02"), {0}, 0, {"timeout 200", "ask 6"}, 0x60B},
      {"older date accepted ends the rules", Block("R10", "SVN: 52", "14.03.02"),
       Block("R10", "SVN: 50", "13.03.02"), {1}, 1, {"timeout 200", "ask 6"}, 0},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    const uint8_t before = GetLibraryErrorList(kChannel).count;
    HostScript host;
    host.answers = c.answers;
    EXPECT_EQ(CheckSoftwareRules(kPort, kChannel, c.phone, c.file, host.Hooks()), c.result);
    EXPECT_EQ(host.events, c.events);
    if (c.code) {
      EXPECT_EQ(GetLatestLibraryError(kChannel).code, c.code);
    } else {
      EXPECT_EQ(GetLibraryErrorList(kChannel).count, before);
    }
  }
}

TEST(SoftwareRules, RefusalsCarryTheTextsOfBothBlocks) {
  HostScript host;
  const ProductInfo phone = Block("R12X-EU", "SVN: 52", "14.03.02");
  const ProductInfo file = Block("R12-EU", "SVN: 50", "13.03.02");
  ASSERT_EQ(CheckSoftwareRules(kPort, kChannel, phone, Block("R12-EU", "SVN: 1", "14.03.02"), host.Hooks()), 0);
  const LibraryErrorEntry& product = GetLatestLibraryError(kChannel);
  EXPECT_STREQ(product.textParams[0], "R12-EU");
  EXPECT_STREQ(product.textParams[1], "R12X-EU");
  EXPECT_STREQ(GetAdditionalErrorText(kPort), "Error : Update of R12-EU SW not possible into a R12X-EU !");

  ProductInfo samePhone = phone;
  samePhone = Block("R12-EU", "SVN: 52", "14.03.02");
  ASSERT_EQ(CheckSoftwareRules(kPort, kChannel, samePhone, file, host.Hooks()), 0);
  const LibraryErrorEntry& date = GetLatestLibraryError(kChannel);
  EXPECT_STREQ(date.textParams[0], "SVN: 52");
  EXPECT_STREQ(date.textParams[1], "14.03.02");
  EXPECT_STREQ(date.textParams[2], "SVN: 50");
  EXPECT_STREQ(date.textParams[3], "13.03.02");
  EXPECT_STREQ(GetAdditionalErrorText(kPort),
               "Error : SW-Date and Version are incompatible, Mobile: SVN: 52 Date: 14.03.02 <=> File: "
               "SVN: 50 Date: 13.03.02  !");

  ASSERT_EQ(CheckSoftwareRules(kPort, kChannel, samePhone, Block("R12-EU", "SVN: 50", "14.03.02"),
                               host.Hooks()),
            0);
  EXPECT_STREQ(GetAdditionalErrorText(kPort), "Error : SW-Version is incompatible, Mobile: SVN: 52 <=> File: SVN: 50 !");
}

TEST(SoftwareRules, InformationCallbackComesFirstAndCanRefuseAlone) {
  HostScript host;
  host.informInstalled = true;
  host.informAnswer = 0;
  const ProductInfo phone = Block("R11", "SVN: 1", "01.01.02");
  EXPECT_EQ(CheckSoftwareRules(kPort, kChannel, phone, Block("R10", "SVN: 1", "01.01.02"), host.Hooks()), 0);
  EXPECT_EQ(host.events, std::vector<std::string>{"inform"});
  EXPECT_EQ(GetLibraryErrorList(kChannel).count, 0);

  host.informAnswer = 1;
  host.answers = {1};
  host.events.clear();
  EXPECT_EQ(CheckSoftwareRules(kPort, kChannel, phone, Block("R10", "SVN: 1", "01.01.02"), host.Hooks()), 1);
  EXPECT_EQ(host.events, (std::vector<std::string>{"inform", "timeout 208", "ask 1"}));
}

TEST(DifferenceUpdateRule, PhoneMustRunExactlyTheSoftwareTheDifferenceWasMadeFrom) {
  const DateTimePair madeFrom{"14.03.02", "09:15:30"};
  ProductInfo noDate = Block("R10", "SVN: 1", "", "09:15:30");
  std::memset(noDate.compileDate, 0xFF, 8);
  struct Case {
    const char* name;
    ProductInfo phone;
    int result;
    int32_t number;
    uint32_t code;
    const char* text;
  } cases[] = {
      {"match", Block("R10", "SVN: 1", "14.03.02", "09:15:30"), 1, 0, 0, ""},
      {"no date", noDate, 0, 500, 0x600, "No Date/Time-Info available, impossible to DIFF-Swup"},
      {"other date", Block("R10", "SVN: 1", "15.03.02", "09:15:30"), 0, 501, 0x601,
       "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Mobile"},
      {"other time", Block("R10", "SVN: 1", "14.03.02", "09:15:31"), 0, 501, 0x601,
       "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Moibile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint8_t before = GetLibraryErrorList(kChannel).count;
    EXPECT_EQ(CheckDifferenceUpdate(kPort, kChannel, c.phone, madeFrom), c.result);
    if (c.code) {
      EXPECT_EQ(GetLatestLibraryError(kChannel).code, c.code);
      EXPECT_EQ(GetErrorNumber(kPort), c.number);
      EXPECT_STREQ(GetAdditionalErrorText(kPort), c.text);
    } else {
      EXPECT_EQ(GetLibraryErrorList(kChannel).count, before);
    }
  }
}

TEST(SplitIdRule, PhoneIdIsBigEndianInBytesFourToSeven) {
  const uint8_t answer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(CheckSplitId(kPort, kChannel, answer, 0x12345678), 1);
  EXPECT_EQ(GetLibraryErrorList(kChannel).count, 0);
  EXPECT_EQ(CheckSplitId(kPort, kChannel, answer, 0x78563412), 0);
  EXPECT_EQ(GetLatestLibraryError(kChannel).code, 0x60Eu);
  EXPECT_EQ(GetErrorNumber(kPort), 63);
}

}  // namespace
}  // namespace dlx
