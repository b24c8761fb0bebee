// Small helpers shared by the crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkpayload/key_set.h"

inline std::vector<uint8_t> hexBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  if (!mkpayload::parseHex(text, bytes)) throw std::invalid_argument("bad hex in test: " + text);
  return bytes;
}

inline std::string hexOf(const std::vector<uint8_t>& bytes) {
  return mkpayload::toHex(bytes.data(), bytes.size());
}
