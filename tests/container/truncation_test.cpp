// A container cut anywhere is refused with the read operation's numbered
// error; the sanitizer build shows that no cut makes the reader read past
// the bytes it was given.
#include <algorithm>
#include <ostream>

#include "container_fixture.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

// Signature section, header with list records, hash area and heap.
xbitool::BuiltContainer fullContainer() {
  json d = AcceptedDescription();
  d["signature"] = {{"entries", {{{"key_id", 7}, {"length", 128}}, {{"key_id", 8}, {"length", 61}}}}};
  d["hash_area"] = {{"list_length", 200}};
  auto& records = d["header"]["records"];
  records.push_back({{"type", 86}});
  records.push_back({{"type", 48}, {"start", 0}, {"end", 100}});
  records.push_back({{"type", 83}, {"start", 0}, {"end", 1}, {"parameter", 2}, {"kind", 1}});
  records.push_back({{"type", 84}, {"name", "SPLIT"}});
  d["heap"]["command_frames"] = {{{"mi", 0x20}, {"params_hex", "01"}}};
  return xbitool::BuildContainer(d);
}

enum class Where { signature, header, hashArea, heapStart, heap };

struct Cut {
  const char* name;
  Where where;
  int64_t offset;  // from the start of that part; negative: from its end
};

void PrintTo(const Cut& cut, std::ostream* os) { *os << cut.name; }

// Where a cut lands decides the refusal: the sections must all be there
// before anything is read (0x802 with 3); a cut heap is corrupt.
class Truncation : public ContainerTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(Truncation, IsRefusedCleanly) {
  xbitool::BuiltContainer built = fullContainer();
  const uint32_t s = built.signatureLength, g = built.headerLength, h = built.hashAreaLength;
  const Cut& cut = GetParam();
  uint32_t start = 0, end = 0;
  switch (cut.where) {
    case Where::signature: start = 0; end = s; break;
    case Where::header: start = s; end = s + g; break;
    case Where::hashArea: start = s + g; end = s + g + h; break;
    case Where::heapStart:
    case Where::heap: start = s + g + h; end = static_cast<uint32_t>(built.bytes.size()); break;
  }
  uint32_t at = static_cast<uint32_t>(cut.offset >= 0 ? start + cut.offset : end + cut.offset);
  ASSERT_LE(at, built.bytes.size());
  ASSERT_EQ(Read(built.bytes), 1) << "the uncut container is accepted";
  ReleaseXbiContainer();

  std::vector<uint8_t> bytes(built.bytes.begin(), built.bytes.begin() + at);
  EXPECT_EQ(Read(bytes), 0);
  if (cut.where == Where::heap || cut.where == Where::heapStart) {
    EXPECT_THAT(Codes(), ElementsAre(0x906u, 0x809u));
  } else {
    EXPECT_THAT(Codes(), ElementsAre(0x802u));
    EXPECT_EQ(Latest().intParams[0], 3);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, Truncation,
    ::testing::Values(Cut{"empty", Where::signature, 0}, Cut{"one_byte", Where::signature, 1},
                      Cut{"inside_signature_magic", Where::signature, 20},
                      Cut{"before_signature_zero", Where::signature, 36},
                      Cut{"after_signature_magic", Where::signature, 37},
                      Cut{"inside_key_identifier", Where::signature, 39},
                      Cut{"inside_signature_bytes", Where::signature, 100},
                      Cut{"inside_end_mark", Where::signature, -2},
                      Cut{"before_xbi_magic", Where::header, 0},
                      Cut{"inside_xbi_magic", Where::header, 29},
                      Cut{"before_0x1A", Where::header, 30},
                      Cut{"after_0x1A", Where::header, 31},
                      Cut{"inside_first_sync", Where::header, 33},
                      Cut{"after_first_length", Where::header, 35},
                      Cut{"inside_first_record_data", Where::header, 37},
                      Cut{"before_end_record", Where::header, -6},
                      Cut{"before_end_checksum", Where::header, -1},
                      Cut{"before_hash_area", Where::hashArea, 0},
                      Cut{"inside_hash_head", Where::hashArea, 20},
                      Cut{"inside_hash_list", Where::hashArea, 100},
                      Cut{"hash_area_one_short", Where::hashArea, -1},
                      Cut{"no_heap", Where::heapStart, 0},
                      Cut{"inside_command_frame", Where::heap, 3},
                      Cut{"after_command_frame_address", Where::heap, 7 + 3},
                      Cut{"inside_software_block", Where::heap, 7 + 40},
                      Cut{"last_byte", Where::heap, -1}),
    [](const ::testing::TestParamInfo<Cut>& param) { return std::string(param.param.name); });

TEST_F(ContainerTest, EveryCutOfASmallContainerIsRefusedUnlessItEndsBetweenHeapBlocks) {
  // Every length from 0 to one short of the whole, in one process: the
  // error lists fill up, so only the result is checked here. A cut right
  // behind a heap block leaves a shorter but well-formed container.
  xbitool::BuiltContainer built = fullContainer();
  const std::vector<uint32_t>& blocks = built.blockOffsets;
  for (std::size_t n = 0; n < built.bytes.size(); ++n) {
    bool betweenBlocks = n > blocks.front() && std::find(blocks.begin(), blocks.end(), n) != blocks.end();
    std::vector<uint8_t> bytes(built.bytes.begin(), built.bytes.begin() + n);
    EXPECT_EQ(Read(bytes), betweenBlocks ? 1 : 0) << n;
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, SingleByteCorruptionsEndInAResultAndNeverReadOutside) {
  // Every byte of the sections in front of the heap, overwritten with values
  // that hit lengths, sync bytes and key identifiers. Under the sanitizer
  // build an out-of-bounds read fails the test by itself.
  xbitool::BuiltContainer built = fullContainer();
  const uint32_t front = built.signatureLength + built.headerLength + built.hashAreaLength;
  for (uint32_t at = 0; at < front; ++at) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x40}, uint8_t{0xFF}, static_cast<uint8_t>(~built.bytes[at])}) {
      std::vector<uint8_t> bytes = built.bytes;
      bytes[at] = value;
      int result = Read(bytes);
      if (result == 0) {
        EXPECT_NE(Latest().code, 0u) << at;
      }
      ReleaseXbiContainer();
    }
  }
}

TEST_F(ContainerTest, RecordLengthRunningPastTheEndIsRefused) {
  json d = AcceptedDescription();
  d.erase("heap");
  d["header"]["end_record"] = false;
  d["header"]["records"].push_back({{"type", 99}, {"data_hex", "0102"}, {"length", 64}});
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x802u));
}

}  // namespace
}  // namespace dlx::test
