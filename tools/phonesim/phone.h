// The simulated phone: one state machine that moves between its modes (off
// with the boot ROM listening, AT commands, BFB, silent for a manual start,
// rebooting, flash loader) and answers on the line the way the phone does.
// Everything here runs on the simulator's one thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line.h"
#include "phonesim/scenario.h"
#include "session_record.h"

namespace phonesim {

std::string UpperCase(std::string text);

class Phone {
 public:
  Phone(const Scenario& scenario, Line& line, SessionRecord& record);

  // Plays the phone until `stop` is set or the line is gone. `wake_fd`
  // becomes readable when the owner wants the loop to look at `stop`.
  void Run(const std::atomic<bool>& stop, int wake_fd);

 private:
  using Clock = std::chrono::steady_clock;

  // What a fault point asks of the event that reached it.
  struct FaultAction {
    bool stop = false;                       // the phone went silent or the line was pulled
    std::optional<std::vector<uint8_t>> error;  // send this MI 0x18 frame instead of the answer
  };

  // A frame of the loader waiting to be sent or acknowledged.
  struct Outgoing {
    uint8_t mi = 0;
    std::vector<uint8_t> data;
    bool announce = false;         // repeated at the announce interval without limit
    int delay_ms = 0;              // wait this long before the first send
    std::function<void()> after;   // once acknowledged or given up
  };

  struct EepromBlock {
    int size = 0;
    uint8_t mode = 0xFF;
    std::vector<uint8_t> data;
  };

  // --- core (phone.cpp)
  void Start();
  void EnterMode(Mode mode, const std::string& reason);
  void After(int ms, std::function<void()> fn);
  void RunDueTimers();
  int PollTimeoutMs() const;
  void OnInput(const uint8_t* data, size_t length);
  bool Hears(uint32_t speed) const;
  bool SpeedMatches(uint32_t pc, uint32_t phone) const;
  void SetSpeed(uint32_t speed);
  void SendRaw(const std::vector<uint8_t>& bytes);
  FaultAction Hit(const std::vector<std::string>& keys);
  void PullCable(const std::string& reason);
  // Applies stray-byte and checksum faults to one of the phone's frames.
  std::vector<uint8_t> Decorate(std::vector<uint8_t> wire, const std::vector<std::string>& keys,
                                bool loader_frame, bool* corrupted);
  void WatchManualStart();

  // --- AT commands (phone_at.cpp)
  void AtInput(const uint8_t* data, size_t length);
  void AtCommand(const std::string& command);

  // --- BFB (phone_bfb.cpp)
  void BfbInput(const uint8_t* data, size_t length);
  void BfbFrame(uint8_t type, const std::vector<uint8_t>& data);
  void BfbInfo(const std::vector<uint8_t>& data, const FaultAction& fault);
  void SendBfb(uint8_t type, const std::vector<uint8_t>& data);

  // --- EEPROM blocks over BFB (phone_eeprom.cpp)
  void InitEeprom();
  void EepromRequest(const std::vector<uint8_t>& data);
  std::vector<uint8_t> EepromAnswer(const std::vector<uint8_t>& request, std::string* what);
  void SendEeprom(const std::vector<uint8_t>& answer);

  // --- boot ROM (phone_boot.cpp)
  void BootInput(const uint8_t* data, size_t length);

  // --- flash loader (phone_loader.cpp)
  void EnterLoader(uint32_t speed, const std::string& reason);
  void LoaderInput(const uint8_t* data, size_t length);
  void LoaderUnit(const std::vector<uint8_t>& unit);
  void LoaderBlock(uint32_t address, const std::vector<uint8_t>& data);
  void LoaderCommand(uint8_t mi, const std::vector<uint8_t>& params);
  void SignatureCommand(const std::vector<uint8_t>& params, const FaultAction& fault, std::string* answer);
  void QueueFrame(Outgoing frame);
  void SendNextFrame();
  void SendByte(uint8_t byte);
  void OnAck();
  void CheckResend();
  void Answer(uint8_t mi, std::vector<uint8_t> data, const FaultAction& fault, std::string* answer,
              std::function<void()> after = nullptr);

  const Scenario& s_;
  Line& line_;
  SessionRecord& record_;

  Mode mode_ = Mode::kOff;
  uint32_t speed_ = 0;          // the speed the phone talks at now
  uint64_t epoch_ = 0;          // a mode change cancels the timers of the old mode
  std::multimap<Clock::time_point, std::pair<uint64_t, std::function<void()>>> timers_;
  std::map<std::string, int> event_counts_;
  std::map<std::string, int> frame_counts_;
  std::vector<uint8_t> in_;     // bytes of a frame or line not complete yet
  Clock::time_point last_byte_{};

  // AT
  bool at_line_started_ = false;
  bool at_last_cr_ = false;
  bool sqwe2_seen_ = false;

  // BFB and EEPROM
  std::map<int, EepromBlock> eeprom_;
  std::optional<int> open_block_;
  EepromBlock open_data_;
  int busy_opens_sent_ = 0;
  std::map<int, int> refusals_sent_;

  // Boot ROM: 0 waiting for 0x55, 1 waiting for the length, 2 block, 3 XOR
  int boot_state_ = 0;
  size_t boot_length_ = 0;
  std::vector<uint8_t> boot_block_;

  // Loader
  uint32_t loader_speed_ = 0;
  std::deque<Outgoing> out_;
  bool awaiting_ack_ = false;
  bool sent_corrupted_ = false;
  int sends_ = 0;
  Clock::time_point resend_at_{};
  Clock::time_point send_not_before_{};
  std::vector<uint8_t> clean_wire_;
  int blocks_accepted_ = 0;
  std::map<int, int> naks_sent_;
  std::map<int, bool> busy_done_;
  std::vector<uint8_t> signature_;
  std::vector<uint8_t> hash_list_;
  int signature_expected_ = -1;
  std::vector<uint8_t> additional_info_;
  int additional_expected_ = -1;
  nlohmann::json signature_note_ = nlohmann::json::object();

  // Manual start
  std::optional<Clock::time_point> manual_since_;
};

}  // namespace phonesim
