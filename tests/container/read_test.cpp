// The read operation: acceptance, every refusal with its code and argument,
// the file-read mark and the release.
#include <sys/mman.h>

#include <cstring>

#include "container_fixture.h"
#include "doralex/engine/xbi_read.h"
#include "doralex/frame/library_state.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

TEST_F(ContainerTest, AcceptedContainerFillsProductInfoAndLayout) {
  ASSERT_EQ(Read(AcceptedDescription()), 1);
  EXPECT_TRUE(Codes().empty());
  EXPECT_STREQ(info_.productType, "R12X");
  EXPECT_STREQ(info_.projectName, "PRJ12X");
  EXPECT_STREQ(info_.version, "SVN: 4D2");
  EXPECT_STREQ(info_.compileDate, "01.02.03");
  EXPECT_STREQ(info_.compileTime, "04:05:06");
  EXPECT_STREQ(info_.fileType, "MobSw");
  EXPECT_STREQ(info_.splitMode, "No Split File");
  EXPECT_STREQ(info_.splitName, "No Split File");

  HeapLayout layout = GetHeapLayout();
  EXPECT_EQ(layout.signatureLength, 0u);
  EXPECT_EQ(layout.hashAreaLength, 0u);
  EXPECT_EQ(layout.heapLength, 200u + 4 * 5);  // 64+64+64+8 data bytes in four blocks
  EXPECT_EQ(layout.totalLength, size_);
  EXPECT_EQ(GetTransferLength(), layout.heapLength);
  EXPECT_EQ(GetHeapData(), buffer_.get() + size_ - layout.heapLength);
  EXPECT_EQ(GetHashList(), nullptr);
  EXPECT_EQ(GetSignatureEntry(7), nullptr);
}

TEST_F(ContainerTest, SixteenCharacterProductTypeFillsItsFieldWithoutSpilling) {
  json d = AcceptedDescription();
  d["header"]["records"][2]["text"] = "ABCDEFGHIJKLMNOPQRS";  // cut to 16 by the header field
  ASSERT_EQ(Read(d), 1);
  EXPECT_STREQ(GetXbiHeaderInfo().product_type, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(std::string(info_.productType, sizeof info_.productType), "ABCDEFGHIJKLMNOP");
  EXPECT_STREQ(info_.projectName, "PRJ12X");
}

TEST_F(ContainerTest, SignatureMagicDecidesTheSignatureSection) {
  const std::string magic = "Quorvex Mobile Phones Signature File";
  struct Case {
    const char* name;
    json signature;
    uint32_t expectedS;
  } cases[] = {
      {"magic and zero byte", {{"entries", {{{"key_id", 9}, {"length", 128}}}}}, 37 + 6 + 128 + 4},
      {"magic without zero byte", {{"zero_byte", false}, {"end_mark", false}}, 0},
      {"other first bytes", {{"magic", "Quorvex Mobile Phones Signature Fil!"}, {"end_mark", false}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json d = AcceptedDescription();
    d["signature"] = c.signature;
    std::vector<uint8_t> bytes = Build(d);
    if (c.expectedS == 0) {
      // Without a section the container must start with the XBI magic: the
      // odd leading bytes make it unreadable (the header is not at 0).
      EXPECT_EQ(Read(bytes), 0);
      EXPECT_THAT(Codes(), ElementsAre(0x802u));
      EXPECT_EQ(Latest().intParams[0], 3);
      EXPECT_EQ(GetHeapLayout().signatureLength, 0u);
    } else {
      ASSERT_EQ(Read(bytes), 1);
      EXPECT_EQ(GetHeapLayout().signatureLength, c.expectedS);
      EXPECT_NE(GetSignatureEntry(9), nullptr);
    }
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, SignatureMagicWithoutAnyXbiMagicAfterItIsRefused) {
  json d = AcceptedDescription();
  d["signature"] = json::object();
  d["header"]["magic"] = "Quorvex Mobile Phones Softwar_";
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x802u));
  EXPECT_EQ(Latest().intParams[0], 3);
}

TEST_F(ContainerTest, RecordFaultsAreCaughtByThePreparation) {
  struct Case {
    const char* name;
    json override;
  } cases[] = {
      {"L = 65", {{"length", 65}}},
      {"L = 0", {{"length", 0}}},
      {"wrong checksum", {{"checksum", 0x00}}},
      {"wrong sync", {{"sync_hex", "FFFFFF"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json d = AcceptedDescription();
    d["header"]["records"][3].update(c.override);
    EXPECT_EQ(Read(d), 0);
    EXPECT_THAT(Codes(), ElementsAre(0x802u));
    EXPECT_EQ(Latest().intParams[0], 3);
    EXPECT_STREQ(Latest().descriptor, "d");
    EXPECT_STREQ(GetReadErrorText(), "Error occured Initialization for READ : 3");
    EXPECT_FALSE(XbiFileRead());
  }
}

TEST_F(ContainerTest, WrongMagicEndByteIsRefused) {
  json d = AcceptedDescription();
  d["header"]["magic_end"] = 0x1B;
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x802u));
}

TEST_F(ContainerTest, HeaderWithoutRecord17IsRefusedAfterProductInfoWasFilled) {
  json d = AcceptedDescription();
  d["header"]["records"].erase(1);
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x80Au));
  EXPECT_EQ(GetXbiHeaderInfo().required_library_version, 9999);
  EXPECT_STREQ(info_.productType, "R12X");
  EXPECT_STREQ(info_.version, "SVN: 4D2");
}

TEST_F(ContainerTest, RequiredLibraryVersionAbove230IsRefused) {
  json d = AcceptedDescription();
  d["header"]["records"][1]["value"] = 231;
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x80Au));
}

