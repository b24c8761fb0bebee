// Header records: descrambling by header version, field values and widths,
// initial values and the fields that keep their value.
#include <cstring>

#include "container_fixture.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

json withRecords(std::initializer_list<json> extra, int headerVersion = 95) {
  json d = AcceptedDescription();
  d["header"]["records"][0]["value"] = headerVersion;
  for (const json& r : extra) d["header"]["records"].push_back(r);
  return d;
}

// The key walks backwards from the zero after "...Software": 0, 'e', 'r',
// 'a', ... These stored bytes are worked out by hand from that rule:
// "ABCD" stored as 41 27 31 25 ('A'^0, 'B'^'e', 'C'^'r', 'D'^'a').
TEST_F(ContainerTest, PassTextsUseTheHalfRuleBelowVersion95AndFullTextsAlwaysTheFullRule) {
  struct Case {
    int version;
    int type;
    const char* expected;
  } cases[] = {
      {95, 23, "ABCD"},           // pass text, full rule
      {94, 23, "AB\x31\x25"},     // pass text, first half only
      {0, 23, "AB\x31\x25"},      // no record 16 counts as version 0
      {95, 61, "ABCD"},           // full text
      {94, 61, "ABCD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << " type " << c.type);
    json d = AcceptedDescription();
    auto& records = d["header"]["records"];
    records.erase(3);  // the project name comes from the stored bytes below
    if (c.version == 0) {
      records.erase(0);
    } else {
      records[0]["value"] = c.version;
    }
    records.push_back({{"type", c.type}, {"stored_hex", "41273125"}});
    ASSERT_EQ(Read(d), 1);
    const XbiHeaderInfo& h = GetXbiHeaderInfo();
    EXPECT_STREQ(c.type == 23 ? h.project_name : h.text61, c.expected);
    EXPECT_EQ(h.header_version, c.version);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, BuilderScramblingRoundTripsForBothVersions) {
  for (int version : {94, 95, 100}) {
    SCOPED_TRACE(version);
    json d = withRecords({{{"type", 22}, {"text", "A forty-four character text, scrambled ok!!"}},
                          {{"type", 19}, {"date", "31.12.99"}, {"time", "23:59:59"}},
                          {{"type", 59}, {"date", "01.01.00"}, {"time", "00:00:01"}}},
                         version);
    ASSERT_EQ(Read(d), 1);
    const XbiHeaderInfo& h = GetXbiHeaderInfo();
    EXPECT_STREQ(h.text22, "A forty-four character text, scrambled ok!!");
    EXPECT_STREQ(h.status_date, "31.12.99");
    EXPECT_STREQ(h.status_time, "23:59:59");
    EXPECT_STREQ(h.pair59.date, "01.01.00");
    EXPECT_STREQ(h.pair59.time, "00:00:01");
    EXPECT_STREQ(h.product_type, "R12X");
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, Record16AfterTheTextsGivesTheSameResult) {
  for (int version : {94, 95}) {
    json first = withRecords({}, version);
    json last = first;
    json record16 = last["header"]["records"][0];
    last["header"]["records"].erase(0);
    last["header"]["records"].push_back(record16);
    // Scramble both for the same version; only the record order differs.
    first["header"]["scramble_version"] = version;
    last["header"]["scramble_version"] = version;

    ASSERT_EQ(Read(first), 1);
    XbiHeaderInfo a = GetXbiHeaderInfo();
    ReleaseXbiContainer();
    ASSERT_EQ(Read(last), 1);
    const XbiHeaderInfo& b = GetXbiHeaderInfo();
    EXPECT_STREQ(a.product_type, "R12X");
    EXPECT_STREQ(a.product_type, b.product_type);
    EXPECT_STREQ(a.project_name, b.project_name);
    EXPECT_STREQ(a.compile_date, b.compile_date);
    EXPECT_EQ(a.header_version, b.header_version);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, Record86StepsBy2To20InItsThirdByte) {
  struct Case {
    const char* bytes;
    uint32_t areaLength;  // hash area actually present
    int result;
    uint32_t code;
  } cases[] = {
      {"00010000", 256, 1, 0},
      {"00000100", 1u << 20, 1, 0},
      {"00000100", 65536, 0, 0x802},  // 2^20, not 2^16: runs past the container
      {"1E000000", 30, 0, 0x809},     // an area without list bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " with " << c.areaLength);
    json d = withRecords({{{"type", 86}, {"data_hex", c.bytes}}});
    d["hash_area"] = {{"list_length", c.areaLength - 30}};
    EXPECT_EQ(Read(d), c.result);
    if (c.result == 1) {
      EXPECT_EQ(GetXbiHeaderInfo().hash_area_length, c.areaLength);
      EXPECT_EQ(GetHeapLayout().hashAreaLength, c.areaLength);
      ASSERT_NE(GetHashList(), nullptr);
    } else {
      EXPECT_EQ(Latest().code, c.code);
      EXPECT_EQ(Latest().intParams[0], c.code == 0x802 ? 3 : 1);
    }
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, NumberRecordsFillTheirFields) {
  json d = withRecords({
      {{"type", 27}, {"value", "0x01020304"}},
      {{"type", 35}, {"value", "0x00400000"}},
      {{"type", 36}, {"value", 0x3636}},
      {{"type", 37}, {"value", "0x00A00000"}},
      {{"type", 39}, {"value", 39}},
      {{"type", 49}, {"value", 49}},
      {{"type", 50}, {"value", 0x50}},
      {{"type", 51}, {"value", 0x5151}},
      {{"type", 53}, {"value", 53}},
      {{"type", 54}, {"values", {1, 2, 3, "0xFFFFFFFF"}}},
      {{"type", 55}, {"address", "0x7FFE0"}, {"id", 0x55}},
      {{"type", 56}, {"value", 0x5656}},
      {{"type", 57}, {"value", 7}},
      {{"type", 58}, {"values", {0x0101, 0x0202, 3, 4, 0x0505, 0x0606, 0x0707}}},
      {{"type", 64}, {"value", 6}},
      {{"type", 112}, {"byte", 0x70}, {"text", "one-twelve"}},
      {{"type", 42}, {"text", "eighteen-character"}},
      {{"type", 99}, {"data_hex", "DEADBEEF"}},
  });
  ASSERT_EQ(Read(d), 1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_EQ(h.status_value, 0x01020304u);
  EXPECT_EQ(h.sw_size, 0x400000u);
  EXPECT_EQ(h.value36, 0x3636);
  EXPECT_EQ(h.bgj_address, 0xA00000u);
  EXPECT_EQ(h.value39, 39u);
  EXPECT_EQ(h.value49, 49u);
  EXPECT_EQ(h.flash_code_request_value, 0x50u);
  EXPECT_EQ(h.value51, 0x5151);
  EXPECT_EQ(h.value53, 53u);
  EXPECT_THAT(h.language_group, ElementsAre(1u, 2u, 3u, 0xFFFFFFFFu));
  EXPECT_EQ(h.split_address, 0x7FFE0u);
  EXPECT_EQ(h.split_id, 0x55u);
  EXPECT_EQ(h.transfer_setup_value, 0x5656u);
  EXPECT_EQ(h.compression_mode, 7u);
  EXPECT_EQ(h.compression_p1, 0x0101u);
  EXPECT_EQ(h.compression_p2, 0x0202u);
  EXPECT_EQ(h.compression_p3, 3u);
  EXPECT_EQ(h.compression_p4, 4u);
  EXPECT_EQ(h.compression_p5, 0x0505);
  EXPECT_EQ(h.compression_p6, 0x0606);
  EXPECT_EQ(h.compression_p7, 0x0707);
  EXPECT_EQ(h.file_type, 6u);
  EXPECT_EQ(h.byte112, 0x70);
  EXPECT_STREQ(h.text112, "one-twelve");
  EXPECT_STREQ(h.text42, "eighteen-character");
  EXPECT_STREQ(info_.fileType, "DiffFile");
}

TEST_F(ContainerTest, InitialValuesWithoutTheirRecords) {
  ASSERT_EQ(Read(AcceptedDescription()), 1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_EQ(h.split_id, 0xFFFFFFFFu);
  EXPECT_EQ(h.split_address, 0x7FFE0u);
  EXPECT_EQ(h.transfer_setup_value, 1u);
  EXPECT_EQ(h.compression_p3, 2u);
  EXPECT_EQ(h.compression_p4, 2u);
  EXPECT_EQ(h.hash_area_length, 0u);
  EXPECT_EQ(h.map_info_complete, 0u);
  EXPECT_EQ(h.erase_area_list, nullptr);
}

TEST_F(ContainerTest, TextsAreCutToTheirFieldsAndShortRecordsReadAsZeros) {
  json d = withRecords({
      {{"type", 23}, {"text", "PROJECTNAMETOOLONG"}},
      {{"type", 62}, {"text", "0123456789abc"}},
      {{"type", 35}, {"data_hex", "0102"}},  // a u32 with two bytes of data
      {{"type", 58}, {"data_hex", ""}},
  });
  ASSERT_EQ(Read(d), 1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_STREQ(h.project_name, "PROJECTN");
  EXPECT_STREQ(h.text62, "0123456789");
  EXPECT_EQ(h.sw_size, 0x01020000u);
  EXPECT_EQ(h.compression_p3, 0u);
  EXPECT_STREQ(info_.projectName, "PROJECTN");
}

TEST_F(ContainerTest, Records59To62And112KeepTheirValueFromAnEarlierRead) {
  json d = withRecords({{{"type", 61}, {"text", "KEPT"}},
                        {{"type", 112}, {"byte", 1}, {"text", "kept too"}},
                        {{"type", 41}, {"text", "reset"}}});
  ASSERT_EQ(Read(d), 1);
  ReleaseXbiContainer();
  ASSERT_EQ(Read(AcceptedDescription()), 1);
  const XbiHeaderInfo& h = GetXbiHeaderInfo();
  EXPECT_STREQ(h.text61, "KEPT");
  EXPECT_STREQ(h.text112, "kept too");
  EXPECT_STREQ(h.text41, "");
}

TEST_F(ContainerTest, FileTypeNamesAndUnnamedValuesLeaveTheFieldAlone) {
  const char* names[] = {"MobSw",     "Eesimu",        "Voice Memo", "Code Only",
                         "Lang Only", "Code and Lang", "DiffFile",   "Extended New Split"};
  for (int type = 0; type <= 8; ++type) {
    json d = AcceptedDescription();
    d["header"]["records"][7]["value"] = type;
    bytes_ = Build(d);
    ProductInfo info{};
    std::memset(info.fileType, 'x', sizeof info.fileType);
    ASSERT_EQ(ReadXbiContainer(&info, bytes_.data(), static_cast<uint32_t>(bytes_.size())), 1);
    std::string field(info.fileType, sizeof info.fileType);
    EXPECT_EQ(field.substr(0, field.find('\0')), type < 8 ? names[type] : std::string(20, 'x'));
    ReleaseXbiContainer();
  }
}

}  // namespace
}  // namespace dlx::test
