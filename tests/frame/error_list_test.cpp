#include <gtest/gtest.h>

#include <string>

#include "doralex/frame/errors.h"

namespace dlx {
namespace {

TEST(ErrorList, IntegerDescriptorStoresValuesInOrder) {
  AddLibraryError(0, 0x604, "dd", {3, 115200});
  const LibraryErrorEntry& e = GetLatestLibraryError(0);
  EXPECT_EQ(e.code, 0x604u);
  EXPECT_STREQ(e.descriptor, "dd");
  EXPECT_EQ(e.intParams[0], 3);
  EXPECT_EQ(e.intParams[1], 115200);
  EXPECT_EQ(e.textParams[0][0], '\0');
}

TEST(ErrorList, TextDescriptorStoresTextsAndNoIntegers) {
  AddLibraryError(0, 0x60B, "ssss", {"SVN: 52", "01.02.03", "SVN: 50", "02.02.03"});
  const LibraryErrorEntry& e = GetLatestLibraryError(0);
  EXPECT_STREQ(e.textParams[0], "SVN: 52");
  EXPECT_STREQ(e.textParams[1], "01.02.03");
  EXPECT_STREQ(e.textParams[2], "SVN: 50");
  EXPECT_STREQ(e.textParams[3], "02.02.03");
  for (int v : e.intParams) EXPECT_EQ(v, 0);
}

TEST(ErrorList, DescriptorLettersDecideWhatIsStored) {
  // Upper-case letters count, other letters take no value.
  AddLibraryError(1, 0x100, "X-sD", {7, "name", 9});
  // A value of the wrong kind is stored as 0 or as an empty text, and a letter
  // without a value stores nothing: the list never reads what was not passed.
  AddLibraryError(2, 0x100, "ds", {7, 8});
  AddLibraryError(3, 0x100, "ddd", {7, "text"});

  const LibraryErrorEntry& mixed = GetLatestLibraryError(1);
  EXPECT_EQ(mixed.intParams[0], 7);
  EXPECT_EQ(mixed.intParams[1], 9);
  EXPECT_STREQ(mixed.textParams[0], "name");

  const LibraryErrorEntry& intForText = GetLatestLibraryError(2);
  EXPECT_EQ(intForText.intParams[0], 7);
  EXPECT_EQ(intForText.intParams[1], 0);
  EXPECT_STREQ(intForText.textParams[0], "");

  const LibraryErrorEntry& short_ = GetLatestLibraryError(3);
  EXPECT_EQ(short_.intParams[0], 7);
  EXPECT_EQ(short_.intParams[1], 0);
  EXPECT_EQ(short_.intParams[2], 0);
  EXPECT_STREQ(short_.textParams[0], "");
}

TEST(ErrorList, AtMostFiveValuesOfEachKindAndTenLetters) {
  AddLibraryError(0, 0x100, "ddddddsssssss",
                  {1, 2, 3, 4, 5, 6, "a", "b", "c", "d", "e", "f", "g"});
  const LibraryErrorEntry& e = GetLatestLibraryError(0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(e.intParams[i], i + 1);
  // Ten letters are looked at: six integers, then four texts.
  EXPECT_STREQ(e.textParams[0], "a");
  EXPECT_STREQ(e.textParams[3], "d");
  EXPECT_STREQ(e.textParams[4], "");
}

TEST(ErrorList, LongTextsAreCutAt1999Characters) {
  std::string longText(5000, 'x');
  AddLibraryError(0, 0x702, "s", {longText});
  const LibraryErrorEntry& e = GetLatestLibraryError(0);
  EXPECT_EQ(std::string(e.textParams[0]).size(), 1999u);
}

TEST(ErrorList, FortyNinthEntryIsKeptAndLaterOnesOverflow) {
  for (uint32_t i = 1; i <= 49; ++i) AddLibraryError(0, i, "d", {static_cast<int32_t>(i)});
  EXPECT_EQ(GetLatestLibraryError(0).code, 49u);
  EXPECT_EQ(GetLibraryErrorList(0).count, 49);

  AddLibraryError(0, 0x604, "dd", {1, 2});
  AddLibraryError(0, 0x605);
  const LibraryErrorList& list = GetLibraryErrorList(0);
  EXPECT_EQ(list.count, 49);
  EXPECT_TRUE(list.overflowed);
  for (uint32_t i = 0; i < 49; ++i) EXPECT_EQ(list.slots[i].code, i + 1);
  const LibraryErrorEntry& latest = GetLatestLibraryError(0);
  EXPECT_EQ(latest.code, 0xFFFu);
  EXPECT_STREQ(latest.descriptor, "");
  EXPECT_EQ(latest.intParams[0], 0);
}

TEST(ErrorList, EmptyListReadsCodeZero) {
  EXPECT_EQ(GetLatestLibraryError(2).code, 0u);
}

TEST(ErrorList, ToAllAppendsToEveryChannel) {
  AddLibraryError(1, 0x100);
  AddLibraryErrorToAll(0x802, "d", {3});
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_EQ(GetLatestLibraryError(ch).code, 0x802u);
    EXPECT_EQ(GetLatestLibraryError(ch).intParams[0], 3);
  }
  EXPECT_EQ(GetLibraryErrorList(1).count, 2);
}

TEST(ErrorList, ChannelsOutOfRangeAreIgnored) {
  AddLibraryError(4, 0x100);
  AddLibraryError(0xFFFF, 0x100);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(GetLibraryErrorList(ch).count, 0);
  EXPECT_EQ(GetLatestLibraryError(4).code, 0u);
}

TEST(Channels, FindChannelDefaultsToZero) {
  EXPECT_EQ(FindChannel(0), 0);  // all keys start as port 0
  EXPECT_EQ(FindChannel(5), 0);
  RegisterChannel(5, 2);
  EXPECT_EQ(FindChannel(5), 2);
  EXPECT_EQ(FindChannel(7), 0);
  RegisterChannel(7, 9);   // no such channel
  RegisterChannel(12, 1);  // no such port
  RegisterChannel(-1, 1);
  EXPECT_EQ(FindChannel(7), 0);
  EXPECT_EQ(FindChannel(12), 0);
}

TEST(PortErrors, SetErrorNumberRecordsModuleAndClearsTextFlag) {
  SetAdditionalErrorInfo(3, "Opening Comport %d with Speed %d Baud not possible", 4, 57600);
  EXPECT_STREQ(GetAdditionalErrorText(3), "Opening Comport 4 with Speed 57600 Baud not possible");
  DLX_SET_ERROR(3, 51, swupwork);
  const PortErrorRecord* record = GetPortErrorRecord(3);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->number, 51);
  EXPECT_STREQ(record->module, "swupwork");
  EXPECT_GT(record->line, 0);
  EXPECT_EQ(record->hasAdditionalText, 0);
  // The old text stays in the record but is no longer flagged.
  EXPECT_STREQ(record->additionalText, "Opening Comport 4 with Speed 57600 Baud not possible");
  EXPECT_STREQ(GetAdditionalErrorText(3), "");
  EXPECT_EQ(GetErrorNumber(3), 51);
}

TEST(PortErrors, AdditionalTextIsCutAt999Characters) {
  std::string longText(3000, 'y');
  SetAdditionalErrorInfo(0, "%s", longText.c_str());
  EXPECT_EQ(std::string(GetAdditionalErrorText(0)).size(), 999u);
}

TEST(PortErrors, PortsOutsideTheTableHaveNoRecord) {
  for (int port : {-1, 12, 1000}) {
    DLX_SET_ERROR(port, 7, wseril2);
    SetAdditionalErrorInfo(port, "text");
    EXPECT_EQ(GetErrorNumber(port), 0);
    EXPECT_EQ(GetPortErrorRecord(port), nullptr);
    EXPECT_STREQ(GetAdditionalErrorText(port), "");
  }
  for (int port = 0; port < kPortCount; ++port) EXPECT_EQ(GetErrorNumber(port), 0);
}

}  // namespace
}  // namespace dlx
