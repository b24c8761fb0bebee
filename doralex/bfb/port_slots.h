// The BFB link's port slot table: one slot per port index 0..9.
#pragma once

#include <cstdint>
#include <memory>

#include "doralex/bfb/bfb_link.h"
#include "platform/serial_device.h"

namespace dlx {

struct PortSlot {
  WHandle handle = kInvalidWHandle;
  std::unique_ptr<platform::SerialDevice> device;
  uint32_t speed = 0;
  platform::Parity parity = platform::Parity::None;
  uint32_t timeoutMs = kInitialTimeoutMs;
};

// The slot that holds an open handle, or nullptr for an unknown one (never
// opened, already closed, or invalid).
PortSlot* FindPortSlot(WHandle handle);

}  // namespace dlx
