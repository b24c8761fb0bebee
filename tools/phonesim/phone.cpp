#include "phone.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "frames.h"

namespace phonesim {

namespace {
constexpr uint32_t kBootRomSpeed = 19200;
constexpr uint32_t kManualStartSpeed = 115200;
constexpr int kManualPollMs = 20;
}  // namespace

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

Phone::Phone(const Scenario& scenario, Line& line, SessionRecord& record)
    : s_(scenario), line_(line), record_(record) {
  InitEeprom();
}

void Phone::Start() {
  mode_ = Mode::kOff;
  switch (s_.initial_mode) {
    case Mode::kLoader:
      EnterLoader(s_.loader_speed, "initial mode");
      break;
    default:
      EnterMode(s_.initial_mode, "initial mode");
      break;
  }
}

void Phone::Run(const std::atomic<bool>& stop, int wake_fd) {
  Start();
  uint8_t buffer[4096];
  while (!stop.load(std::memory_order_acquire) && mode_ != Mode::kClosed) {
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {line_.read_fd(), POLLIN, 0};
    if (line_.notify_fd() >= 0) fds[count++] = {line_.notify_fd(), POLLIN, 0};
    if (wake_fd >= 0) fds[count++] = {wake_fd, POLLIN, 0};
    poll(fds, count, PollTimeoutMs());

    line_.UpdatePeerOpen();
    for (;;) {
      ssize_t n = line_.Read(buffer, sizeof buffer);
      if (n < 0) {
        EnterMode(Mode::kClosed, "the line is gone");
        break;
      }
      if (n == 0) break;
      OnInput(buffer, static_cast<size_t>(n));
      if (mode_ == Mode::kClosed) break;
    }
    if (mode_ == Mode::kClosed) break;
    RunDueTimers();
    CheckResend();
    WatchManualStart();
  }
  record_.SetFinalMode(mode_);
}

void Phone::EnterMode(Mode mode, const std::string& reason) {
  record_.ModeChange(mode_, mode, reason);
  mode_ = mode;
  ++epoch_;
  timers_.clear();
  in_.clear();
  at_line_started_ = false;
  at_last_cr_ = false;
  boot_state_ = 0;
  out_.clear();
  awaiting_ack_ = false;
  manual_since_.reset();
  switch (mode) {
    case Mode::kAt: SetSpeed(s_.at_speeds.empty() ? 115200 : s_.at_speeds.front()); break;
    case Mode::kBfb: SetSpeed(s_.bfb_speed); break;
    case Mode::kOff: SetSpeed(kBootRomSpeed); break;
    case Mode::kLoader: SetSpeed(loader_speed_); break;
    case Mode::kClosed: line_.Close(); break;
    default: break;
  }
  if (mode == Mode::kClosed || mode == Mode::kDead) return;
  Hit({std::string("mode:") + ModeName(mode)});
}

void Phone::After(int ms, std::function<void()> fn) {
  timers_.emplace(Clock::now() + std::chrono::milliseconds(ms), std::make_pair(epoch_, std::move(fn)));
}

void Phone::RunDueTimers() {
  while (!timers_.empty() && timers_.begin()->first <= Clock::now()) {
    auto node = timers_.extract(timers_.begin());
    if (node.mapped().first == epoch_) node.mapped().second();
  }
}

int Phone::PollTimeoutMs() const {
  auto next = Clock::now() + std::chrono::milliseconds(1000);
  if (!timers_.empty()) next = std::min(next, timers_.begin()->first);
  if (awaiting_ack_) next = std::min(next, resend_at_);
  if (!awaiting_ack_ && !out_.empty()) next = std::min(next, send_not_before_);
  int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count());
  if (mode_ == Mode::kSilent) ms = std::min(ms, kManualPollMs);
  return std::max(ms + 1, 0);
}

bool Phone::SpeedMatches(uint32_t pc, uint32_t phone) const {
  if (pc == 0 || phone == 0) return false;
  return std::fabs(static_cast<double>(pc) - phone) <= phone * s_.speed_tolerance_percent / 100.0;
}

bool Phone::Hears(uint32_t speed) const {
  switch (mode_) {
    case Mode::kAt:
      return std::any_of(s_.at_speeds.begin(), s_.at_speeds.end(),
                         [&](uint32_t at) { return SpeedMatches(speed, at); });
    case Mode::kBfb:
    case Mode::kOff:
    case Mode::kLoader:
      return SpeedMatches(speed, speed_);
    default:
      return false;
  }
}

void Phone::SetSpeed(uint32_t speed) {
  speed_ = speed;
  line_.SetPhoneSpeed(speed);
}