TEST_F(ContainerTest, ProjectTypeOtherThan356IsRefusedAndKeepsTheMarkUntilRelease) {
  for (int type : {3, 5, 6}) {
    json d = AcceptedDescription();
    d["header"]["records"][6]["value"] = type;
    EXPECT_EQ(Read(d), 1) << type;
    ReleaseXbiContainer();
  }
  json d = AcceptedDescription();
  d["header"]["records"][6]["value"] = 4;
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x807u));
  EXPECT_TRUE(XbiFileRead());

  EXPECT_EQ(Read(AcceptedDescription()), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x801u));
  EXPECT_EQ(Read(AcceptedDescription()), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x801u));

  EXPECT_EQ(ReleaseXbiContainer(), 1);
  EXPECT_FALSE(XbiFileRead());
  EXPECT_EQ(Read(AcceptedDescription()), 1);
}

TEST_F(ContainerTest, SecondReadWithoutReleaseIsRefused) {
  ASSERT_EQ(Read(AcceptedDescription()), 1);
  std::vector<uint8_t> second = Build(AcceptedDescription());
  ProductInfo info{};
  EXPECT_EQ(ReadXbiContainer(&info, second.data(), static_cast<uint32_t>(second.size())), 0);
  EXPECT_EQ(Latest().code, 0x801u);
  // The first container is still the read one.
  EXPECT_EQ(GetHeapLayout().totalLength, size_);
}

TEST_F(ContainerTest, LibraryNotStartedRefusesWith800) {
  ASSERT_EQ(InitLibrary(1, 28), 0);
  EXPECT_EQ(Read(AcceptedDescription()), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x800u));
  for (uint16_t channel = 0; channel < kChannelCount; ++channel) {
    EXPECT_EQ(GetLatestLibraryError(channel).code, 0x800u);
  }
  EXPECT_FALSE(XbiFileRead());
}

int fakeOpener(int*, uint16_t, int, uint32_t, ConnectProgressFn) { return 0; }

TEST_F(ContainerTest, UpdateModeOtherThan1IsRefusedElseTheManualOpenerIsInstalledAgain) {
  // A different opener is registered after InitLibrary installed its own:
  // only a read in update mode 1 installs it.
  RegisterBuiltinManualPortOpener(fakeOpener);
  SetUpdateMode(2);
  EXPECT_EQ(Read(AcceptedDescription()), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x808u));
  EXPECT_TRUE(XbiFileRead());
  EXPECT_NE(GetManualPortOpener(), &fakeOpener);
  ReleaseXbiContainer();

  SetUpdateMode(1);
  EXPECT_EQ(Read(AcceptedDescription()), 1);
  EXPECT_EQ(GetManualPortOpener(), &fakeOpener);
}

