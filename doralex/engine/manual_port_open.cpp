// The library's own manual port opener: for a phone the user switches on by
// hand, the port is opened at 115200 baud and the loader's call awaited.
#include "doralex/engine/update_sequence.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "doralex/frame/log.h"
#include "doralex/serial/wseril1.h"

namespace dlx {
namespace {

constexpr uint32_t kManualSpeed = 115200;
constexpr int kOutcomeManualStart = 3;

}  // namespace

int ManualPortOpen(int* outcome, uint16_t channel, int port, uint32_t /*speed*/,
                   ConnectProgressFn /*progress*/) {
  if (GetPortMode(channel) != kPortModeManualStart) {
    DLX_SET_ERROR(port, 1, swupwork);
    SetAdditionalErrorInfo(port, "Cannot init manual update mode, precheck condition failed");
    return 0;
  }
  *outcome = kOutcomeManualStart;
  LogMessage(channel, 2, kLogSerial, "Opening Comport %d with Speed %ld\n", port + 1,
             static_cast<long>(kManualSpeed));
  if (ComOpen(port, kManualSpeed, 0)) return 1;
  LogMessage(channel, 2, kLogSerial, "Not possible to open Comport\n");
  DLX_SET_ERROR(port, 1, swupwork);
  SetAdditionalErrorInfo(port, "Opening Comport %d with Speed %d Baud not possible", port + 1,
                         static_cast<int>(kManualSpeed));
  AddLibraryError(channel, 0xA00, "dd", {port + 1, kManualSpeed});
  return 0;
}

}  // namespace dlx
