#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "platform/serial_line_speed.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// A write that makes no progress for this long has met a device that no
// longer drains its output (no flow control is used, so a live line always
// drains at its speed).
constexpr int kWriteStallMs = 5000;

timespec toTimespec(Clock::duration d) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  if (ns < 0) ns = 0;
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// Waits for `events` until `deadline`; returns the revents, 0 on time-out,
// POLLERR on a failed wait.
short waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    timespec wait = toTimespec(deadline - Clock::now());
    int r = ppoll(&p, 1, &wait, nullptr);
    if (r > 0) return p.revents;
    if (r == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

bool setModemLine(int fd, int line, bool on) {
  int bits = line;
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
  // Pseudo-terminals and some adapters have no modem lines.
  return errno == ENOTTY || errno == EINVAL;
}

OpenError openErrorFor(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return OpenError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenError::Busy;
    default:
      return OpenError::Failed;
  }
}

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& path, OpenError* error) {
  OpenError ignored;
  OpenError& reason = error ? *error : ignored;
  reason = OpenError::None;

  // Non-blocking: the open must not wait for a carrier, and reads are paced by poll.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = openErrorFor(errno);
    return nullptr;
  }
  if (!isatty(fd)) {
    ::close(fd);
    reason = OpenError::Failed;
    return nullptr;
  }
  // The lock is what makes the port exclusive between processes and between
  // layers of this process; TIOCEXCL keeps out openers that do not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    reason = errno == EWOULDBLOCK ? OpenError::Busy : OpenError::Failed;
    ::close(fd);
    return nullptr;
  }
  ioctl(fd, TIOCEXCL);

  std::unique_ptr<SerialDevice> device(new SerialDevice(fd, path));
  if (!device->configure(9600, Parity::None, false) || !device->setRts(true) ||
      !device->setDtr(false)) {
    reason = OpenError::Failed;
    return nullptr;
  }
  return device;
}

SerialDevice::SerialDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

SerialDevice::~SerialDevice() {
  // The exclusive flag belongs to the terminal, not to this descriptor: it
  // would outlive the close while anyone else keeps the terminal open.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

bool SerialDevice::configure(uint32_t speed, Parity parity, bool checkParity) {
  if (speed == 0) return false;  // speed 0 means "hang up" to a terminal
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) return false;
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
  if (checkParity && parity != Parity::None) settings.c_iflag |= INPCK;
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &=
      ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  if (parity == Parity::Even) settings.c_cflag |= PARENB;
  if (parity == Parity::Odd) settings.c_cflag |= PARENB | PARODD;
  // VMIN 1: with no data a non-blocking read says EAGAIN, so that a read of 0
  // bytes can only mean a hung-up device.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (tcsetattr(fd_, TCSANOW, &settings) != 0) return false;
  if (!SetLineSpeed(fd_, speed)) return false;
  speed_ = speed;
  parity_ = parity;
  return true;
}

bool SerialDevice::setRts(bool on) { return setModemLine(fd_, TIOCM_RTS, on); }

bool SerialDevice::setDtr(bool on) { return setModemLine(fd_, TIOCM_DTR, on); }

ReadResult SerialDevice::read(uint8_t* buffer, std::size_t capacity, uint32_t timeoutMs) {
  ReadResult result;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (result.count < capacity) {
    ssize_t n = ::read(fd_, buffer + result.count, capacity - result.count);
    if (n > 0) {
      result.count += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {  // end of file: the device hung up
      result.failed = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {  // EIO and friends: the device is gone
      result.failed = true;
      break;
    }
    if (Clock::now() >= deadline) break;
    short events = waitFor(fd_, POLLIN, deadline);
    if (events & POLLIN) continue;
    if (events & (POLLHUP | POLLERR | POLLNVAL)) {
      result.failed = true;
      break;
    }
    if (events == 0) break;  // time-out
  }
  return result;
}

bool SerialDevice::write(const uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, data + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      short events =
          waitFor(fd_, POLLOUT, Clock::now() + std::chrono::milliseconds(kWriteStallMs));
      if (events & POLLOUT) continue;
      return false;  // stalled, hung up or failed
    }
    return false;
  }
  return true;
}

bool SerialDevice::purge() { return tcflush(fd_, TCIOFLUSH) == 0; }

int SerialDevice::bytesWaiting() {
  int count = 0;
  if (ioctl(fd_, FIONREAD, &count) != 0) return -1;
  return count;
}

bool SerialDevice::clearErrors() {
  // Linux reports line errors with the data (or not at all): what is left to
  // check is that the device is still there.
  return bytesWaiting() >= 0;
}

}  // namespace platform
