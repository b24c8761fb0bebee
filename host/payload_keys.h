// The constants a payload must match: cipher key, IV tail and verification key.
#pragma once

#include <cstdint>

#include "crypto/rsa_verify.h"

struct PayloadKeys {
  uint8_t cipherKey[16];
  uint8_t ivTail[12];
  RsaPublicKey verifyKey;
};

// Makes the keys from their byte strings (modulus and exponent big-endian).
PayloadKeys makePayloadKeys(const uint8_t cipherKey[16], const uint8_t ivTail[12],
                            const uint8_t* modulus, uint32_t modulusBytes,
                            const uint8_t* exponent, uint32_t exponentBytes);

// The key set the program was built with (the build's key directory).
const PayloadKeys& compiledPayloadKeys();
