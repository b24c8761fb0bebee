// The phone's end of the serial line: the master side of a pseudo-terminal
// (or a real serial device). On a pty the phone sees the speed the PC set on
// its side, and, through inotify on the slave device, whether the PC has the
// port open; on a real device it sees neither and sets its own speed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace phonesim {

uint32_t ReadLineSpeed(int fd);                 // 0 when unknown
bool SetRawLineSpeed(int fd, uint32_t speed);   // raw 8N1 at any speed

class Line {
 public:
  static std::unique_ptr<Line> OpenPty(std::string* slave_path, std::string* error);
  static std::unique_ptr<Line> OpenDevice(const std::string& path, std::string* error);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  int read_fd() const { return fd_; }
  int notify_fd() const { return notify_fd_; }
  bool closed() const { return fd_ < 0; }

  // The speed the PC's side runs at. On a real device that is unknowable, so
  // it is the phone's own speed and bytes at other speeds arrive garbled.
  uint32_t PcSpeed() const;
  void SetPhoneSpeed(uint32_t speed);

  // Takes pending open/close notifications; true while the PC holds the
  // port open (always true where it cannot be seen).
  bool UpdatePeerOpen();
  bool peer_open() const { return open_count_ > 0; }

  // >0 bytes read, 0 nothing waiting, -1 the line is gone.
  ssize_t Read(uint8_t* buffer, size_t capacity);
  // Writes all bytes, waiting a little while the PC's input queue is full;
  // false when bytes had to be dropped.
  bool Write(const uint8_t* data, size_t length);
  // Pulls the cable: the PC's reads and writes fail from now on.
  void Close();

 private:
  Line() = default;

  int fd_ = -1;
  int slave_fd_ = -1;   // held open so the PC's opens and closes cause no hang-ups
  int notify_fd_ = -1;
  bool pty_ = false;
  int open_count_ = 0;
  uint32_t phone_speed_ = 0;
};

}  // namespace phonesim
