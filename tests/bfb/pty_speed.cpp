// The pty master reports the slave's line settings; termios2 carries the
// speed as a number, whichever way it was set.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace bfbtest {

bool ReadLineSpeed(int fd, uint32_t* speed) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  *speed = settings.c_ospeed;
  return true;
}

}  // namespace bfbtest
