// The SHA-1 frame against the FIPS 180 examples, pieces of any size, and
// messages that end inside a byte.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <string>

#include "crypto/nimbo.h"
#include "crypto_test_support.h"

namespace {

std::string digestOfPieces(const std::vector<uint8_t>& data, const std::vector<size_t>& pieceBits,
                           uint64_t finalBits) {
  HashContext ctx;
  EXPECT_EQ(nimbo_HashStart(&ctx, 0), 0);
  size_t at = 0;
  for (size_t bits : pieceBits) {
    EXPECT_EQ(nimbo_Hash(data.data() + at, bits, nullptr, &ctx, 0), 0);
    at += bits / 8;
  }
  std::vector<uint8_t> digest(20);
  EXPECT_EQ(nimbo_Hash(data.data() + at, finalBits, digest.data(), &ctx, 1), 0);
  return hexOf(digest);
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// SHA-1 written out from FIPS 180 for messages of any bit length, as an
// independent check of the frame's own padding of a partial byte.
std::string referenceSha1(const std::vector<uint8_t>& data, uint64_t bits) {
  std::vector<uint8_t> m(data.begin(), data.begin() + static_cast<long>((bits + 7) / 8));
  if (bits % 8) m.back() &= static_cast<uint8_t>(0xFF << (8 - bits % 8));
  if (bits % 8) m.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
  else m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  auto rotl = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  for (size_t block = 0; block < m.size(); block += 64) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
      w[t] = uint32_t{m[block + 4 * t]} << 24 | uint32_t{m[block + 4 * t + 1]} << 16 |
             uint32_t{m[block + 4 * t + 2]} << 8 | m[block + 4 * t + 3];
    for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) f = (b & c) | (~b & d), k = 0x5A827999;
      else if (t < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
      else if (t < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      else f = b ^ c ^ d, k = 0xCA62C1D6;
      const uint32_t temp = rotl(a, 5) + f + e + k + w[t];
      e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  std::vector<uint8_t> digest;
  for (uint32_t word : h)
    for (int i = 3; i >= 0; --i) digest.push_back(static_cast<uint8_t>(word >> (8 * i)));
  return hexOf(digest);
}

TEST(Sha1, Fips180Examples) {
  EXPECT_EQ(digestOfPieces(bytesOf("abc"), {}, 24), "a9993e364706816aba3e25717850c26c9cd0d89d");
  const auto twoBlocks = bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
  EXPECT_EQ(digestOfPieces(twoBlocks, {}, twoBlocks.size() * 8), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(digestOfPieces(twoBlocks, {8, 200}, (twoBlocks.size() - 26) * 8),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // One million 'a' in uneven pieces crosses the block buffer many times.
  std::vector<uint8_t> million(1000000, 'a');
  std::vector<size_t> pieces;
  for (size_t at = 0, size = 1; at + size < million.size(); at += size, size = size * 3 % 1000 + 1)
    pieces.push_back(size * 8);
  size_t fed = 0;
  for (size_t bits : pieces) fed += bits / 8;
  EXPECT_EQ(digestOfPieces(million, pieces, (million.size() - fed) * 8),
            "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// 16 bits, 32 bits, then n bytes as the final piece, as the payload loader feeds it.
TEST(Sha1, VersionTimeStampAndDataPieces) {
  for (size_t n : {0, 1, 57, 58, 64, 123, 1000}) {
    std::vector<uint8_t> data(6 + n);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    uint8_t expected[20];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), expected, &length, EVP_sha1(), nullptr);
    EXPECT_EQ(digestOfPieces(data, {16, 32}, n * 8), hexOf({expected, expected + 20})) << n;
  }
}

TEST(Sha1, FinalPieceEndingInsideAByte) {
  std::vector<uint8_t> data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA5 ^ (i * 13));
  for (uint64_t bits : {1, 5, 7, 9, 447, 449, 503, 511, 513, 1001}) {
    EXPECT_EQ(digestOfPieces(data, {}, bits), referenceSha1(data, bits)) << bits << " bits";
    if (bits > 8) {
      EXPECT_EQ(digestOfPieces(data, {8}, bits - 8), referenceSha1(data, bits)) << bits << " bits in two pieces";
    }
  }
  // The reference agrees with the whole-byte digest, so it is the right reference.
  EXPECT_EQ(referenceSha1(bytesOf("abc"), 24), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, PartialByteBeforeTheFinalPieceIsRefused) {
  HashContext ctx;
  ASSERT_EQ(nimbo_HashStart(&ctx, 0), 0);
  const uint8_t data[2] = {1, 2};
  nimbo_SetLastError(0);
  EXPECT_EQ(nimbo_Hash(data, 12, nullptr, &ctx, 0), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeLengthRule);
}

}  // namespace