TEST_F(ContainerTest, ContainerInReadOnlyMemoryIsReadInPlace) {
  // A version-94 header is parsed twice and descrambled; any write into the
  // container would fault on the read-only page.
  json d = AcceptedDescription();
  d["header"]["records"][0]["value"] = 94;
  d["signature"] = {{"entries", {{{"key_id", 3}, {"length", 70}}}}};
  d["hash_area"] = {{"list_length", 70}};
  d["header"]["records"].push_back({{"type", 86}});
  d["header"]["records"].push_back({{"type", 45}, {"data_hex", "0102"}});
  d["heap"]["command_frames"] = {{{"mi", 0x20}}};
  std::vector<uint8_t> bytes = Build(d);

  void* page = mmap(nullptr, bytes.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  std::memcpy(page, bytes.data(), bytes.size());
  ASSERT_EQ(mprotect(page, bytes.size(), PROT_READ), 0);
  ProductInfo info{};
  EXPECT_EQ(ReadXbiContainer(&info, static_cast<const uint8_t*>(page), static_cast<uint32_t>(bytes.size())), 1);
  EXPECT_STREQ(info.productType, "R12X");
  EXPECT_EQ(SkipCommandBlocks(), 1);
  EXPECT_EQ(std::memcmp(page, bytes.data(), bytes.size()), 0);
  ReleaseXbiContainer();
  munmap(page, bytes.size());
}

TEST_F(ContainerTest, NullContainerIsRefused) {
  errorsBefore_ = GetLibraryErrorCount(0);
  ProductInfo info{};
  EXPECT_EQ(ReadXbiContainer(&info, nullptr, 100), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x802u));
}

TEST_F(ContainerTest, ReleaseAfterEveryKindOfRefusalFreesOnceAndTwiceIsHarmless) {
  // Each container gets as far as its refusal, holding lists, buffers,
  // signature and hash storage; ASan's leak check and double-free detection
  // watch the releases.
  json full = AcceptedDescription();
  full["signature"] = {{"entries", {{{"key_id", 1}, {"length", 100}}}}};
  full["hash_area"] = {{"list_length", 90}};
  auto& records = full["header"]["records"];
  records.push_back({{"type", 86}});
  records.push_back({{"type", 48}, {"start", 0}, {"end", 10}});
  records.push_back({{"type", 83}, {"start", 0}, {"end", 1}, {"parameter", 2}, {"kind", 0}});
  records.push_back({{"type", 45}, {"data_hex", "0102"}});
  records.push_back({{"type", 20}, {"values", {1, 2, 3, 4}}});
  records.push_back({{"type", 34}, {"value", 100}});
  records.push_back({{"type", 32}, {"data_hex", "AABB"}});
  records.push_back({{"type", 80}, {"value", 2}});
  records.push_back({{"type", 81}, {"data_hex", "0102"}});

  json projectType4 = full;
  projectType4["header"]["records"][6]["value"] = 4;
  json badHeap = full;
  badHeap["heap"]["tail_hex"] = "00";
  json parseFailure = full;
  parseFailure["header"]["records"].push_back({{"type", 81}, {"data_hex", "03"}});

  for (const json& d : {full, projectType4, badHeap, parseFailure}) {
    Read(d);
    EXPECT_EQ(ReleaseXbiContainer(), 1);
    EXPECT_EQ(ReleaseXbiContainer(), 1);
    EXPECT_EQ(GetXbiHeaderInfo().split_list, nullptr);
    EXPECT_EQ(GetSignatureEntryCount(), 0);
    EXPECT_EQ(GetHashList(), nullptr);
  }
  EXPECT_EQ(Read(full), 1);
}

}  // namespace
}  // namespace dlx::test
