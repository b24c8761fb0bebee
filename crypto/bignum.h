// Multi-precision integers of the crypto module: a word count followed by the
// words, least significant first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nimbo {
constexpr size_t kMaxNumberBytes = 512;  // 4096 bits
constexpr size_t kMaxNumberWords = kMaxNumberBytes / 4;
}  // namespace nimbo

struct BigNumber {
  uint32_t wordCount = 0;
  uint32_t words[nimbo::kMaxNumberWords] = {};
};

// From a big-endian byte string; leading zero bytes are ignored.
int nimbo_BigFromBytes(BigNumber* number, const uint8_t* bytes, size_t length);
// Big-endian into exactly `length` bytes, with leading zero bytes.
int nimbo_BigToBytes(const BigNumber& number, uint8_t* bytes, size_t length);
int nimbo_BigBitLength(const BigNumber& number, uint32_t* bits);
// -1, 0 or 1 as a is less than, equal to or greater than b.
int nimbo_BigCompare(const BigNumber& a, const BigNumber& b);
// result = base^exponent mod modulus; exponents as long as the modulus are fine.
int nimbo_BigModExp(BigNumber* result, const BigNumber& base, const BigNumber& exponent,
                    const BigNumber& modulus);
