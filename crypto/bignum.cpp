// Big numbers: our word layout, with libcrypto's BIGNUM doing the modular
// exponentiation (sliding windows over Montgomery products).
#include <openssl/bn.h>

#include <cstring>
#include <memory>

#include "crypto/bignum.h"
#include "crypto/codes.h"
#include "crypto/last_error.h"

namespace {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

uint32_t significantWords(const BigNumber& n) {
  uint32_t count = n.wordCount > nimbo::kMaxNumberWords ? nimbo::kMaxNumberWords : n.wordCount;
  while (count > 0 && n.words[count - 1] == 0) --count;
  return count;
}

Bn toBn(const BigNumber& n) {
  uint8_t bytes[nimbo::kMaxNumberBytes];
  const uint32_t words = significantWords(n);
  for (uint32_t w = 0; w < words; ++w)
    for (int i = 0; i < 4; ++i) bytes[4 * w + i] = static_cast<uint8_t>(n.words[w] >> (8 * i));
  return Bn(BN_lebin2bn(bytes, static_cast<int>(4 * words), nullptr));
}

bool fromBn(const BIGNUM* bn, BigNumber* n) {
  uint8_t bytes[nimbo::kMaxNumberBytes];
  if (BN_num_bytes(bn) > static_cast<int>(sizeof bytes)) return false;
  if (BN_bn2lebinpad(bn, bytes, sizeof bytes) != static_cast<int>(sizeof bytes)) return false;
  *n = BigNumber{};
  for (size_t w = 0; w < nimbo::kMaxNumberWords; ++w) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = (word << 8) | bytes[4 * w + i];
    n->words[w] = word;
  }
  n->wordCount = static_cast<uint32_t>(nimbo::kMaxNumberWords);
  n->wordCount = significantWords(*n);
  return true;
}

}  // namespace

int nimbo_BigFromBytes(BigNumber* number, const uint8_t* bytes, size_t length) {
  if (number == nullptr || (length > 0 && bytes == nullptr)) return -1;
  while (length > 0 && bytes[0] == 0) {
    ++bytes;
    --length;
  }
  if (length > nimbo::kMaxNumberBytes) {
    nimbo_SetLastError(nimbo::kCodeNumberTooLong);
    return -1;
  }
  *number = BigNumber{};
  for (size_t i = 0; i < length; ++i) {
    const size_t fromEnd = length - 1 - i;
    number->words[fromEnd / 4] |= uint32_t{bytes[i]} << (8 * (fromEnd % 4));
  }
  number->wordCount = static_cast<uint32_t>((length + 3) / 4);
  return 0;
}

int nimbo_BigToBytes(const BigNumber& number, uint8_t* bytes, size_t length) {
  if (bytes == nullptr && length > 0) return -1;
  const uint32_t words = significantWords(number);
  uint32_t bits = 0;
  if (words > 0) bits = 32 * (words - 1) + (32 - static_cast<uint32_t>(__builtin_clz(number.words[words - 1])));
  if ((bits + 7) / 8 > length) {
    nimbo_SetLastError(nimbo::kCodeNumberDoesNotFit);
    return -1;
  }
  for (size_t i = 0; i < length; ++i) {
    const size_t fromEnd = length - 1 - i;
    const size_t word = fromEnd / 4;
    bytes[i] = word < words ? static_cast<uint8_t>(number.words[word] >> (8 * (fromEnd % 4))) : 0;
  }
  return 0;
}

int nimbo_BigBitLength(const BigNumber& number, uint32_t* bits) {
  const uint32_t words = significantWords(number);
  if (words == 0) {
    nimbo_SetLastError(nimbo::kCodeBitLengthOfZero);
    return -1;
  }
  if (bits != nullptr)
    *bits = 32 * (words - 1) + (32 - static_cast<uint32_t>(__builtin_clz(number.words[words - 1])));
  return 0;
}

int nimbo_BigCompare(const BigNumber& a, const BigNumber& b) {
  const uint32_t wa = significantWords(a);
  const uint32_t wb = significantWords(b);
  if (wa != wb) return wa < wb ? -1 : 1;
  for (uint32_t w = wa; w-- > 0;)
    if (a.words[w] != b.words[w]) return a.words[w] < b.words[w] ? -1 : 1;
  return 0;
}

int nimbo_BigModExp(BigNumber* result, const BigNumber& base, const BigNumber& exponent,
                    const BigNumber& modulus) {
  if (result == nullptr) return -1;
  if (significantWords(modulus) == 0) {
    nimbo_SetLastError(nimbo::kCodeZeroModulus);
    return -1;
  }
  if (significantWords(exponent) == 0) {  // x^0 = 1, whatever the modulus
    *result = BigNumber{};
    result->words[0] = 1;
    result->wordCount = 1;
    return 0;
  }
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  Bn b = toBn(base), e = toBn(exponent), n = toBn(modulus), r(BN_new());
  if (!ctx || !b || !e || !n || !r) return -1;
  if (BN_mod_exp(r.get(), b.get(), e.get(), n.get(), ctx.get()) != 1) return -1;
  return fromBn(r.get(), result) ? 0 : -1;
}