void Phone::OnInput(const uint8_t* data, size_t length) {
  const uint32_t pc_speed = line_.PcSpeed();
  if (mode_ == Mode::kSilent || mode_ == Mode::kRebooting || mode_ == Mode::kDead) {
    record_.AddUnheard(length);
    return;
  }
  if (!Hears(pc_speed)) {
    // Bytes at another speed are noise to the phone's UART.
    if (mode_ == Mode::kOff) {
      record_.AddUnheard(length);
    } else {
      record_.Violation(mode_, "wrong_speed",
                        std::to_string(length) + " bytes at " + std::to_string(pc_speed) + " baud, phone listens at " +
                            (mode_ == Mode::kAt ? std::string("its AT speeds") : std::to_string(speed_)));
    }
    return;
  }
  const auto now = Clock::now();
  const bool paused = now - last_byte_ > std::chrono::milliseconds(s_.byte_gap_ms);
  if (mode_ != Mode::kAt && !in_.empty() && paused) {
    record_.Violation(mode_, "incomplete_frame", "dropped after a pause: " + Hex(in_));
    in_.clear();
  }
  if (mode_ == Mode::kOff && boot_state_ > 1 && paused) {
    record_.Violation(mode_, "incomplete_frame", "boot block broke off after " + std::to_string(boot_block_.size()) +
                                                     " bytes");
    boot_state_ = 0;
  }
  last_byte_ = now;
  switch (mode_) {
    case Mode::kAt:
      if (!SpeedMatches(pc_speed, speed_)) SetSpeed(pc_speed);  // autobauding
      AtInput(data, length);
      break;
    case Mode::kBfb: BfbInput(data, length); break;
    case Mode::kOff: BootInput(data, length); break;
    case Mode::kLoader: LoaderInput(data, length); break;
    default: break;
  }
}

void Phone::SendRaw(const std::vector<uint8_t>& bytes) {
  if (mode_ == Mode::kClosed || bytes.empty()) return;
  if (!line_.peer_open()) return;  // nobody listens: the bytes are lost as on a real line
  if (!SpeedMatches(line_.PcSpeed(), speed_)) {
    // The PC's UART at another speed sees framing errors, not our bytes.
    line_.Write(std::vector<uint8_t>(bytes.size(), 0x00).data(), bytes.size());
    return;
  }
  line_.Write(bytes.data(), bytes.size());
}

void Phone::PullCable(const std::string& reason) { EnterMode(Mode::kClosed, reason); }

Phone::FaultAction Phone::Hit(const std::vector<std::string>& keys) {
  FaultAction action;
  for (const auto& key : keys) ++event_counts_[key];
  auto fires = [&](const Point& p) {
    std::string key;
    if (p.loader_command) key = "cmd:" + std::to_string(*p.loader_command);
    if (p.block) key = "block:" + std::to_string(*p.block);
    if (p.bfb_type)
      key = "bfb:" + std::to_string(*p.bfb_type) + (p.bfb_sub ? ":" + std::to_string(*p.bfb_sub) : std::string());
    if (p.at_command) key = "at:" + UpperCase(*p.at_command);
    if (p.mode) key = std::string("mode:") + ModeName(*p.mode);
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) return false;
    return event_counts_[key] == p.occurrence;
  };
  if (s_.close_at && fires(*s_.close_at)) {
    PullCable("fault: close the line");
    action.stop = true;
    return action;
  }
  if (s_.silent_at && fires(*s_.silent_at)) {
    EnterMode(Mode::kDead, "fault: go silent");
    action.stop = true;
    return action;
  }
  for (const auto& e : s_.error_frames)
    if (fires(e.at)) action.error = e.data;
  return action;
}

std::vector<uint8_t> Phone::Decorate(std::vector<uint8_t> wire, const std::vector<std::string>& keys,
                                     bool loader_frame, bool* corrupted) {
  for (const auto& key : keys) ++frame_counts_[key];
  auto matches = [&](const FrameSelector& f) {
    std::string k;
    if (f.mi) k = "mi:" + std::to_string(*f.mi);
    if (f.bfb_type)
      k = "bfb:" + std::to_string(*f.bfb_type) + (f.bfb_sub ? ":" + std::to_string(*f.bfb_sub) : std::string());
    return std::find(keys.begin(), keys.end(), k) != keys.end() && frame_counts_[k] == f.occurrence;
  };
  *corrupted = false;
  for (const auto& f : s_.corrupt_frames) {
    if (!matches(f)) continue;
    // Loader frames carry their XOR last; BFB frames their header check.
    if (loader_frame) wire.back() ^= 0xFF;
    else wire[2] ^= 0xFF;
    *corrupted = true;
  }
  for (const auto& stray : s_.stray_bytes) {
    if (!matches(stray.frame)) continue;
    const size_t at = stray.inside_preamble && loader_frame ? 1 : 0;
    wire.insert(wire.begin() + static_cast<std::ptrdiff_t>(at), stray.bytes.begin(), stray.bytes.end());
  }
  return wire;
}

void Phone::WatchManualStart() {
  if (mode_ != Mode::kSilent) return;
  // The owner presses ON once the PC has held the port open at 115200 for
  // the press delay: a test-open or a speed scan passing by does not count.
  if (!line_.peer_open() || !SpeedMatches(line_.PcSpeed(), kManualStartSpeed)) {
    manual_since_.reset();
    return;
  }
  const auto now = Clock::now();
  if (!manual_since_) manual_since_ = now;
  if (now - *manual_since_ >= std::chrono::milliseconds(s_.manual_press_delay_ms))
    EnterLoader(kManualStartSpeed, "owner pressed ON");
}

}  // namespace phonesim
