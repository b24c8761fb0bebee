#include "pc_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace phonesim_test {

namespace {

speed_t Code(unsigned speed) {
  switch (speed) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    default: return B0;
  }
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

PcPort::PcPort(const std::string& path, unsigned speed) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios t {};
  tcgetattr(fd_, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&t, Code(speed));
  tcsetattr(fd_, TCSANOW, &t);
}

PcPort::~PcPort() { Close(); }

void PcPort::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PcPort::SetSpeed(unsigned speed) {
  termios t {};
  tcgetattr(fd_, &t);
  cfsetspeed(&t, Code(speed));
  tcsetattr(fd_, TCSANOW, &t);
}

void PcPort::Write(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

int PcPort::RawRead(uint8_t* buffer, size_t capacity, int timeout_ms) {
  pollfd p {fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return 0;
  ssize_t n = read(fd_, buffer, capacity);
  if (n < 0 && errno == EAGAIN) return 0;
  if (n == 0 && (p.revents & POLLHUP)) return -1;  // the other side is gone
  return static_cast<int>(n);
}

Bytes PcPort::ReadQuiet(int quiet_ms, int max_ms) {
  Bytes out;
  const int64_t end = NowMs() + max_ms;
  uint8_t buffer[512];
  while (NowMs() < end) {
    int n = RawRead(buffer, sizeof buffer, quiet_ms);
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

Bytes PcPort::Read(size_t count, int timeout_ms) {
  Bytes out;
  const int64_t end = NowMs() + timeout_ms;
  while (out.size() < count) {
    const int64_t left = end - NowMs();
    if (left <= 0) break;
    uint8_t b;
    if (RawRead(&b, 1, static_cast<int>(left)) != 1) continue;
    out.push_back(b);
  }
  return out;
}

std::optional<LoaderFrame> PcPort::ReadFrame(int timeout_ms, bool ack) {
  LoaderFrame frame;
  const int64_t end = NowMs() + timeout_ms;
  auto next = [&](uint8_t* b) {
    for (;;) {
      const int64_t left = end - NowMs();
      if (left <= 0) return false;
      if (RawRead(b, 1, static_cast<int>(left)) == 1) return true;
    }
  };
  uint8_t b = 0;
  int preamble = 0;
  while (preamble < 3) {
    if (!next(&b)) return std::nullopt;
    if (b == 0xFF) ++preamble;
    else frame.skipped.push_back(b);
  }
  uint8_t length = 0, checksum = 0;
  if (!next(&length) || !next(&frame.mi)) return std::nullopt;
  uint8_t x = 0xFF ^ length ^ frame.mi;
  for (int i = 1; i < length; ++i) {
    if (!next(&b)) return std::nullopt;
    frame.data.push_back(b);
    x ^= b;
  }
  if (!next(&checksum)) return std::nullopt;
  frame.checksum_ok = x == checksum;
  if (frame.checksum_ok && ack) Write(Bytes{0x06});
  return frame;
}

Bytes Block(uint32_t address, const Bytes& data) {
  Bytes out = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
               static_cast<uint8_t>(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  uint8_t x = 0;
  for (uint8_t b : out) x ^= b;
  out.push_back(x);
  return out;
}

Bytes Command(uint8_t mi, const Bytes& params) {
  Bytes data = {mi};
  data.insert(data.end(), params.begin(), params.end());
  return Block(0xFFFFFF, data);
}

Bytes BfbFrame(uint8_t type, const Bytes& data) {
  Bytes out = {type, static_cast<uint8_t>(data.size()), static_cast<uint8_t>(type ^ data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes EesRequest(const Bytes& request) {
  Bytes out = request;
  uint8_t x = 0;
  for (uint8_t b : request) x ^= b;
  out.push_back(x);
  return out;
}

std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace phonesim_test
