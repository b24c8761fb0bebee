// A scripted flash-loader peer on the master side of a pseudo-terminal, for
// tests where one exchange is enough. COM1 (port index 0) is mapped to the
// slave through UPDATETOOL_SERIALCOMM. The script is called for every block
// the PC sends and answers it with single bytes and frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

struct PeerBlock {
  uint32_t address = 0;
  std::vector<uint8_t> data;  // for a command frame: MI, then the parameters

  bool isCommand() const { return address == 0xFFFFFF && !data.empty(); }
  uint8_t mi() const { return isCommand() ? data[0] : 0; }
  std::vector<uint8_t> params() const {
    return isCommand() ? std::vector<uint8_t>(data.begin() + 1, data.end()) : std::vector<uint8_t>{};
  }
};

class LoaderPeer {
 public:
  using Script = std::function<void(LoaderPeer& peer, const PeerBlock& block)>;

  LoaderPeer();
  ~LoaderPeer();
  LoaderPeer(const LoaderPeer&) = delete;
  LoaderPeer& operator=(const LoaderPeer&) = delete;

  // Starts answering. With `announce` the peer first calls the PC like a
  // starting loader (frame 0x31) as soon as the PC has opened the port.
  void Start(Script script, bool announce = true);

  // To the PC (from the script or from the test).
  void SendByte(uint8_t byte);
  void SendFrame(uint8_t mi, const std::vector<uint8_t>& data);
  // The cable is pulled: the master side closes, the PC's reads fail.
  void HangUp();

  std::vector<PeerBlock> Received();

  const std::string& slavePath() const { return slavePath_; }

 private:
  void Run(bool announce);
  bool Announce();
  bool SlaveLocked() const;
  bool ReadByte(uint8_t* byte, int timeoutMs);

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string tablePath_;
  Script script_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> pendingAcks_{0};
  std::mutex writeMutex_;
  std::mutex mutex_;
  std::vector<PeerBlock> received_;
};

}  // namespace enginetest
