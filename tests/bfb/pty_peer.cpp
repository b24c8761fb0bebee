#include "pty_peer.h"

#include <chrono>
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

PtyPeer::PtyPeer() : table_({{0, pty_.slavePath()}}) {
  if (!pty_.ok()) throw std::runtime_error("openpty failed");
}

PtyPeer::~PtyPeer() {
  stop();
  join();
}

void PtyPeer::start(std::function<void(PtyPeer&)> script) {
  thread_ = std::thread([this, script = std::move(script)] { script(*this); });
}

void PtyPeer::join() {
  if (thread_.joinable()) thread_.join();
}

void PtyPeer::write(const std::vector<uint8_t>& bytes) { pty_.send(bytes); }

void PtyPeer::writeFrame(uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> frame{type, static_cast<uint8_t>(data.size()),
                             static_cast<uint8_t>(type ^ data.size())};
  frame.insert(frame.end(), data.begin(), data.end());
  write(frame);
}

std::vector<uint8_t> PtyPeer::read(std::size_t count, int timeoutMs) {
  return pty_.receive(count, timeoutMs);
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

std::vector<uint8_t> PtyPeer::readUntilQuiet(int quietMs) { return pty_.drain(quietMs); }

uint32_t PtyPeer::speed() const {
  uint32_t speed = 0;
  ReadLineSpeed(pty_.master(), &speed);
  return speed;
}

}  // namespace bfbtest
