// The blocks and ranges the engine prepares before it writes to the flash.
#include <gtest/gtest.h>

#include <vector>

#include "doralex/engine/update_sequence.h"

namespace dlx {
namespace {

TEST(BgjInvalidation, WritesOneZeroByteAtOffset508WithTheBlockChecksum) {
  EXPECT_EQ(BgjInvalidationBlock(0x40000), (std::vector<uint8_t>{0x04, 0x01, 0xFC, 0x01, 0x00, 0xF8}));
  // The address carries into the higher bytes.
  EXPECT_EQ(BgjInvalidationBlock(0x12FF04),
            (std::vector<uint8_t>{0x13, 0x01, 0x00, 0x01, 0x00, 0x13 ^ 0x01 ^ 0x00 ^ 0x01}));
}

TEST(WriteEnableRanges, AlignedProjectsWidenToWhole64KiBBlocks) {
  SplitElement second{0x30010, 0x3FFF0, 0, 2, 0, "b", nullptr};
  SplitElement first{0x23456, 0x24000, 0, 1, 0, "a", &second};

  for (const char* project : {"kq88w", "KQ88W", "rq71mua", "Kq71Zo"}) {
    SCOPED_TRACE(project);
    EXPECT_TRUE(UsesBlockAlignment(project));
    const std::vector<Range> ranges = SplitEnableRanges(&first, project);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].first, 0x20000u);
    EXPECT_EQ(ranges[0].last, 0x2FFFFu);
    EXPECT_EQ(ranges[1].first, 0x30000u);
    EXPECT_EQ(ranges[1].last, 0x3FFFFu);
  }
  for (const char* project : {"kq88", "kq88wx", "rq71m", ""}) {
    SCOPED_TRACE(project);
    EXPECT_FALSE(UsesBlockAlignment(project));
    const std::vector<Range> ranges = SplitEnableRanges(&first, project);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].first, 0x23456u);
    EXPECT_EQ(ranges[0].last, 0x24000u);
  }
  EXPECT_TRUE(SplitEnableRanges(nullptr, "kq88w").empty());
}

}  // namespace
}  // namespace dlx
