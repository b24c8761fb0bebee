// The cipher frame against the standard vectors, libcrypto's own CBC with
// padding, and the length and padding rules.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <numeric>
#include <thread>

#include "crypto/nimbo.h"
#include "crypto_test_support.h"

namespace {

const std::vector<uint8_t> kSpKey = hexBytes("2b7e151628aed2a6abf7158809cf4f3c");
const std::vector<uint8_t> kSpIv = hexBytes("000102030405060708090a0b0c0d0e0f");
const std::vector<uint8_t> kSpPlain = hexBytes(
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
const std::vector<uint8_t> kSpCipher = hexBytes(
    "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7");

void start(CipherContext& ctx, const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
           uint32_t flags) {
  ctx.flags = flags;
  ASSERT_EQ(nimbo_CryptStart(key.data(), static_cast<uint32_t>(key.size() * 8), iv.data(), &ctx, 16), 0);
}

// Runs `data` through nimbo_Crypt in pieces of the given sizes (the rest is
// the final piece) and returns the concatenated output.
std::vector<uint8_t> cryptInPieces(CipherContext& ctx, const std::vector<uint8_t>& data, int direction,
                                   const std::vector<size_t>& pieces) {
  std::vector<uint8_t> out;
  size_t at = 0;
  auto run = [&](size_t length, int final) {
    size_t needed = 0;
    EXPECT_EQ(nimbo_Crypt(data.data() + at, length * 8, nullptr, &needed, direction, &ctx, final), 0);
    std::vector<uint8_t> piece(needed + 1);  // never empty: no destination means a size query
    size_t written = needed;
    EXPECT_EQ(nimbo_Crypt(data.data() + at, length * 8, piece.data(), &written, direction, &ctx, final), 0)
        << std::hex << nimbo_GetLastError();
    EXPECT_LE(written, needed);
    out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(written));
    at += length;
  };
  for (size_t piece : pieces) run(std::min(piece, data.size() - at), 0);
  run(data.size() - at, 1);
  return out;
}

std::vector<uint8_t> evpCbc(const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
                            const std::vector<uint8_t>& in, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<uint8_t> out(in.size() + 16);
  int n = 0, tail = 0;
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + tail));
  return out;
}

TEST(Cipher, Fips197Aes128Block) {
  const auto key = hexBytes("000102030405060708090a0b0c0d0e0f");
  const auto plain = hexBytes("00112233445566778899aabbccddeeff");
  const std::vector<uint8_t> zeroIv(16, 0);
  CipherContext enc, dec;
  start(enc, key, zeroIv, nimbo::kFlagUsesIv);
  EXPECT_EQ(hexOf(cryptInPieces(enc, plain, nimbo::kEncrypt, {})), "69c4e0d86a7b0430d8cdb78070b4c55a");
  start(dec, key, zeroIv, nimbo::kFlagUsesIv);
  EXPECT_EQ(cryptInPieces(dec, hexBytes("69c4e0d86a7b0430d8cdb78070b4c55a"), nimbo::kDecrypt, {}), plain);
}

TEST(Cipher, Sp80038aCbcAes128InAnyPieces) {
  const std::vector<std::vector<size_t>> splits = {{}, {16, 16, 16}, {1, 15, 17}, {5, 40}, {64}, {0, 33}};
  for (const auto& split : splits) {
    CipherContext enc, dec;
    start(enc, kSpKey, kSpIv, nimbo::kFlagUsesIv);
    EXPECT_EQ(cryptInPieces(enc, kSpPlain, nimbo::kEncrypt, split), kSpCipher);
    start(dec, kSpKey, kSpIv, nimbo::kFlagUsesIv);
    EXPECT_EQ(cryptInPieces(dec, kSpCipher, nimbo::kDecrypt, split), kSpPlain);
  }
}

TEST(Cipher, DecryptsInPlaceAsOneFinalPiece) {
  auto data = kSpCipher;
  CipherContext ctx;
  start(ctx, kSpKey, kSpIv, nimbo::kFlagUsesIv);
  size_t length = data.size();
  ASSERT_EQ(nimbo_Crypt(data.data(), data.size() * 8, data.data(), &length, nimbo::kDecrypt, &ctx, 1), 0);
  EXPECT_EQ(length, kSpPlain.size());
  EXPECT_EQ(data, kSpPlain);
}

