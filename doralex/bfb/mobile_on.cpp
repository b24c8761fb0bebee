// Switching on a phone that is off: wake its boot ROM over DTR and hand it
// the boot block.
#include "doralex/bfb/boot_block.h"
#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/wait.h"

namespace dlx {
namespace {

constexpr uint8_t kWakeByte = 0x55;
constexpr uint8_t kWakeAnswer = 0xA0;
constexpr uint8_t kBootAnswer = 0xA5;
constexpr uint8_t kBootParams[4] = {0x02, 0x02, 0x80, 0x01};

std::array<uint8_t, kBootBlockSize> bootBlock = {
    0xA5, 0x5A, 0xA5, 0xA5, 0xE6, 0x89, 0x46, 0x14, 0xD1, 0x90, 0xFF, 0x9A, 0xFE, 0x9B, 0xE6, 0x0C,
    0x09, 0x00, 0xE6, 0x8A, 0xBF, 0x04, 0xD1, 0x90, 0xE6, 0x0A, 0xF0, 0x0E, 0xE6, 0x8A, 0xAF, 0x04,
    0xB5, 0x4A, 0xB5, 0xB5, 0xE6, 0x00, 0x40, 0x00, 0xE7, 0xF0, 0x00, 0x00, 0xF7, 0xF0, 0x00, 0x02,
    0xE7, 0xF0, 0xFF, 0x00, 0xF7, 0xF0, 0x01, 0x02, 0xE6, 0x03, 0x03, 0x00, 0xE7, 0xF0, 0x00, 0x00,
    0xF7, 0xF0, 0x00, 0xF6, 0xE7, 0xF0, 0xFF, 0x00, 0xF7, 0xF0, 0x01, 0xF6, 0xE7, 0xF0, 0xFF, 0x00,
    0xF7, 0xF0, 0x02, 0xF6, 0xE7, 0xF0, 0xFF, 0x00, 0xF7, 0xF0, 0x03, 0xF6, 0xE6, 0xF0, 0x80, 0x00,
    0x74, 0xF0, 0xE0, 0xEF, 0xB7, 0x48, 0xB7, 0xB7};

// DTR wake-up: the boot ROM answers 0x55 with 0xA0. Two attempts of eight tries.
bool wakeBootRom(WHandle handle) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    WComSetDtr(handle, true);
    WaitMs(55);
    for (int tries = 0; tries < 8; ++tries) {
      WComPut(handle, kWakeByte);
      uint8_t answer = 0;
      if (WComGetWithTimeOut(handle, &answer, 45)) {
        if (answer == kWakeAnswer) {
          WComSetDtr(handle, false);
          return true;
        }
        WaitMs(45);
      }
      WComClearErrors(handle);
    }
    WComSetDtr(handle, false);
    WaitMs(550);
  }
  return false;
}

bool sendBootBlock(WHandle handle) {
  std::array<uint8_t, kBootBlockSize>& block = BootBlock();
  for (int i = 0; i < 4; ++i) block[kBootParamOffsets[i]] = kBootParams[i];

  if (!WComPut(handle, static_cast<uint8_t>(kBootBlockSize))) return false;
  uint8_t check = 0;
  for (uint8_t byte : block) {
    if (!WComPut(handle, byte)) return false;
    check ^= byte;
  }
  if (!WComPut(handle, check)) return false;

  for (int reads = 0; reads < 3; ++reads) {
    uint8_t answer = 0;
    if (WComGetWithTimeOut(handle, &answer, 20) && answer == kBootAnswer) return true;
  }
  return false;
}

}  // namespace

std::array<uint8_t, kBootBlockSize>& BootBlock() { return bootBlock; }

int WMobileOn(WHandle handle) {
  uint32_t remembered = 0;
  if (!WGetComConfiguration(handle, &remembered)) return 0;
  bool ready = WComConfigure(handle, 19200) && WComParity(handle, kParityEven);
  // Without a woken boot ROM there is nobody to take the boot block.
  bool booted = ready && wakeBootRom(handle) && sendBootBlock(handle);

  bool restored = WComSetDtr(handle, false) == 1;
  restored = WComParity(handle, kParityNone) == 1 && restored;
  restored = WComConfigure(handle, remembered) == 1 && restored;
  return booted && restored ? 1 : 0;
}

}  // namespace dlx
