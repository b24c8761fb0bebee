// Byte-level facts of the XBI container shared by the section finder, the
// header parser and the heap check: magic texts, record framing and the
// number encodings of the header records.
#pragma once

#include <cstdint>
#include <cstring>

namespace dlx {

inline constexpr char kXbiMagic[] = "Quorvex Mobile Phones Software";
inline constexpr uint32_t kXbiMagicLength = 30;
inline constexpr uint8_t kXbiMagicEnd = 0x1A;
inline constexpr uint32_t kXbiPreambleLength = kXbiMagicLength + 1;  // magic and 0x1A

inline constexpr char kSignatureMagic[] = "Quorvex Mobile Phones Signature File";
inline constexpr uint32_t kSignatureMagicLength = 36;
inline constexpr uint32_t kSignatureEntriesOffset = kSignatureMagicLength + 1;  // after the zero byte

inline constexpr char kHashAreaMagic[] = "EXT_SIGNATURE_HASH_AREA";
inline constexpr uint32_t kHashAreaMagicLength = 23;
inline constexpr uint32_t kHashAreaHeadLength = 30;  // magic, zero, two bytes, two numbers

inline constexpr uint8_t kEndRecordType = 4;
inline constexpr uint8_t kMaxRecordLength = 64;  // L: type byte and data
inline constexpr uint32_t kRecordOverhead = 5;   // sync bytes, L and checksum

inline uint16_t ReadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t ReadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Record 86: d2 counts in steps of 2^20 and only the low nibble of d3 counts;
// containers in the field are made with this encoding.
inline uint32_t DecodeHashAreaLength(const uint8_t* d) {
  return d[0] + (uint32_t{d[1]} << 8) + (uint32_t{d[2]} << 20) + (uint32_t{d[3] & 0x0Fu} << 28);
}

// True when the container holds the XBI magic and its 0x1A byte at `at`.
inline bool HasXbiPreamble(const uint8_t* container, uint32_t length, uint32_t at) {
  if (at > length || length - at < kXbiPreambleLength) return false;
  return std::memcmp(container + at, kXbiMagic, kXbiMagicLength) == 0 &&
         container[at + kXbiMagicLength] == kXbiMagicEnd;
}

// One header record as it stands in the container.
struct HeaderRecord {
  uint8_t type;
  uint8_t dataLength;   // L - 1
  const uint8_t* data;  // inside the container; not descrambled
  uint32_t size;        // L + 5
};

// Reads the record at `p` with `available` bytes left in the container:
// sync bytes, L from 1 to 64, a record that ends within the bytes given,
// and its checksum. False on any fault.
inline bool ReadHeaderRecord(const uint8_t* p, uint32_t available, HeaderRecord* record) {
  if (available < kRecordOverhead) return false;
  if (p[0] != 0xFF || p[1] != 0xFF || p[2] != 0xFE) return false;
  uint8_t l = p[3];
  if (l < 1 || l > kMaxRecordLength) return false;
  uint32_t size = l + kRecordOverhead;
  if (size > available) return false;
  uint8_t sum = 0;
  for (uint32_t i = 0; i < size - 1; ++i) sum ^= p[i];
  if (sum != p[size - 1]) return false;
  record->type = p[4];
  record->dataLength = static_cast<uint8_t>(l - 1);
  record->data = p + 5;
  record->size = size;
  return true;
}

}  // namespace dlx
