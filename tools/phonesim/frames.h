// The phone's own small codecs for the two framings it speaks: loader frames
// (FF FF FF, length, message ID, data, XOR) and BFB frames (type, length,
// type XOR length, data). Plus the little-endian and big-endian helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace phonesim {

inline constexpr size_t kMaxLoaderData = 64;  // data bytes of one block
inline constexpr size_t kMaxBfbData = 32;

uint8_t XorOf(const uint8_t* data, size_t length, uint8_t start = 0);
inline uint8_t XorOf(const std::vector<uint8_t>& v) { return XorOf(v.data(), v.size()); }

// FF FF FF, L = data + 1, MI, data, XOR of everything before.
std::vector<uint8_t> EncodeLoaderFrame(uint8_t mi, const std::vector<uint8_t>& data);
// type, n, type ^ n, data.
std::vector<uint8_t> EncodeBfbFrame(uint8_t type, const std::vector<uint8_t>& data);

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}
void PutLe16(std::vector<uint8_t>& out, uint16_t v);
void PutLe32(std::vector<uint8_t>& out, uint32_t v);
void PutBe32(std::vector<uint8_t>& out, uint32_t v);
// Appends `text` padded with zero bytes (or cut) to exactly `width` bytes.
void PutFixedText(std::vector<uint8_t>& out, const std::string& text, size_t width);

}  // namespace phonesim
