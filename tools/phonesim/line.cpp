#include "line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace phonesim {

namespace {

// The slave starts as a plain serial port would: raw, 8N1, 38400 baud.
void MakeRawSlave(int fd) {
  termios t {};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

std::unique_ptr<Line> Line::OpenPty(std::string* slave_path, std::string* error) {
  std::unique_ptr<Line> line(new Line());
  line->pty_ = true;
  line->fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (line->fd_ < 0 || grantpt(line->fd_) != 0 || unlockpt(line->fd_) != 0) {
    if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  char name[128];
  if (ptsname_r(line->fd_, name, sizeof name) != 0) {
    if (error) *error = "cannot name the pseudo-terminal's slave";
    return nullptr;
  }
  line->slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (line->slave_fd_ < 0) {
    if (error) *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    return nullptr;
  }
  MakeRawSlave(line->slave_fd_);
  // The watch is set after our own open, so only the PC's opens count.
  line->notify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (line->notify_fd_ >= 0 && inotify_add_watch(line->notify_fd_, name, IN_OPEN | IN_CLOSE) < 0) {
    close(line->notify_fd_);
    line->notify_fd_ = -1;
  }
  if (line->notify_fd_ < 0) line->open_count_ = 1;  // cannot see opens: assume open
  *slave_path = name;
  return line;
}

std::unique_ptr<Line> Line::OpenDevice(const std::string& path, std::string* error) {
  std::unique_ptr<Line> line(new Line());
  line->fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (line->fd_ < 0) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!SetRawLineSpeed(line->fd_, 57600)) {
    if (error) *error = path + " is not a serial device";
    return nullptr;
  }
  line->phone_speed_ = 57600;
  line->open_count_ = 1;
  return line;
}

Line::~Line() { Close(); }

uint32_t Line::PcSpeed() const {
  if (fd_ < 0) return 0;
  if (!pty_) return phone_speed_;
  return ReadLineSpeed(fd_);
}

void Line::SetPhoneSpeed(uint32_t speed) {
  if (speed == phone_speed_) return;
  phone_speed_ = speed;
  if (!pty_ && fd_ >= 0) SetRawLineSpeed(fd_, speed);
}

bool Line::UpdatePeerOpen() {
  if (notify_fd_ < 0) return peer_open();
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = read(notify_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (char* p = buffer; p < buffer + n;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      if (event->mask & IN_OPEN) ++open_count_;
      if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        if (open_count_ > 0) --open_count_;
        if (open_count_ == 0 && slave_fd_ >= 0) {
          // As on a real port, what the PC left unread goes with its close,
          // and a closed port is not held exclusively any more.
          tcflush(slave_fd_, TCIFLUSH);
          ioctl(slave_fd_, TIOCNXCL);
        }
      }
      p += sizeof(inotify_event) + event->len;
    }
  }
  return peer_open();
}

ssize_t Line::Read(uint8_t* buffer, size_t capacity) {
  if (fd_ < 0) return -1;
  ssize_t n = read(fd_, buffer, capacity);
  if (n > 0) return n;
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  // A pty master reads EIO while no one has the slave open; we hold it, so
  // this is a real end of the line (a device unplugged).
  return n == 0 && pty_ ? 0 : -1;
}

bool Line::Write(const uint8_t* data, size_t length) {
  size_t done = 0;
  int waits = 0;
  while (fd_ >= 0 && done < length) {
    ssize_t n = write(fd_, data + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && waits++ < 20) {
      pollfd p {fd_, POLLOUT, 0};
      poll(&p, 1, 10);
      continue;
    }
    return false;
  }
  return done == length;
}

void Line::Close() {
  if (notify_fd_ >= 0) close(notify_fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
  if (fd_ >= 0) close(fd_);
  notify_fd_ = slave_fd_ = fd_ = -1;
  open_count_ = 0;
}

}  // namespace phonesim
