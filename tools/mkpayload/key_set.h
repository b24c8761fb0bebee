// The key set of a payload: plain hexadecimal files in one directory, so any
// tool can read them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mkpayload {

constexpr size_t kModulusBytes = 128;

struct KeySet {
  std::array<uint8_t, 16> cipherKey{};            // aes128.hex
  std::array<uint8_t, 12> ivTail{};               // ivtail.hex
  std::vector<uint8_t> modulus;                   // rsa-modulus.hex, big-endian, 128 bytes
  std::vector<uint8_t> verifyExponent;            // rsa-verify-exponent.hex, 128 bytes
  std::vector<uint8_t> signExponent;              // rsa-sign-exponent.hex, short
};

// Hex digits (blanks and line ends ignored) into bytes; false on anything else
// or an odd number of digits.
bool parseHex(const std::string& text, std::vector<uint8_t>& bytes);
std::string toHex(const uint8_t* bytes, size_t length);

// Reads the five files of DIR; on failure `error` says which file and why.
bool readKeySet(const std::string& dir, KeySet& keys, std::string& error);
bool writeKeySet(const std::string& dir, const KeySet& keys, std::string& error);

// A fresh key set: random cipher key and IV tail, a 1024-bit modulus, the
// signing exponent 65537 and its inverse as the 1023-bit verification exponent.
bool generateKeySet(KeySet& keys, std::string& error);

}  // namespace mkpayload
