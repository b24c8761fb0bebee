// The lists and buffers the header records build, and their failures.
#include <cstring>

#include "container_fixture.h"
#include "doralex/container/heap_lib.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

json withRecords(std::initializer_list<json> extra) {
  json d = AcceptedDescription();
  for (const json& r : extra) d["header"]["records"].push_back(r);
  return d;
}

TEST_F(ContainerTest, ListRecordFaultsEndTheParseWithTheirOwnError) {
  struct Case {
    const char* name;
    json records;
    uint32_t code;
    const char* heapText;
  } cases[] = {
      {"record 81 before record 80", {{{"type", 81}, {"data_hex", "01"}}}, 0x903,
       "\nmore map info in xbi header as expected!!"},
      {"more map info than announced",
       {{{"type", 80}, {"value", 2}}, {{"type", 81}, {"data_hex", "0102"}}, {{"type", 81}, {"data_hex", "03"}}},
       0x903, "\nmore map info in xbi header as expected!!"},
      {"record 82 before the announced size is in",
       {{{"type", 80}, {"value", 3}}, {{"type", 81}, {"data_hex", "0102"}}, {{"type", 82}}},
       0x903, "\nmore map info in xbi header as expected!!"},
      {"record 46 without record 45", {{{"type", 46}, {"data_hex", "01"}}}, 0x901,
       "\ncould not copy element to list!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json d = AcceptedDescription();
    for (const json& r : c.records) d["header"]["records"].push_back(r);
    EXPECT_EQ(Read(d), 0);
    EXPECT_THAT(Codes(), ElementsAre(c.code, 0x806u));
    EXPECT_EQ(Latest().intParams[0], 7);
    EXPECT_STREQ(GetHeapErrorText(), c.heapText);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, MapInfoIsCompleteAfterExactlyTheAnnouncedSize) {
  ASSERT_EQ(Read(withRecords({{{"type", 80}, {"value", 4}},
                              {{"type", 81}, {"data_hex", "0102"}},
                              {{"type", 81}, {"data_hex", ""}},
                              {{"type", 81}, {"data_hex", "0304"}},
                              {{"type", 82}}})),
            1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_EQ(h.map_info_size, 4);
  EXPECT_EQ(h.map_info_complete, 1u);
  ASSERT_NE(h.map_info, nullptr);
  EXPECT_THAT(std::vector<uint8_t>(h.map_info, h.map_info + 4), ElementsAre(1, 2, 3, 4));
}

TEST_F(ContainerTest, AuxChunksBeyondTheCapacityAreDroppedSilently) {
  ASSERT_EQ(Read(withRecords({{{"type", 34}, {"value", 4}},
                              {{"type", 32}, {"data_hex", "AABB"}},
                              {{"type", 32}, {"data_hex", "CCDDEE"}},
                              {{"type", 32}, {"data_hex", "FF"}},
                              {{"type", 33}}})),
            1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_EQ(h.aux_data_length, 3u);
  EXPECT_THAT(std::vector<uint8_t>(h.aux_data, h.aux_data + 3), ElementsAre(0xAA, 0xBB, 0xFF));
  EXPECT_TRUE(Codes().empty());
}

TEST_F(ContainerTest, HugeAuxCapacityDoesNotReserveItAll) {
  ASSERT_EQ(Read(withRecords({{{"type", 34}, {"value", "0xFFFFFFFF"}},
                              {{"type", 32}, {"data_hex", "0102"}},
                              {{"type", 33}}})),
            1);
  EXPECT_EQ(GetXbiHeaderInfo().aux_data_length, 2u);
}

TEST_F(ContainerTest, SplitElementsGiveTheSplitTextsOfTheFirstOne) {
  struct Case {
    int kind;
    const char* mode;  // nullptr: field left as it was
  } cases[] = {{0, "Split Only"}, {1, "Split and Rest"}, {2, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    json d = withRecords({
        {{"type", 84}, {"name", "IGNORED"}},  // no split element yet
        {{"type", 83}, {"start", "0x100000"}, {"end", "0x1FFFFF"}, {"parameter", 9}, {"number", 1}, {"kind", c.kind}},
        {{"type", 84}, {"name", "FIRST-SPLIT-NAME-20B"}},
        {{"type", 83}, {"start", 1}, {"end", 2}, {"parameter", 3}, {"kind", 1}},
        {{"type", 84}, {"name", "SECOND"}},
    });
    bytes_ = Build(d);
    ProductInfo info{};
    std::memcpy(info.splitMode, "untouched", 10);
    ASSERT_EQ(ReadXbiContainer(&info, bytes_.data(), static_cast<uint32_t>(bytes_.size())), 1);
    EXPECT_STREQ(info.splitMode, c.mode ? c.mode : "untouched");
    EXPECT_STREQ(info.splitName, "FIRST-SPLIT-NAME-20");

    const SplitElement* first = GetXbiHeaderInfo().split_list;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->start, 0x100000u);
    EXPECT_EQ(first->end, 0x1FFFFFu);
    EXPECT_EQ(first->splitParameter, 9u);
    EXPECT_EQ(first->splitNumber, 1);
    EXPECT_EQ(first->kind, static_cast<uint32_t>(c.kind));
    ASSERT_NE(first->next, nullptr);
    EXPECT_STREQ(first->next->name, "SECOND");
    EXPECT_EQ(first->next->next, nullptr);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, EraseAreasAndEraseInfoInRecordOrder) {
  ASSERT_EQ(Read(withRecords({{{"type", 48}, {"start", "0x200000"}, {"end", "0x2FFFFF"}},
                              {{"type", 45}, {"data_hex", "0102030405"}},
                              {{"type", 46}, {"data_hex", "AABB"}},
                              {{"type", 48}, {"start", 5}, {"end", 6}},
                              {{"type", 45}, {"data_hex", "09"}}})),
            1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  ASSERT_NE(h.erase_area_list, nullptr);
  EXPECT_EQ(h.erase_area_list->start, 0x200000u);
  EXPECT_EQ(h.erase_area_list->end, 0x2FFFFFu);
  ASSERT_NE(h.erase_area_list->next, nullptr);
  EXPECT_EQ(h.erase_area_list->next->start, 5u);
  EXPECT_EQ(h.erase_area_list->next->next, nullptr);

  const EraseInfoElement* e = h.erase_info_list;
  ASSERT_NE(e, nullptr);
  EXPECT_THAT(std::vector<uint8_t>(e->firstPart, e->firstPart + 6), ElementsAre(1, 2, 3, 4, 5, 0));
  EXPECT_THAT(std::vector<uint8_t>(e->secondPart, e->secondPart + 3), ElementsAre(0xAA, 0xBB, 0));
  ASSERT_NE(e->next, nullptr);
  EXPECT_EQ(e->next->firstPart[0], 9);
  EXPECT_EQ(e->next->secondPart[0], 0);
}

TEST_F(ContainerTest, LocaterListTakesEntriesAppendedAfterRecord21) {
  ASSERT_EQ(Read(withRecords({{{"type", 20}, {"values", {1, 2, 3, 4}}},
                              {{"type", 21}},
                              {{"type", 20}, {"values", {5, 6, 7, "0xFFFF"}}}})),
            1);
  const LocaterEntry* l = GetXbiHeaderInfo().locater_list;
  ASSERT_NE(l, nullptr);
  EXPECT_THAT(l->value, ElementsAre(1u, 2u, 3u, 4u));
  ASSERT_NE(l->next, nullptr);
  EXPECT_THAT(l->next->value, ElementsAre(5u, 6u, 7u, 0xFFFFu));
  EXPECT_EQ(l->next->next, nullptr);
}

TEST_F(ContainerTest, LocaterEntriesWithoutRecord21StayPendingAndAreFreed) {
  ASSERT_EQ(Read(withRecords({{{"type", 20}, {"values", {1, 2, 3, 4}}}})), 1);
  EXPECT_EQ(GetXbiHeaderInfo().locater_list, nullptr);
}

TEST_F(ContainerTest, OversizedEraseInfoRecordsFillOnlyTheirParts) {
  std::string big(126, 'C');  // 63 bytes of 0xCC
  ASSERT_EQ(Read(withRecords({{{"type", 45}, {"data_hex", big}}, {{"type", 46}, {"data_hex", big}}})), 1);
  const EraseInfoElement* e = GetXbiHeaderInfo().erase_info_list;
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->firstPart[47], 0xCC);
  EXPECT_EQ(e->secondPart[31], 0xCC);
}

TEST_F(ContainerTest, TwoPassHeaderBuildsItsListsOnce) {
  json d = withRecords({{{"type", 48}, {"start", 1}, {"end", 2}},
                        {{"type", 83}, {"start", 1}, {"end", 2}, {"parameter", 3}, {"kind", 0}}});
  d["header"]["records"][0]["value"] = 94;
  ASSERT_EQ(Read(d), 1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  ASSERT_NE(h.erase_area_list, nullptr);
  EXPECT_EQ(h.erase_area_list->next, nullptr);
  ASSERT_NE(h.split_list, nullptr);
  EXPECT_EQ(h.split_list->next, nullptr);
}

}  // namespace
}  // namespace dlx::test
