// The normal software's data port in AT command mode: a modem with echo on.
// A command line starts with 'A' or 'a' and ends with CR; what comes before
// the 'A' (a BFB ping, line noise) is dropped without echo, as a modem does
// while it hunts for "AT".
#include "frames.h"
#include "phone.h"

namespace phonesim {

void Phone::AtInput(const uint8_t* data, size_t length) {
  std::vector<uint8_t> echo;
  std::vector<std::string> commands;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    if (!at_line_started_) {
      if (b == '\n' && at_last_cr_) echo.push_back(b);  // the LF of a CR LF ending
      at_last_cr_ = false;
      if (b != 'A' && b != 'a') continue;
      at_line_started_ = true;
    }
    echo.push_back(b);
    if (b == '\r') {
      commands.emplace_back(in_.begin(), in_.end());
      in_.clear();
      at_line_started_ = false;
      at_last_cr_ = true;
      continue;
    }
    if (in_.size() < 256) in_.push_back(b);
  }
  if (s_.at_echo) SendRaw(echo);
  for (const auto& command : commands) {
    if (mode_ != Mode::kAt) break;
    AtCommand(command);
  }
}

void Phone::AtCommand(const std::string& command) {
  const std::string upper = UpperCase(command);
  const FaultAction fault = Hit({"at:" + upper});
  if (fault.stop) return;

  auto reply = [&](const std::string& text) {
    SendRaw(std::vector<uint8_t>(text.begin(), text.end()));
    std::string shown = text;
    record_.Exchange(Mode::kAt, "at", command, "", shown);
  };

  if (upper == "AT+CGSN;I9") {
    if (s_.at_error_until_sqwe2 && !sqwe2_seen_) {
      reply("ERROR\r\n");
      return;
    }
    reply(s_.identity + "\r\n" + s_.imei + "\r\n\r\nOK\r\n");
    return;
  }
  if (upper == "AT^SQWE=2") {
    sqwe2_seen_ = true;
    reply("OK\r\n");
    return;
  }
  if (upper == "AT^SQWE=1" || upper == "AT^SBFB=1") {
    reply("OK\r\n");
    EnterMode(Mode::kBfb, command);
    return;
  }
  if (upper == "AT" || upper == "ATE1" || upper == "ATZ") {
    reply("OK\r\n");
    return;
  }
  record_.Violation(Mode::kAt, "unknown_command", "AT command \"" + command + "\"");
  reply("ERROR\r\n");
}

}  // namespace phonesim
