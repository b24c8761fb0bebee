#include "host/payload_keys.h"

#include <cstring>

PayloadKeys makePayloadKeys(const uint8_t cipherKey[16], const uint8_t ivTail[12],
                            const uint8_t* modulus, uint32_t modulusBytes,
                            const uint8_t* exponent, uint32_t exponentBytes) {
  PayloadKeys keys{};
  std::memcpy(keys.cipherKey, cipherKey, sizeof keys.cipherKey);
  std::memcpy(keys.ivTail, ivTail, sizeof keys.ivTail);
  keys.verifyKey.modulusBytes = modulusBytes;
  // Both fit: the build checks their lengths.
  nimbo_BigFromBytes(&keys.verifyKey.modulus, modulus, modulusBytes);
  nimbo_BigFromBytes(&keys.verifyKey.exponent, exponent, exponentBytes);
  return keys;
}
