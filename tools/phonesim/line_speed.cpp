// termios2 lives in the kernel's headers, which clash with <termios.h>; this
// file keeps them apart. TCGETS2 on a pty master reports the slave's settings.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace phonesim {

namespace {

uint32_t StandardSpeed(unsigned code) {
  switch (code) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B500000: return 500000;
    case B576000: return 576000;
    case B921600: return 921600;
    case B1000000: return 1000000;
    default: return 0;
  }
}

}  // namespace

uint32_t ReadLineSpeed(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  const unsigned code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  return StandardSpeed(code);
}

bool SetRawLineSpeed(int fd, uint32_t speed) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag &= ~(CBAUD | CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER;
  t.c_ispeed = speed;
  t.c_ospeed = speed;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace phonesim
