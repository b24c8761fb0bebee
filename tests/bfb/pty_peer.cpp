#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace bfbtest {

bool ReadLineSpeed(int fd, uint32_t* speed);

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPeer::PtyPeer() {
  char name[256];
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  char table[] = "/tmp/bfb_serialcomm_XXXXXX";
  int fd = mkstemp(table);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  tablePath_ = table;
  std::string line = "\\Device\\Serial0 COM1 " + slavePath_ + "\n";
  if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    throw std::runtime_error("table write failed");
  }
  close(fd);
  setenv("UPDATETOOL_SERIALCOMM", tablePath_.c_str(), 1);
}

PtyPeer::~PtyPeer() {
  stop();
  join();
  unsetenv("UPDATETOOL_SERIALCOMM");
  std::remove(tablePath_.c_str());
  close(master_);
  close(slave_);
}

void PtyPeer::start(std::function<void(PtyPeer&)> script) {
  thread_ = std::thread([this, script = std::move(script)] { script(*this); });
}

void PtyPeer::join() {
  if (thread_.joinable()) thread_.join();
}

void PtyPeer::write(const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 10);
    }
  }
}

void PtyPeer::writeFrame(uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> frame{type, static_cast<uint8_t>(data.size()),
                             static_cast<uint8_t>(type ^ data.size())};
  frame.insert(frame.end(), data.begin(), data.end());
  write(frame);
}

std::vector<uint8_t> PtyPeer::read(std::size_t count, int timeoutMs) {
  std::vector<uint8_t> bytes;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (bytes.size() < count) {
    uint8_t buffer[256];
    std::size_t want = std::min(sizeof buffer, count - bytes.size());
    ssize_t n = ::read(master_, buffer, want);
    if (n > 0) {
      bytes.insert(bytes.end(), buffer, buffer + n);
      continue;
    }
    int left = remainingMs(deadline);
    if (left == 0) break;
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, std::min(left, 20));
  }
  return bytes;
}

std::optional<Frame> PtyPeer::readFrame(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<uint8_t> header = read(3, timeoutMs);
  if (header.size() < 3 || (header[0] ^ header[1]) != header[2]) return std::nullopt;
  Frame frame;
  frame.type = header[0];
  frame.data = read(header[1], std::max(remainingMs(deadline), 50));
  if (frame.data.size() != header[1]) return std::nullopt;
  return frame;
}

std::vector<uint8_t> PtyPeer::readUntilQuiet(int quietMs) {
  std::vector<uint8_t> bytes;
  for (;;) {
    std::vector<uint8_t> more = read(256, quietMs);
    if (more.empty()) return bytes;
    bytes.insert(bytes.end(), more.begin(), more.end());
  }
}

uint32_t PtyPeer::speed() const {
  uint32_t speed = 0;
  ReadLineSpeed(master_, &speed);
  return speed;
}

}  // namespace bfbtest
