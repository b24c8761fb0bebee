// Test support: a pseudo-terminal whose slave side stands in for a serial
// device and whose master side is the peer (the phone) played by the test.
// The serial layers reach the slave through the device table, which
// SerialTableFile points at the pty.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// A device table file for UPDATETOOL_SERIALCOMM, removed again at the end.
class SerialTableFile {
 public:
  // Entries: port index (0 = COM1) and device path.
  explicit SerialTableFile(const std::vector<std::pair<int, std::string>>& entries) {
    char name[] = "/tmp/serialcomm-XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    std::string text = "# test device table\n";
    for (const auto& [port, device] : entries) {
      text += "\\Device\\Serial" + std::to_string(port) + " COM" + std::to_string(port + 1) +
              " " + device + "\n";
    }
    if (fd >= 0) {
      (void)!::write(fd, text.data(), text.size());
      ::close(fd);
    }
    setenv("UPDATETOOL_SERIALCOMM", path_.c_str(), 1);
  }
  ~SerialTableFile() {
    unsetenv("UPDATETOOL_SERIALCOMM");
    unlink(path_.c_str());
  }
  SerialTableFile(const SerialTableFile&) = delete;
  SerialTableFile& operator=(const SerialTableFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class PtyPeer {
 public:
  PtyPeer() {
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return;
    char name[128] = {};
    if (ttyname_r(slave, name, sizeof name) == 0) slavePath_ = name;
    // Raw from the start, so nothing written before the layer under test
    // configures the line is echoed or translated.
    termios settings{};
    tcgetattr(slave, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave, TCSANOW, &settings);
    // Kept open so that the pty lives on while the layer under test closes
    // and reopens its side.
    slave_ = slave;
  }
  ~PtyPeer() {
    hangUp();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& slavePath() const { return slavePath_; }

  bool send(const Bytes& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Up to `count` bytes, waiting at most `timeoutMs` in all.
  Bytes receive(std::size_t count, int timeoutMs) const {
    Bytes bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left < 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buffer[256];
      std::size_t want = std::min(sizeof buffer, count - bytes.size());
      ssize_t n = ::read(master_, buffer, want);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  // Everything that arrives until the line has been quiet for `quietMs`.
  Bytes drain(int quietMs) const {
    Bytes bytes;
    for (;;) {
      Bytes more = receive(4096, quietMs);
      if (more.empty()) return bytes;
      bytes.insert(bytes.end(), more.begin(), more.end());
    }
  }

  // The cable is pulled: the slave side sees a hang-up.
  void hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace testsupport
