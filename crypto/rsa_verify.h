// RSA signature verification with the PKCS #1 v1.5 encoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/bignum.h"

struct RsaPublicKey {
  uint32_t modulusBytes = 0;
  BigNumber modulus;
  BigNumber exponent;
};

namespace nimbo {
// Digest types of nimbo_Verify.
constexpr int kDigestNone = 0;     // hand back the decoded data
constexpr int kDigestCompare = 1;  // compare the decoded data with the given data
constexpr int kDigestMd2 = 2;
constexpr int kDigestMd5 = 3;
constexpr int kDigestSha1 = 4;
constexpr int kDigestRipemd128 = 5;
constexpr int kDigestRipemd160 = 6;
}  // namespace nimbo

// Verifies `signature` over data[0..*dataLength) as digestType says. With type
// 0 the decoded data are copied into `data` (or, without `data`, only their
// length is stored) and *dataLength is set to their length.
int nimbo_Verify(uint8_t* data, uint32_t* dataLength, const uint8_t* signature,
                 uint32_t signatureLength, const RsaPublicKey& key, int digestType);
