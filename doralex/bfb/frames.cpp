// BFB frames: type, data length, their XOR, data. Reading resynchronises on
// the header check so that stray bytes on the line cost one frame at most.
#include <cstring>

#include "doralex/bfb/port_slots.h"

namespace dlx {
namespace {

constexpr int kResyncLimit = 100;       // further bytes tried for a valid header
constexpr uint32_t kReceiveStepMs = 50;  // time-out of each receive attempt

// Reads `count` bytes: one read first, then the rest byte by byte; a read that
// brings nothing fails.
bool readHeaderBytes(PortSlot& slot, uint8_t* bytes, std::size_t count) {
  platform::ReadResult first = slot.device->read(bytes, count, slot.timeoutMs);
  if (first.count == 0 || (first.failed && first.count < count)) return false;
  for (std::size_t got = first.count; got < count; ++got) {
    if (slot.device->read(bytes + got, 1, slot.timeoutMs).count != 1) return false;
  }
  return true;
}

bool headerHolds(const uint8_t* header) { return (header[0] ^ header[1]) == header[2]; }

}  // namespace

int WComWrite(WHandle handle, uint8_t type, uint8_t length, const uint8_t* data) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || (length > 0 && !data)) return 0;
  uint8_t frame[3 + 255];
  frame[0] = type;
  frame[1] = length;
  frame[2] = static_cast<uint8_t>(type ^ length);
  if (length > 0) std::memcpy(frame + 3, data, length);
  return slot->device->write(frame, 3u + length) ? 1 : 0;
}

int WComRead(WHandle handle, uint8_t* type, uint8_t* length, uint8_t* data) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || !type || !length || !data) return 0;

  uint8_t header[3];
  if (!readHeaderBytes(*slot, header, 3)) return 0;
  for (int skipped = 0; !headerHolds(header); ++skipped) {
    if (skipped == kResyncLimit) return 0;
    header[0] = header[1];
    header[1] = header[2];
    if (slot->device->read(&header[2], 1, slot->timeoutMs).count != 1) return 0;
  }

  uint8_t count = header[1];
  if (count == 0 || count > kBfbMaxData) return 0;
  uint8_t body[kBfbMaxData];
  if (slot->device->read(body, count, slot->timeoutMs).count != count) return 0;
  *type = header[0];
  *length = count;
  std::memcpy(data, body, count);
  return 1;
}

int WComReceive(WHandle handle, uint8_t wantedType, uint8_t wantedFirst, uint8_t* type,
                uint8_t* length, uint8_t* data) {
  uint32_t budget = 0;
  if (!type || !length || !data || !WComGetTimeOut(handle, &budget)) return 0;
  WComSetTimeOut(handle, kReceiveStepMs);

  int result = 0;
  // Every attempt counts one step against the port's time-out, whether it
  // brought silence, a broken frame or a frame somebody else wanted.
  for (uint32_t spent = 0; spent < budget; spent += kReceiveStepMs) {
    uint8_t frameType = 0;
    uint8_t frameLength = 0;
    uint8_t frameData[kBfbMaxData];
    if (!WComRead(handle, &frameType, &frameLength, frameData)) continue;
    if (wantedType != 0 && frameType != wantedType) continue;
    if (wantedFirst != 0 && frameData[0] != wantedFirst) continue;
    *type = frameType;
    *length = frameLength;
    std::memcpy(data, frameData, frameLength);
    result = 1;
    break;
  }
  WComSetTimeOut(handle, budget);
  return result;
}

}  // namespace dlx
