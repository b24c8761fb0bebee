#include "doralex/container/payload_frames.h"

#include <cstring>

namespace dlx {

void WritePayloadFrames(uint8_t* out, const uint8_t* payload, uint32_t n, uint8_t subCode,
                        uint8_t lastSubCode) {
  constexpr uint8_t kMessageId = 0x60;
  for (uint32_t offset = 0; offset < n; offset += kPayloadChunk) {
    uint32_t chunk = n - offset < kPayloadChunk ? n - offset : kPayloadChunk;
    bool last = offset + chunk == n;
    out[0] = 0xFF;
    out[1] = 0xFF;
    out[2] = 0xFF;
    out[3] = static_cast<uint8_t>(chunk + 4);
    out[4] = kMessageId;
    out[5] = last ? lastSubCode : subCode;
    out[6] = static_cast<uint8_t>(offset);
    out[7] = static_cast<uint8_t>(offset >> 8);
    std::memcpy(out + 8, payload + offset, chunk);
    uint8_t sum = 0;
    for (uint32_t i = 0; i < chunk + 8; ++i) sum ^= out[i];
    out[chunk + 8] = sum;
    out += chunk + kPayloadFrameOverhead;
  }
}

}  // namespace dlx
