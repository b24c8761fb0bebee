// Opening, setting up and closing the BFB link's ports.
#include "doralex/bfb/port_slots.h"

#include <cstdint>
#include <optional>
#include <string>

#include "doralex/bfb/wait.h"
#include "platform/serial_device_table.h"

namespace dlx {
namespace {

// Only the thread running the BFB session uses the table.
PortSlot slots[kBfbPortSlots];
// Handles are never reused, so a stale handle cannot reach a port opened later.
WHandle nextHandle = 1;

platform::Parity toParity(int parity) {
  return parity == kParityEven ? platform::Parity::Even : platform::Parity::None;
}

// Applies the slot's line settings (parity checking on, as the phone's
// service port expects) and raises RTS.
bool applyLineSettings(PortSlot& slot) {
  if (!slot.device->configure(slot.speed, slot.parity, true)) return false;
  return slot.device->setRts(true);
}

void freeSlot(PortSlot& slot) {
  slot.device.reset();
  slot.handle = kInvalidWHandle;
}

}  // namespace

PortSlot* FindPortSlot(WHandle handle) {
  if (handle == kInvalidWHandle) return nullptr;
  for (PortSlot& slot : slots) {
    if (slot.handle == handle && slot.device) return &slot;
  }
  return nullptr;
}

WHandle WComOpen(int port, uint32_t speed) {
  if (port < 0 || port >= kBfbPortSlots) return kInvalidWHandle;
  PortSlot& slot = slots[port];
  if (slot.device) return kInvalidWHandle;

  std::optional<std::string> path = platform::SerialDevicePath(port);
  if (!path) return kInvalidWHandle;
  platform::OpenError error = platform::OpenError::None;
  slot.device = platform::SerialDevice::open(*path, &error);
  if (!slot.device) return kInvalidWHandle;

  slot.handle = nextHandle;
  nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
  slot.speed = speed;
  slot.parity = platform::Parity::None;
  if (!applyLineSettings(slot) || !slot.device->setDtr(false) ||
      !WComSetTimeOut(slot.handle, kInitialTimeoutMs) || !slot.device->setRts(true)) {
    freeSlot(slot);
    return kInvalidWHandle;
  }
  WaitMs(100);
  return slot.handle;
}

int WComClose(WHandle handle) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot) return 0;
  freeSlot(*slot);
  return 1;
}

int WComConfigure(WHandle handle, uint32_t speed) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot) return 0;
  slot->speed = speed;
  if (!applyLineSettings(*slot)) return 0;
  WaitMs(2);
  WaitMs(100);
  return 1;
}

int WComParity(WHandle handle, int parity) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot) return 0;
  slot->parity = toParity(parity);
  if (!applyLineSettings(*slot)) return 0;
  WaitMs(10);
  return 1;
}

int WGetComConfiguration(WHandle handle, uint32_t* speed) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || !speed) return 0;
  *speed = slot->device->speed();
  return 1;
}

int WComSetTimeOut(WHandle handle, uint32_t timeoutMs) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot) return 0;
  // Reads take the time-out as a total per read; writes hand their bytes to
  // the driver and need none.
  slot->timeoutMs = timeoutMs;
  return 1;
}

int WComGetTimeOut(WHandle handle, uint32_t* timeoutMs) {
  PortSlot* slot = FindPortSlot(handle);
  if (!slot || !timeoutMs) return 0;
  *timeoutMs = slot->timeoutMs;
  return 1;
}

int WComSetDtr(WHandle handle, bool on) {
  PortSlot* slot = FindPortSlot(handle);
  return slot && slot->device->setDtr(on) ? 1 : 0;
}

int WComPurge(WHandle handle) {
  PortSlot* slot = FindPortSlot(handle);
  return slot && slot->device->purge() ? 1 : 0;
}

int WComClearErrors(WHandle handle) {
  PortSlot* slot = FindPortSlot(handle);
  return slot && slot->device->clearErrors() ? 1 : 0;
}

}  // namespace dlx
