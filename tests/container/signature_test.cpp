// The signature table and the hash list: their ready command frames, lookup
// by key, and the sections' faults.
#include "container_fixture.h"

namespace dlx::test {
namespace {

using ::testing::ElementsAre;

struct Frame {
  uint8_t l, subCode;
  uint16_t offset;
  std::vector<uint8_t> chunk;
};

// Splits frames written back to back, checking what every frame must hold.
std::vector<Frame> splitFrames(const uint8_t* p, uint32_t length) {
  std::vector<Frame> frames;
  uint32_t at = 0;
  while (at < length) {
    const uint8_t* f = p + at;
    EXPECT_THAT(std::vector<uint8_t>(f, f + 3), ElementsAre(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(f[4], 0x60);
    uint32_t chunk = f[3] - 4u;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < chunk + 8; ++i) sum ^= f[i];
    EXPECT_EQ(f[chunk + 8], sum) << "checksum of frame at " << at;
    frames.push_back({f[3], f[5], static_cast<uint16_t>(f[6] | f[7] << 8),
                      std::vector<uint8_t>(f + 8, f + 8 + chunk)});
    at += chunk + 9;
  }
  EXPECT_EQ(at, length);
  return frames;
}

std::vector<uint8_t> joined(const std::vector<Frame>& frames) {
  std::vector<uint8_t> all;
  for (const Frame& f : frames) all.insert(all.end(), f.chunk.begin(), f.chunk.end());
  return all;
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::vector<uint8_t> counting(std::size_t n) {
  std::vector<uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 7 + 1);
  return out;
}

TEST_F(ContainerTest, SignaturesAreCutIntoSixtyByteFrames) {
  struct Case {
    uint16_t length;
    std::vector<uint8_t> ls, subCodes;
    std::vector<uint16_t> offsets;
    uint32_t framesLength;
  } cases[] = {
      {60, {0x40}, {4}, {0}, 69},
      {61, {0x40, 0x05}, {3, 4}, {0, 60}, 79},
      {128, {0x40, 0x40, 0x0C}, {3, 3, 4}, {0, 60, 120}, 155},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> signature = counting(c.length);
    json d = AcceptedDescription();
    d["signature"] = {{"entries", {{{"key_id", "0x01020304"}, {"data_hex", hexOf(signature)}}}}};
    ASSERT_EQ(Read(d), 1);
    const SignatureEntry* e = GetSignatureEntry(0x01020304);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->signatureLength, c.length);
    EXPECT_EQ(e->framesLength, c.framesLength);
    std::vector<Frame> frames = splitFrames(e->frames, e->framesLength);
    ASSERT_EQ(frames.size(), c.ls.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].l, c.ls[i]);
      EXPECT_EQ(frames[i].subCode, c.subCodes[i]);
      EXPECT_EQ(frames[i].offset, c.offsets[i]);
    }
    EXPECT_EQ(joined(frames), signature);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, HashListsAreCutIntoSixtyByteFrames) {
  struct Case {
    uint32_t length;
    std::vector<uint8_t> subCodes;
    std::vector<uint16_t> offsets;
  } cases[] = {
      {60, {6}, {0}},
      {200, {5, 5, 5, 6}, {0, 60, 120, 180}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> list = counting(c.length);
    json d = AcceptedDescription();
    d["hash_area"] = {{"hash_byte1", 0x11}, {"hash_byte2", 0x22}, {"hash_number1", 0x3344},
                      {"hash_number2", 0x5566}, {"list_hex", hexOf(list)}};
    d["header"]["records"].push_back({{"type", 86}});
    ASSERT_EQ(Read(d), 1);
    const HashList* h = GetHashList();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->hashByte1, 0x11);
    EXPECT_EQ(h->hashByte2, 0x22);
    EXPECT_EQ(h->hashNumber1, 0x3344);
    EXPECT_EQ(h->hashNumber2, 0x5566);
    EXPECT_EQ(h->framesLength, c.length + 9 * c.subCodes.size());
    std::vector<Frame> frames = splitFrames(h->frames, h->framesLength);
    ASSERT_EQ(frames.size(), c.subCodes.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].subCode, c.subCodes[i]);
      EXPECT_EQ(frames[i].offset, c.offsets[i]);
    }
    EXPECT_EQ(joined(frames), list);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, KeyIdentifierIsBigEndianAndLengthLittleEndian) {
  std::vector<uint8_t> signature = counting(128);
  json d = AcceptedDescription();
  d["signature"] = {{"end_mark", false},
                    {"extra_hex", "00000007" "8000" + hexOf(signature) + "00000000"}};
  ASSERT_EQ(Read(d), 1);
  ASSERT_EQ(GetSignatureEntryCount(), 1);
  const SignatureEntry* e = GetSignatureEntry(7);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->signatureLength, 128);
  EXPECT_EQ(joined(splitFrames(e->frames, e->framesLength)), signature);
}