// Padded en- and decryption agree with libcrypto's own CBC for every length
// around the block boundaries and every way of cutting the input.
TEST(Cipher, PaddedRoundTripMatchesLibcrypto) {
  const std::vector<std::vector<size_t>> splits = {{}, {1}, {15}, {16}, {17, 1}, {32}, {7, 9, 16}};
  for (size_t length : {0, 1, 15, 16, 17, 31, 32, 33, 100}) {
    std::vector<uint8_t> plain(length);
    std::iota(plain.begin(), plain.end(), static_cast<uint8_t>(length));
    const auto expected = evpCbc(kSpKey, kSpIv, plain, true);
    for (const auto& split : splits) {
      SCOPED_TRACE(testing::Message() << "length " << length << ", first piece " << (split.empty() ? 0 : split[0]));
      CipherContext enc, dec;
      start(enc, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
      EXPECT_EQ(cryptInPieces(enc, plain, nimbo::kEncrypt, split), expected);
      start(dec, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
      EXPECT_EQ(cryptInPieces(dec, expected, nimbo::kDecrypt, split), plain);
    }
  }
}

TEST(Cipher, PaddedDecryptionHoldsTheLastBlockBack) {
  const auto cipher = evpCbc(kSpKey, kSpIv, std::vector<uint8_t>(20, 0xAB), true);  // 32 bytes
  CipherContext ctx;
  start(ctx, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
  std::vector<uint8_t> out(64);
  size_t length = out.size();
  ASSERT_EQ(nimbo_Crypt(cipher.data(), 32 * 8, out.data(), &length, nimbo::kDecrypt, &ctx, 0), 0);
  EXPECT_EQ(length, 16u);
  length = out.size() - 16;
  ASSERT_EQ(nimbo_Crypt(nullptr, 0, out.data() + 16, &length, nimbo::kDecrypt, &ctx, 1), 0);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 20), std::vector<uint8_t>(20, 0xAB));
}

// A final plain block given in full (no padding flag on encryption), then
// decrypted with the padding test.
uint32_t decryptFinalBlockCode(const std::vector<uint8_t>& plainBlock, size_t* written) {
  CipherContext enc, dec;
  start(enc, kSpKey, kSpIv, nimbo::kFlagUsesIv);
  auto cipher = cryptInPieces(enc, plainBlock, nimbo::kEncrypt, {});
  start(dec, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
  nimbo_SetLastError(0);
  *written = cipher.size();
  if (nimbo_Crypt(cipher.data(), cipher.size() * 8, cipher.data(), written, nimbo::kDecrypt, &dec, 1) == 0)
    return 0;
  return nimbo_GetLastError();
}

TEST(Cipher, PaddingTest) {
  struct Case {
    const char* name;
    std::string lastBlock;
    uint32_t code;
    size_t written;
  };
  const Case cases[] = {
      {"whole block of padding", "10101010101010101010101010101010", 0, 0},
      {"one pad byte", "00112233445566778899aabbccddee01", 0, 15},
      {"pad value 17", "00112233445566778899aabbccddee11", nimbo::kCodeBadPadding, 0},
      {"3 after 03 04", "00112233445566778899aabbcc040303", nimbo::kCodeBadPadding, 0},
      {"last byte 0", "00112233445566778899aabbccddee00", nimbo::kCodeBadPadding, 0},
      {"three threes", "00112233445566778899aabbcc030303", 0, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t written = 0;
    EXPECT_EQ(decryptFinalBlockCode(hexBytes(c.lastBlock), &written), c.code);
    EXPECT_EQ(written, c.written);
  }
}

TEST(Cipher, LengthRules) {
  struct Case {
    const char* name;
    size_t bits;
    int direction;
    uint32_t flags;
    int final;
  };
  const Case cases[] = {
      {"final decryption of 15 bytes", 15 * 8, nimbo::kDecrypt, nimbo::kFlagPadding | nimbo::kFlagUsesIv, 1},
      {"empty final decryption", 0, nimbo::kDecrypt, nimbo::kFlagPadding | nimbo::kFlagUsesIv, 1},
      {"unpadded final of 17 bytes", 17 * 8, nimbo::kEncrypt, nimbo::kFlagUsesIv, 1},
      {"stray bits while decrypting", 16 * 8 + 3, nimbo::kDecrypt, nimbo::kFlagPadding | nimbo::kFlagUsesIv, 1},
      {"stray bits before the final piece", 16 * 8 + 3, nimbo::kEncrypt, nimbo::kFlagPadding | nimbo::kFlagUsesIv, 0},
  };
  std::vector<uint8_t> data(64, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CipherContext ctx;
    start(ctx, kSpKey, kSpIv, c.flags);
    nimbo_SetLastError(0);
    size_t length = data.size();
    std::vector<uint8_t> out(64);
    EXPECT_EQ(nimbo_Crypt(data.data(), c.bits, out.data(), &length, c.direction, &ctx, c.final), -1);
    EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeLengthRule);
  }
}

TEST(Cipher, FinalEncryptionTakesStrayBitsAsOneMoreByte) {
  const std::vector<uint8_t> data = {0x11, 0x22, 0xFF};
  CipherContext ctx;
  start(ctx, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
  std::vector<uint8_t> out(16);
  size_t length = out.size();
  ASSERT_EQ(nimbo_Crypt(data.data(), 2 * 8 + 3, out.data(), &length, nimbo::kEncrypt, &ctx, 1), 0);
  EXPECT_EQ(out, evpCbc(kSpKey, kSpIv, {0x11, 0x22, 0xE0}, true));
}

TEST(Cipher, SizeQueryAndTooSmallDestination) {
  CipherContext ctx;
  start(ctx, kSpKey, kSpIv, nimbo::kFlagPadding | nimbo::kFlagUsesIv);
  std::vector<uint8_t> data(20, 1), out(32, 0xEE);
  size_t length = 0;
  ASSERT_EQ(nimbo_Crypt(data.data(), 20 * 8, nullptr, &length, nimbo::kEncrypt, &ctx, 1), 0);
  EXPECT_EQ(length, 32u);
  length = 31;
  EXPECT_EQ(nimbo_Crypt(data.data(), 20 * 8, out.data(), &length, nimbo::kEncrypt, &ctx, 1), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeOutputTooSmall);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(out, std::vector<uint8_t>(32, 0xEE)) << "nothing written on refusal";
  // The refusal left the context as it was: the same call with room succeeds.
  length = 32;
  ASSERT_EQ(nimbo_Crypt(data.data(), 20 * 8, out.data(), &length, nimbo::kEncrypt, &ctx, 1), 0);
  EXPECT_EQ(out, evpCbc(kSpKey, kSpIv, data, true));
}

TEST(Cipher, InPlaceBehindABufferedPartialBlockIsRefused) {
  CipherContext ctx;
  start(ctx, kSpKey, kSpIv, nimbo::kFlagUsesIv);
  std::vector<uint8_t> data(48, 7);
  size_t length = 0;
  ASSERT_EQ(nimbo_Crypt(data.data(), 5 * 8, data.data(), &length, nimbo::kEncrypt, &ctx, 0), 0);
  length = data.size();
  EXPECT_EQ(nimbo_Crypt(data.data() + 5, 32 * 8, data.data() + 5, &length, nimbo::kEncrypt, &ctx, 0), -1);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeInPlaceBlockSize);
}

TEST(Cipher, KeySetupRefusesOtherBlockSizesAndKeyLengths) {
  const std::vector<uint8_t> key(32, 1), iv(16, 0);
  struct Case {
    uint32_t keyBits;
    uint32_t blockSize;
    int result;
  };
  for (const Case c : {Case{128, 16, 0}, Case{192, 16, 0}, Case{256, 16, 0}, Case{128, 32, -1},
                       Case{128, 8, -1}, Case{160, 16, -1}}) {
    CipherContext ctx;
    nimbo_SetLastError(0);
    EXPECT_EQ(nimbo_CryptStart(key.data(), c.keyBits, iv.data(), &ctx, c.blockSize), c.result)
        << c.keyBits << " bits, block " << c.blockSize;
    EXPECT_EQ(nimbo_GetLastError(), c.result == 0 ? 0u : nimbo::kCodeKeySetup);
  }
}

TEST(Cipher, LastErrorBelongsToTheThread) {
  nimbo_SetLastError(nimbo::kCodeBadPadding);
  uint32_t seenByOther = 1;
  std::thread other([&] { seenByOther = nimbo_GetLastError(); });
  other.join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(nimbo_GetLastError(), nimbo::kCodeBadPadding);
}

}  // namespace
