#include "loader_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace enginetest {

LoaderPeer::LoaderPeer() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  slavePath_ = name;
  // Raw from the start: no echo of the peer's bytes before the PC configures the line.
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);

  char dir[] = "/tmp/enginetest.XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp");
  tablePath_ = std::string(dir) + "/serialcomm";
  FILE* table = std::fopen(tablePath_.c_str(), "w");
  if (!table) throw std::runtime_error("device table");
  std::fprintf(table, "\\Device\\Serial0 COM1 %s\n", slavePath_.c_str());
  std::fclose(table);
  setenv("UPDATETOOL_SERIALCOMM", tablePath_.c_str(), 1);
}

LoaderPeer::~LoaderPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  std::remove(tablePath_.c_str());
}

void LoaderPeer::Start(Script script, bool announce) {
  script_ = std::move(script);
  thread_ = std::thread(&LoaderPeer::Run, this, announce);
}

void LoaderPeer::SendByte(uint8_t byte) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  if (master_ >= 0) (void)!write(master_, &byte, 1);
}

void LoaderPeer::SendFrame(uint8_t mi, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, static_cast<uint8_t>(data.size() + 1), mi};
  frame.insert(frame.end(), data.begin(), data.end());
  uint8_t checksum = 0;
  for (size_t i = 3; i < frame.size(); ++i) checksum ^= frame[i];
  frame.push_back(checksum ^ 0xFF);
  ++pendingAcks_;
  std::lock_guard<std::mutex> lock(writeMutex_);
  if (master_ >= 0) (void)!write(master_, frame.data(), frame.size());
}

void LoaderPeer::HangUp() {
  std::lock_guard<std::mutex> lock(writeMutex_);
  // Closing the master hangs the line up for the slave's users.
  stop_ = true;
  close(master_);
  master_ = -1;
}

std::vector<PeerBlock> LoaderPeer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool LoaderPeer::ReadByte(uint8_t* byte, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!stop_) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(writeMutex_);
      fd = master_;
    }
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, 20);
    if (ready > 0 && (p.revents & POLLIN)) {
      if (read(fd, byte, 1) == 1) return true;
    }
    // POLLHUP while no slave is open: the PC has not opened or has closed the port.
    if (ready > 0 && !(p.revents & POLLIN)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
  return false;
}

// True while some process holds the exclusive lock every serial open takes
// on the slave (the PC has the port open).
bool LoaderPeer::SlaveLocked() const {
  struct stat info{};
  if (stat(slavePath_.c_str(), &info) != 0) return false;
  char token[64];
  std::snprintf(token, sizeof token, " %02x:%02x:%lu ", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long>(info.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    if (line.find("FLOCK") != std::string::npos && line.find(token) != std::string::npos) return true;
  }
  return false;
}

// Calls the PC once it has opened the line: a call made earlier would wait
// in the line's queue and be read as a second call later.
bool LoaderPeer::Announce() {
  while (!stop_ && !SlaveLocked()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (stop_) return false;
  SendFrame(0x31, {});
  return true;
}

void LoaderPeer::Run(bool announce) {
  constexpr int kForever = 1 << 30;
  if (announce && !Announce()) return;
  while (!stop_) {
    uint8_t first = 0;
    if (!ReadByte(&first, kForever)) return;
    if (pendingAcks_ > 0 && first == 0x06) {
      --pendingAcks_;
      continue;
    }
    PeerBlock block;
    uint8_t header[3] = {first, 0, 0};
    if (!ReadByte(&header[1], 1000) || !ReadByte(&header[2], 1000)) continue;
    uint8_t length = 0;
    if (!ReadByte(&length, 1000)) continue;
    block.address = static_cast<uint32_t>(header[0]) << 16 | header[1] << 8 | header[2];
    uint8_t checksum = header[0] ^ header[1] ^ header[2] ^ length;
    bool complete = true;
    for (int i = 0; i < length && complete; ++i) {
      uint8_t b = 0;
      complete = ReadByte(&b, 1000);
      block.data.push_back(b);
      checksum ^= b;
    }
    uint8_t sent = 0;
    if (!complete || !ReadByte(&sent, 1000)) continue;
    if (sent != checksum) {
      SendByte(0x15);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(block);
    }
    script_(*this, block);
  }
}

}  // namespace enginetest
