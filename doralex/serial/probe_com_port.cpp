// The host's port test: can the port be opened at this speed?
#include "doralex/doralex.h"
#include "doralex/serial/wseril1.h"

namespace dlx {

int ProbeComPort(int port, uint32_t speed) {
  const int opened = ComOpen(port, speed, 0);
  if (opened) {
    ComClose(port);
  } else if (GetErrorNumber(port) != 2) {
    // Not held by the library itself: make sure nothing stays open (a failed
    // time-out setting leaves the port open).
    ComClose(port);
  }
  return opened;
}

}  // namespace dlx
