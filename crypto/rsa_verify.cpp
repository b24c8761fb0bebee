// RSA verification: m = s^e mod n, then the EMSA-PKCS1-v1_5 encoding
// 00 01 FF..FF 00 R, where R is a DigestInfo or the data themselves.
#include <cstring>

#include "crypto/codes.h"
#include "crypto/last_error.h"
#include "crypto/rsa_verify.h"

namespace {

struct DigestIdentifier {
  uint32_t digestLength;
  uint32_t prefixLength;
  uint8_t prefix[18];
};

// DER DigestInfo prefixes, indexed by digest type minus 2.
constexpr DigestIdentifier kDigestIdentifiers[] = {
    {16, 18, {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10}},
    {16, 18, {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10}},
    {20, 15, {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14}},
    {16, 15, {0x30, 0x1D, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x24, 0x03, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10}},
    {20, 15, {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x24, 0x03, 0x02, 0x01, 0x05, 0x00, 0x04, 0x14}},
};

constexpr uint32_t kMinimumFfBytes = 8;

}  // namespace

int nimbo_Verify(uint8_t* data, uint32_t* dataLength, const uint8_t* signature,
                 uint32_t signatureLength, const RsaPublicKey& key, int digestType) {
  if (dataLength == nullptr || (signature == nullptr && signatureLength > 0)) return -1;
  if (digestType < nimbo::kDigestNone || digestType > nimbo::kDigestRipemd160) return -1;
  const uint32_t k = key.modulusBytes;
  // 01, eight FF bytes, 00 and at least one byte of R.
  if (k < 3 + kMinimumFfBytes + 1 || k > nimbo::kMaxNumberBytes) return -1;

  BigNumber s;
  if (nimbo_BigFromBytes(&s, signature, signatureLength) != 0) return -1;
  if (nimbo_BigCompare(s, key.modulus) >= 0) return -1;
  BigNumber m;
  if (nimbo_BigModExp(&m, s, key.exponent, key.modulus) != 0) return -1;

  // The encoded message without its leading zero byte.
  uint8_t em[nimbo::kMaxNumberBytes];
  const uint32_t emLength = k - 1;
  if (nimbo_BigToBytes(m, em, emLength) != 0) return -1;
  if (em[0] != 0x01) return -1;
  for (uint32_t i = 1; i <= kMinimumFfBytes; ++i)
    if (em[i] != 0xFF) return -1;
  uint32_t zero = kMinimumFfBytes + 1;
  while (zero <= k - 4 && em[zero] == 0xFF) ++zero;
  if (em[zero] != 0x00) return -1;
  const uint8_t* r = em + zero + 1;
  const uint32_t rLength = k - 2 - zero;

  switch (digestType) {
    case nimbo::kDigestNone:
      if (data == nullptr) {
        *dataLength = rLength;
        return 0;
      }
      if (*dataLength < rLength) return -1;
      std::memcpy(data, r, rLength);
      *dataLength = rLength;
      return 0;
    case nimbo::kDigestCompare:
      return data != nullptr && *dataLength == rLength && std::memcmp(data, r, rLength) == 0 ? 0 : -1;
    default: {
      const DigestIdentifier& id = kDigestIdentifiers[digestType - nimbo::kDigestMd2];
      const bool match = data != nullptr && *dataLength == id.digestLength &&
                         rLength == id.prefixLength + id.digestLength &&
                         std::memcmp(r, id.prefix, id.prefixLength) == 0 &&
                         std::memcmp(r + id.prefixLength, data, id.digestLength) == 0;
      return match ? 0 : -1;
    }
  }
}
