// Single bytes, raw writes and AT answers on a BFB link port.
#include <cstring>

#include "doralex/bfb/port_slots.h"

namespace dlx {
namespace {

// One byte within `timeoutMs`; false on silence or a failed device.
bool readByte(PortSlot& slot, uint8_t* byte, uint32_t timeoutMs) {
  platform::ReadResult result = slot.device->read(byte, 1, timeoutMs);
  return result.count == 1;
}

}  // namespace

int WComPut(WHandle handle, uint8_t byte) {
  PortSlot* slot = FindPortSlot(handle);
  return slot && slot->device->write(&byte, 1) ? 1 : 0;
}

int WComGet(WHandle handle, uint8_t* byte) {
  PortSlot* slot = FindPortSlot(handle);
  return slot && byte && readByte(*slot, byte, slot->timeoutMs) ? 1 : 0;
}

int WComGetWithTimeOut(WHandle handle, uint8_t* byte, uint32_t timeoutMs) {
  uint32_t remembered = 0;
  if (!byte || !WComGetTimeOut(handle, &remembered)) return 0;
  WComSetTimeOut(handle, timeoutMs);
  int result = WComGet(handle, byte);
  WComSetTimeOut(handle, remembered);
  return result;
}

int WComWriteRaw(WHandle handle, const uint8_t* bytes, std::size_t count) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || !bytes || count > 255) return 0;
  return slot->device->write(bytes, count) ? 1 : 0;
}

int WComReadAnswer(WHandle handle, std::size_t capacity, char* text) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || !text || capacity == 0) return 0;
  std::size_t count = 0;
  bool silence = false;
  while (count + 1 < capacity) {
    uint8_t byte = 0;
    if (!readByte(*slot, &byte, slot->timeoutMs)) {
      silence = true;
      break;
    }
    text[count++] = static_cast<char>(byte);
  }
  text[count] = '\0';
  return count > 0 && silence ? 1 : 0;
}

}  // namespace dlx
