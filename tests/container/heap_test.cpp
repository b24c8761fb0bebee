// Heap data: the check that its blocks fill the heap exactly, and the skip of
// command frames at its head.
#include "container_fixture.h"
#include "doralex/container/heap_lib.h"
#include "doralex/frame/errors.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

// The accepted container's heap: blocks of 69, 69, 69 and 13 bytes.
constexpr uint32_t kLastBlock = 3 * 69;
constexpr uint32_t kHeapLength = kLastBlock + 13;

TEST_F(ContainerTest, HeapThatDoesNotEndWithABlockIsCorruptAtTheCrossingBlock) {
  struct Case {
    const char* name;
    int lengthChange;
    uint32_t location;
  } cases[] = {
      {"one byte short", -1, kLastBlock},
      {"one byte long", +1, kHeapLength},
      {"last block cut to its address", -10, kLastBlock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Build(AcceptedDescription());
    if (c.lengthChange > 0) {
      bytes.insert(bytes.end(), c.lengthChange, 0x00);
    } else {
      bytes.resize(bytes.size() + c.lengthChange);
    }
    EXPECT_EQ(Read(bytes), 0);
    EXPECT_THAT(Codes(), ElementsAre(0x906u, 0x809u));
    const LibraryErrorList& list = GetLibraryErrorList(0);
    EXPECT_EQ(list.slots[list.count - 2].intParams[0], static_cast<int32_t>(c.location));
    EXPECT_EQ(Latest().intParams[0], 1);
    EXPECT_EQ(GetHeapErrorText(),
              "\nheap data corrupt at location " + std::to_string(c.location));
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, BadChecksumInTheMiddleIsReportedAtItsOwnBlock) {
  json d = AcceptedDescription();
  d["heap"]["blocks"] = {{{"address", 0x300000}, {"data_hex", "0102"}, {"checksum", 0x55}},
                         {{"address", 0x300002}, {"data_hex", "0304"}}};
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x906u, 0x809u));
  const LibraryErrorList& list = GetLibraryErrorList(0);
  EXPECT_EQ(list.slots[list.count - 2].intParams[0], static_cast<int32_t>(kHeapLength));
  EXPECT_EQ(GetTransferLength(), 0u);
}

TEST_F(ContainerTest, EmptyHeapIsCorruptAtZero) {
  json d = AcceptedDescription();
  d.erase("heap");
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x906u, 0x809u));
  EXPECT_EQ(GetLibraryErrorList(0).slots[GetLibraryErrorList(0).count - 2].intParams[0], 0);
}

TEST_F(ContainerTest, CommandFramesAtTheHeadAreSkippedOnceAndForAll) {
  json d = AcceptedDescription();
  d["heap"]["command_frames"] = {{{"mi", 0x20}, {"params_hex", "01"}},         // 7 bytes
                                 {{"mi", 0x21}, {"params_hex", "020304"}}};  // 9 bytes
  ASSERT_EQ(Read(d), 1);
  const uint8_t* heap = GetHeapData();
  ASSERT_EQ(GetTransferLength(), kHeapLength + 16);
  EXPECT_EQ(heap[0], 0xFF);

  EXPECT_EQ(SkipCommandBlocks(), 1);
  EXPECT_EQ(GetTransferLength(), kHeapLength);
  EXPECT_EQ(GetHeapData(), heap + 16);
  EXPECT_EQ(GetHeapData()[0], 0x20);  // the software's first block, address 0x200000

  EXPECT_EQ(SkipCommandBlocks(), 1);
  EXPECT_EQ(GetTransferLength(), kHeapLength);
  EXPECT_EQ(GetHeapData(), heap + 16);
}

TEST_F(ContainerTest, CommandFramesAfterSoftwareBlocksStay) {
  json d = AcceptedDescription();
  d["heap"]["blocks"] = {{{"address", "0xFFFFFF"}, {"data_hex", "2001"}}};
  ASSERT_EQ(Read(d), 1);
  const uint8_t* heap = GetHeapData();
  EXPECT_EQ(SkipCommandBlocks(), 1);
  EXPECT_EQ(GetHeapData(), heap);
  EXPECT_EQ(GetTransferLength(), kHeapLength + 7);
}

TEST_F(ContainerTest, HeapOperationsBeforeAnyPreparation) {
  EXPECT_EQ(GetHeapData(), nullptr);
  EXPECT_EQ(SkipCommandBlocks(), 0);
  uint32_t transfer = 0;
  EXPECT_EQ(CheckHeapData(&transfer, nullptr), 2);
  EXPECT_FALSE(GetHeapLayout().prepared);
}

TEST_F(ContainerTest, HeapStaysPreparedAfterTheRelease) {
  ASSERT_EQ(Read(AcceptedDescription()), 1);
  ReleaseXbiContainer();
  EXPECT_TRUE(GetHeapLayout().prepared);
  EXPECT_NE(GetHeapData(), nullptr);
}

}  // namespace
}  // namespace dlx::test
