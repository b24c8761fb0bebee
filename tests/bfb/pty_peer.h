// The far end of a pseudo-terminal that the library opens as COM1: the test
// plays the phone on the master side, in a thread of its own, in BFB frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_peer.h"

namespace bfbtest {

struct Frame {
  uint8_t type = 0;
  std::vector<uint8_t> data;
};

class PtyPeer {
 public:
  // Creates the pty and maps COM1 (port index 0) to its slave through
  // UPDATETOOL_SERIALCOMM.
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // Runs `script` in the peer thread; join() waits for it to end.
  void start(std::function<void(PtyPeer&)> script);
  void join();
  // Asks a looping script to end (see stopping()).
  void stop() { stop_ = true; }
  bool stopping() const { return stop_; }

  // Master side of the line.
  void write(const std::vector<uint8_t>& bytes);
  void writeFrame(uint8_t type, const std::vector<uint8_t>& data);
  // Up to `count` bytes that arrive within `timeoutMs` in all.
  std::vector<uint8_t> read(std::size_t count, int timeoutMs);
  // One well-formed frame within `timeoutMs` (no resynchronisation).
  std::optional<Frame> readFrame(int timeoutMs);
  // Everything that arrives until the line has been quiet for `quietMs`.
  std::vector<uint8_t> readUntilQuiet(int quietMs);

  // Line speed the library gave the port (a pty keeps no parity bit).
  uint32_t speed() const;

  const std::string& slavePath() const { return pty_.slavePath(); }

 private:
  testsupport::PtyPeer pty_;
  testsupport::SerialTableFile table_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace bfbtest
