#include "platform/serial_line_speed.h"

// termios2 and BOTHER come from the kernel's own header; <termios.h> must not
// be included here (both define struct termios).
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace platform {

bool SetLineSpeed(int fd, uint32_t speed) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  settings.c_cflag |= BOTHER;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);  // input speed follows c_ispeed
  settings.c_cflag |= static_cast<tcflag_t>(BOTHER << IBSHIFT);
  settings.c_ispeed = speed;
  settings.c_ospeed = speed;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

uint32_t GetLineSpeed(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace platform
