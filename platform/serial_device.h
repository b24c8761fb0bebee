// A serial device opened for exclusive use: termios on Linux. Everything above
// the platform layer works through this class (and the device table), never
// through the operating system's serial calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class Parity { None, Even, Odd };

enum class OpenError {
  None,
  NotFound,  // no such device path
  Busy,      // held by another opener (this process or another one)
  Failed,    // any other reason (not a terminal, permission, ...)
};

// Result of a read: the bytes that arrived within the time-out, and whether
// the device failed (a USB cable pulled: EOF, EIO, POLLHUP/POLLERR). A failed
// device reports at once; it never makes the caller wait out its time-outs.
struct ReadResult {
  std::size_t count = 0;
  bool failed = false;
};

class SerialDevice {
 public:
  // Opens `path` for reading and writing, exclusively (flock LOCK_EX|LOCK_NB
  // and TIOCEXCL), in raw mode: 8 data bits, no parity, 1 stop bit, no flow
  // control, 9600 baud, RTS on and DTR off. nullptr on failure, with the reason.
  static std::unique_ptr<SerialDevice> open(const std::string& path, OpenError* error);

  ~SerialDevice();  // closes the device and releases the lock
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Applies speed (any value: non-standard speeds via termios2/BOTHER) and
  // parity (with input parity checking for Even and Odd when `checkParity`).
  bool configure(uint32_t speed, Parity parity, bool checkParity);
  uint32_t speed() const { return speed_; }
  Parity parity() const { return parity_; }

  // Modem lines. Devices without them (pseudo-terminals) count as success.
  bool setRts(bool on);
  bool setDtr(bool on);

  // Reads up to `capacity` bytes, returning when all have arrived or when
  // `timeoutMs` have passed since the call began (a total time-out per read).
  ReadResult read(uint8_t* buffer, std::size_t capacity, uint32_t timeoutMs);
  // Writes all bytes (blocking until they are handed to the driver).
  bool write(const uint8_t* data, std::size_t count);
  // Discards pending input and output.
  bool purge();
  // Bytes waiting in the input queue, or -1 when the device failed.
  int bytesWaiting();
  // Clears pending line errors (break, framing, parity); nothing to do on Linux
  // beyond what the driver reports, kept for the callers' protocol steps.
  bool clearErrors();

  const std::string& path() const { return path_; }

 private:
  SerialDevice(int fd, std::string path);
  int fd_;
  std::string path_;
  uint32_t speed_ = 9600;
  Parity parity_ = Parity::None;
};

}  // namespace platform
