// Ping and switch-off: the two short exchanges of the phone's normal mode.
#include "doralex/bfb/bfb_link.h"

namespace dlx {
namespace {

constexpr uint8_t kPingCode = 0x14;
constexpr uint8_t kPingAlive = 0xAA;
constexpr uint8_t kSwitchOffCode = 0x04;

}  // namespace

int WPingMobile(WHandle handle) {
  for (int tries = 0; tries < 3; ++tries) {
    if (!WComWrite(handle, kFramePing, 1, &kPingCode)) continue;
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t data[kBfbMaxData];
    if (WComReceive(handle, kFramePing, kPingCode, &type, &length, data) && length >= 2 &&
        data[1] == kPingAlive) {
      return 1;
    }
  }
  return 0;
}

int WMobileOff(WHandle handle) {
  if (!WComWrite(handle, kFrameInfo, 1, &kSwitchOffCode)) return 0;
  uint8_t type = 0;
  uint8_t length = 0;
  uint8_t data[kBfbMaxData];
  return WComReceive(handle, kFrameInfo, kSwitchOffCode, &type, &length, data);
}

}  // namespace dlx
