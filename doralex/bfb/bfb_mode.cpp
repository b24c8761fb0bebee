// Switching the phone's data port from AT commands to BFB frames.
#include <cstring>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/wait.h"

namespace dlx {
namespace {

// The phone may sit at any of these speeds in AT mode; tried in this order.
constexpr uint32_t kAtSpeeds[] = {19200, 115200, 57600, 38400};
constexpr uint32_t kAnswerWaitMs = 500;
constexpr std::size_t kAnswerCapacity = 20;  // 19 characters and the terminator

bool writeText(WHandle handle, const char* text) {
  return WComWriteRaw(handle, reinterpret_cast<const uint8_t*>(text), std::strlen(text)) == 1;
}

bool saysOk(const char* answer) { return std::strstr(answer, "OK\r") != nullptr; }

// The command split in two, for phones that want it typed slowly.
bool switchInTwoParts(WHandle handle) {
  char answer[kAnswerCapacity] = "";
  if (!WComConfigure(handle, 19200) || !writeText(handle, "at^sbf")) return false;
  WaitMs(kAnswerWaitMs);
  if (!WComReadAnswer(handle, sizeof answer, answer)) return false;
  if (!writeText(handle, "b=1\r")) return false;
  WaitMs(kAnswerWaitMs);
  return WComReadAnswer(handle, sizeof answer, answer) == 1 && saysOk(answer);
}

}  // namespace

int WSetBfbMode(WHandle handle) {
  uint32_t remembered = 0;
  if (!WGetComConfiguration(handle, &remembered)) return 0;

  for (uint32_t speed : kAtSpeeds) {
    if (!WComConfigure(handle, speed)) continue;
    WComPurge(handle);
    if (!writeText(handle, "at^sqwe=1\r")) continue;
    WaitMs(kAnswerWaitMs);
    char answer[kAnswerCapacity] = "";
    WComReadAnswer(handle, sizeof answer, answer);
    if (saysOk(answer)) {
      WComConfigure(handle, remembered);
      return 1;
    }
  }

  int result = switchInTwoParts(handle) ? 1 : 0;
  WComConfigure(handle, remembered);
  return result;
}

}  // namespace dlx
