// Cutting a signature or the hash list into ready flash-loader command frames
// (message 0x60): FF FF FF, L = chunk + 4, 0x60, sub-code, offset (LE),
// chunk, checksum. Chunks hold 60 bytes, the last one the rest.
#pragma once

#include <cstdint>

namespace dlx {

inline constexpr uint32_t kPayloadChunk = 60;
inline constexpr uint32_t kPayloadFrameOverhead = 9;

// Bytes the frames of an n-byte payload take: n + 9 per frame.
inline uint64_t PayloadFramesLength(uint32_t n) {
  return uint64_t{n} + kPayloadFrameOverhead * ((uint64_t{n} + kPayloadChunk - 1) / kPayloadChunk);
}

// Writes the frames of `payload` to `out` (PayloadFramesLength(n) bytes);
// every frame but the last carries `subCode`, the last one `lastSubCode`.
void WritePayloadFrames(uint8_t* out, const uint8_t* payload, uint32_t n, uint8_t subCode,
                        uint8_t lastSubCode);

}  // namespace dlx