TEST_F(ContainerTest, DuplicateKeysFindTheFirstAndFramesAreStoredDownwards) {
  json d = AcceptedDescription();
  d["signature"] = {{"entries",
                     {{{"key_id", 5}, {"data_hex", std::string(2 * 64, 'A')}},
                      {{"key_id", 6}, {"length", 100}},
                      {{"key_id", 5}, {"data_hex", std::string(2 * 64, 'B')}}}}};
  ASSERT_EQ(Read(d), 1);
  ASSERT_EQ(GetSignatureEntryCount(), 3);
  const SignatureEntry* e = GetSignatureEntry(5);
  ASSERT_EQ(e, GetSignatureEntryAt(0));
  EXPECT_EQ(joined(splitFrames(e->frames, e->framesLength)), std::vector<uint8_t>(64, 0xAA));
  EXPECT_GT(GetSignatureEntryAt(0)->frames, GetSignatureEntryAt(1)->frames);
  EXPECT_GT(GetSignatureEntryAt(1)->frames, GetSignatureEntryAt(2)->frames);
  EXPECT_EQ(GetSignatureEntry(8), nullptr);
  EXPECT_EQ(GetSignatureEntryAt(3), nullptr);
}

TEST_F(ContainerTest, HashAreaWithoutSignatureSection) {
  json d = AcceptedDescription();
  d["hash_area"] = {{"list_length", 90}};
  d["header"]["records"].push_back({{"type", 86}});
  ASSERT_EQ(Read(d), 1);
  EXPECT_EQ(GetSignatureEntryCount(), 0);
  for (uint32_t key : {0u, 1u, 7u, 0xFFFFFFFFu}) EXPECT_EQ(GetSignatureEntry(key), nullptr);
  ASSERT_NE(GetHashList(), nullptr);
  EXPECT_EQ(GetHashList()->framesLength, 90u + 18u);
  ReleaseXbiContainer();
  EXPECT_EQ(GetHashList(), nullptr);
}

TEST_F(ContainerTest, SignatureSectionFaultsRefuseWith809) {
  struct Case {
    const char* name;
    json signature;
    int result;
  } cases[] = {
      {"many short signatures reach the entry table",
       {{"entries", {{{"key_id", 1}, {"length", 1}}, {{"key_id", 2}, {"length", 1}},
                     {{"key_id", 3}, {"length", 1}}, {{"key_id", 4}, {"length", 1}}}}},
       4},
      {"signature length runs past the section",
       {{"entries", {{{"key_id", 1}, {"length", 10}, {"length_field", 1000}}}}}, 5},
      {"no end mark", {{"entries", {{{"key_id", 1}, {"length", 8}}}}, {"end_mark", false}}, 5},
      {"end mark cut short", {{"end_mark", false}, {"extra_hex", "000000"}}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json d = AcceptedDescription();
    d["signature"] = c.signature;
    EXPECT_EQ(Read(d), 0);
    EXPECT_THAT(Codes(), ElementsAre(0x809u));
    EXPECT_EQ(Latest().intParams[0], c.result);
    EXPECT_FALSE(GetHeapLayout().signatureLength == 0);
    ReleaseXbiContainer();
  }
}

TEST_F(ContainerTest, HashAreaWithoutItsMagicRefusesWith809) {
  json d = AcceptedDescription();
  d["hash_area"] = {{"magic", "EXT_SIGNATURE_HASH_AREa"}, {"list_length", 60}};
  d["header"]["records"].push_back({{"type", 86}});
  EXPECT_EQ(Read(d), 0);
  EXPECT_THAT(Codes(), ElementsAre(0x809u));
  EXPECT_EQ(Latest().intParams[0], 1);
  EXPECT_EQ(GetHashList(), nullptr);
}

}  // namespace
}  // namespace dlx::test
