#include <gtest/gtest.h>

#include <cstring>

#include "doralex/doralex.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"

namespace dlx {
namespace {

LibraryInfo sizedRecord(uint32_t size = sizeof(LibraryInfo)) {
  LibraryInfo record{};
  record.size = size;
  return record;
}

TEST(InitLibrary, RefusesOtherInterfaceVersions) {
  struct Case {
    uint16_t major, minor;
    int result;
  } cases[] = {{1, 29, 1}, {1, 28, 0}, {2, 29, 0}, {0x10001 & 0xFFFF, 29, 1}, {1, 30, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(InitLibrary(c.major, c.minor), c.result) << c.major << "." << c.minor;
    EXPECT_EQ(LibraryStarted(), c.result == 1);
  }
}

TEST(InitLibrary, RefusalMakesLibraryInfoRecordTheMismatch) {
  ASSERT_EQ(InitLibrary(1, 28), 0);
  LibraryInfo record = sizedRecord();
  EXPECT_EQ(GetLibraryInfo(&record, 0), 0);
  for (int port = 0; port < kPortCount; ++port) {
    EXPECT_EQ(GetErrorNumber(port), 600);
    EXPECT_STREQ(GetPortErrorRecord(port)->module, "swupwork");
  }
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_EQ(GetLatestLibraryError(ch).code, 0x617u);
    EXPECT_EQ(GetLibraryErrorList(ch).count, 1);
  }
}

TEST(InitLibrary, ResetsPortModes) {
  ASSERT_EQ(InitLibrary(1, 29), 1);
  SetPortMode(2, kPortModeManualStart);
  ASSERT_EQ(InitLibrary(1, 29), 1);
  EXPECT_EQ(GetPortMode(2), kPortModeNotPrepared);
}

TEST(LibraryInfoRecord, WholeLibraryAndSerialLayer) {
  ASSERT_EQ(InitLibrary(1, 29), 1);
  LibraryInfo whole = sizedRecord();
  ASSERT_EQ(GetLibraryInfo(&whole, 0), 1);
  EXPECT_STREQ(whole.description, "Main-DLL for SW-Update");
  EXPECT_STREQ(whole.buildDate, "Nov 18 2002");
  EXPECT_EQ(whole.major, 2u);
  EXPECT_EQ(whole.minor, 30u);
  EXPECT_LE(std::strlen(whole.author), 9u);

  LibraryInfo serial = sizedRecord();
  ASSERT_EQ(GetLibraryInfo(&serial, 1), 1);
  EXPECT_STREQ(serial.description, "Serial Low-DLL");
  EXPECT_EQ(serial.major, 1u);
  EXPECT_EQ(serial.minor, 35u);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(GetLatestLibraryError(ch).code, 0u);
}

TEST(LibraryInfoRecord, WrongSizeAndUnboundParts) {
  ASSERT_EQ(InitLibrary(1, 29), 1);
  LibraryInfo shortRecord = sizedRecord(139);
  EXPECT_EQ(GetLibraryInfo(&shortRecord, 0), 0);
  EXPECT_EQ(shortRecord.description[0], '\0');  // nothing written
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(GetLatestLibraryError(ch).code, 0u);

  EXPECT_EQ(GetLibraryInfo(&shortRecord, 1), 0);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_EQ(GetLatestLibraryError(ch).code, 0x200u);
  }

  for (int part : {2, 3, 4, -1}) {
    LibraryInfo record = sizedRecord();
    EXPECT_EQ(GetLibraryInfo(&record, part), 0) << part;
  }
  EXPECT_EQ(GetLibraryErrorList(0).count, 1);  // only the 0x200
}

TEST(UpdateMode, NewConceptByModeAndFallbackFlag) {
  EXPECT_EQ(GetUpdateMode(), 0);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(UsesNewConcept(ch), 0);

  SetUpdateMode(1);
  SetFallbackFlag(1, true);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(UsesNewConcept(ch), 1);

  SetUpdateMode(2);
  EXPECT_EQ(GetUpdateMode(), 2);
  for (uint16_t ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(UsesNewConcept(ch), ch == 1 ? 0 : 1);

  SetUpdateMode(5);
  EXPECT_EQ(UsesNewConcept(0), 0);
}

void bfbProgress(uint16_t, int, int) {}
void testProgress(uint16_t, int, int) {}
int info(uint16_t, const ProductInfo*, const ProductInfo*) { return 1; }
void success(uint16_t) {}

TEST(Callbacks, InstalledTablesAreKept) {
  EXPECT_EQ(GetUpdateCallbacks(), nullptr);
  EXPECT_EQ(GetBfbProgressCallback(), nullptr);
  InstallBfbCallbacks(bfbProgress, testProgress);
  InstallInfoCallback(info, 1);
  UpdateCallbacks callbacks{};
  callbacks.success = success;
  InstallUpdateCallbacks(callbacks);
  EXPECT_EQ(GetBfbProgressCallback(), &bfbProgress);
  EXPECT_EQ(GetTestProgressCallback(), &testProgress);
  EXPECT_EQ(GetInfoCallback(), &info);
  EXPECT_EQ(GetInfoCallbackTiming(), 1);
  ASSERT_NE(GetUpdateCallbacks(), nullptr);
  EXPECT_EQ(GetUpdateCallbacks()->success, &success);
}

int fakeOpener(int*, uint16_t, int, uint32_t, ConnectProgressFn) { return 1; }

TEST(Callbacks, InitLibraryInstallsTheBuiltinManualOpener) {
  RegisterBuiltinManualPortOpener(fakeOpener);
  EXPECT_EQ(GetManualPortOpener(), nullptr);
  ASSERT_EQ(InitLibrary(1, 29), 1);
  EXPECT_EQ(GetManualPortOpener(), &fakeOpener);
}

}  // namespace
}  // namespace dlx
