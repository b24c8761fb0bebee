#include "frames.h"

namespace phonesim {

uint8_t XorOf(const uint8_t* data, size_t length, uint8_t start) {
  uint8_t x = start;
  for (size_t i = 0; i < length; ++i) x ^= data[i];
  return x;
}

std::vector<uint8_t> EncodeLoaderFrame(uint8_t mi, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {0xFF, 0xFF, 0xFF, static_cast<uint8_t>(data.size() + 1), mi};
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(XorOf(out));
  return out;
}

std::vector<uint8_t> EncodeBfbFrame(uint8_t type, const std::vector<uint8_t>& data) {
  const uint8_t n = static_cast<uint8_t>(data.size());
  std::vector<uint8_t> out = {type, n, static_cast<uint8_t>(type ^ n)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutFixedText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

}  // namespace phonesim
