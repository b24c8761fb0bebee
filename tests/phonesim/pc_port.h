// The PC's side of the line in the simulator's tests: a raw termios port on
// the simulator's slave device and the test's own tiny frame encoders, written
// apart from the simulator's so that the two readings check each other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace phonesim_test {

using Bytes = std::vector<uint8_t>;

struct LoaderFrame {
  uint8_t mi = 0;
  Bytes data;
  bool checksum_ok = false;
  Bytes skipped;  // bytes before the frame's preamble
};

class PcPort {
 public:
  PcPort(const std::string& path, unsigned speed);
  ~PcPort();
  PcPort(const PcPort&) = delete;
  PcPort& operator=(const PcPort&) = delete;

  bool ok() const { return fd_ >= 0; }
  void SetSpeed(unsigned speed);
  void Write(const Bytes& bytes);
  void Write(const std::string& text) { Write(Bytes(text.begin(), text.end())); }
  // Everything that arrives until `quiet_ms` pass without a byte (or `max_ms`).
  Bytes ReadQuiet(int quiet_ms, int max_ms = 3000);
  // Reads until `count` bytes arrived or `timeout_ms` passed.
  Bytes Read(size_t count, int timeout_ms);
  // Reads one loader frame (FF FF FF L MI data X); acknowledges it with
  // 0x06 when its checksum holds and `ack` is set.
  std::optional<LoaderFrame> ReadFrame(int timeout_ms, bool ack = true);
  // -1 with errno when the read failed (a pulled cable), else bytes read.
  int RawRead(uint8_t* buffer, size_t capacity, int timeout_ms);
  void Close();

 private:
  int fd_ = -1;
};

Bytes Block(uint32_t address, const Bytes& data);
Bytes Command(uint8_t mi, const Bytes& params);
Bytes BfbFrame(uint8_t type, const Bytes& data);
// An EEPROM request: the bytes and their XOR.
Bytes EesRequest(const Bytes& request);
std::string ToText(const Bytes& bytes);

}  // namespace phonesim_test
