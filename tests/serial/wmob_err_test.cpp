// The phone's error reports as library errors and additional texts.
#include "doralex/serial/wmob_err.h"

#include <gtest/gtest.h>

#include <vector>

#include "doralex/doralex.h"
#include "doralex/frame/errors.h"

namespace dlx {
namespace {

constexpr int kPort = 4;

struct Case {
  std::vector<uint8_t> frame;
  uint32_t code;  // 0: no library error
  std::vector<int32_t> values;
  const char* text;  // nullptr: no additional text
};

TEST(MapPhoneError, ReportsBecomeLibraryErrors) {
  const Case cases[] = {
      {{0x11}, 0x400, {}, "Error on RAM-Test with FF "},
      {{0x12}, 0x401, {}, "Error on RAM-Test with pattern"},
      {{0x13}, 0x402, {}, "Error on RAM-Test with 00"},
      {{0x14}, 0x403, {}, "Unknown Error on RAM-Test"},
      {{0x60, 0x01, 0x07}, 0x404, {7}, "Erase-Error Block 7 : Vpp voltage range "},
      {{0x60, 0x02, 0x07}, 0x405, {7}, "Erase-Error Block 7 : Error in the command sequence"},
      {{0x60, 0x03, 0x21}, 0x406, {0x21}, "Erase-Error Block 33 : Erase not possible"},
      {{0x60, 0x10, 0x07}, 0x407, {7}, "Erase-Error Block 7 : Block does not exist"},
      {{0x60, 0x05, 0x07}, 0, {}, nullptr},
      {{0x70, 0x03, 0x01, 0xA2, 0xF0}, 0x408, {3, 0x01, 0xA2, 0xF0},
       "Byte-Program-Error Nr:  3 on adress 01A2F0\n"},
      {{0x86}, 0x409, {}, "check-sum-error final test"},
      {{0x87}, 0x40A, {}, "unknown flash"},
      {{0xFF}, 0x40B, {}, "uuups, function until now not supported"},
      {{0x42}, 0x40C, {0x42}, "unknown Mobile-Error: 42"},
      {{}, 0x40C, {0x00}, "unknown Mobile-Error: 00"},  // an empty report reads as code 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.frame));
    // Another error number and text first, so that a stale one would show.
    DLX_SET_ERROR(kPort, 99, swupwork);
    SetAdditionalErrorInfo(kPort, "stale");
    const uint8_t before = GetLibraryErrorList(0).count;

    uint8_t data[64] = {};
    std::copy(c.frame.begin(), c.frame.end(), data);
    EXPECT_EQ(MapPhoneError(kPort, 0x18, static_cast<uint8_t>(c.frame.size()), data), 0);

    EXPECT_EQ(GetErrorNumber(kPort), 400);
    EXPECT_STREQ(GetPortErrorRecord(kPort)->module, "wmob_err");
    EXPECT_STREQ(GetAdditionalErrorText(kPort), c.text ? c.text : "");
    const LibraryErrorList& list = GetLibraryErrorList(0);
    if (c.code == 0) {
      EXPECT_EQ(list.count, before);
      continue;
    }
    ASSERT_EQ(list.count, before + 1);
    const LibraryErrorEntry& entry = list.slots[before];
    EXPECT_EQ(entry.code, c.code);
    EXPECT_EQ(std::vector<int32_t>(entry.intParams, entry.intParams + c.values.size()), c.values);
  }
}

TEST(MapPhoneError, FilesOnThePortsChannel) {
  RegisterChannel(kPort, 2);
  const uint8_t data[1] = {0x86};
  EXPECT_EQ(MapPhoneError(kPort, 0x18, 1, data), 0);
  EXPECT_EQ(GetLibraryErrorList(0).count, 0);
  EXPECT_EQ(GetLatestLibraryError(2).code, 0x409u);
}

}  // namespace
}  // namespace dlx
