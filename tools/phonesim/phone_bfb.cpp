// BFB mode of the normal software: ping, information and control requests,
// and the EEPROM blocks. Frames are type, length, type XOR length, data; a
// header that does not check makes the phone slide one byte on.
#include "frames.h"
#include "phone.h"

namespace phonesim {

namespace {
constexpr uint8_t kPing = 0x02;
constexpr uint8_t kInfo = 0x0E;
constexpr uint8_t kEeprom = 0x14;
}  // namespace

void Phone::BfbInput(const uint8_t* data, size_t length) {
  in_.insert(in_.end(), data, data + length);
  size_t skipped = 0;
  while (in_.size() >= 3 && mode_ == Mode::kBfb) {
    const uint8_t type = in_[0], n = in_[1];
    if ((type ^ n) != in_[2] || n == 0 || n > kMaxBfbData) {
      in_.erase(in_.begin());
      ++skipped;
      continue;
    }
    if (in_.size() < 3u + n) break;
    if (skipped) {
      record_.Violation(Mode::kBfb, "bad_header", std::to_string(skipped) + " bytes skipped before a frame");
      skipped = 0;
    }
    std::vector<uint8_t> frame(in_.begin() + 3, in_.begin() + 3 + n);
    in_.erase(in_.begin(), in_.begin() + 3 + n);
    BfbFrame(type, frame);
  }
  if (skipped) record_.Violation(Mode::kBfb, "bad_header", std::to_string(skipped) + " bytes skipped");
}

void Phone::SendBfb(uint8_t type, const std::vector<uint8_t>& data) {
  bool corrupted = false;
  std::vector<std::string> keys = {"bfb:" + std::to_string(type)};
  if (!data.empty()) keys.push_back(keys[0] + ":" + std::to_string(data[0]));
  SendRaw(Decorate(EncodeBfbFrame(type, data), keys, false, &corrupted));
}

void Phone::BfbFrame(uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<std::string> keys = {"bfb:" + std::to_string(type), "bfb:" + std::to_string(type) + ":" +
                                                                      std::to_string(data[0])};
  const FaultAction fault = Hit(keys);
  if (fault.stop) return;
  switch (type) {
    case kPing:
      if (data[0] == 0x14) {
        SendBfb(kPing, {0x14, 0xAA});
        record_.Exchange(Mode::kBfb, "bfb", "0x02 ping", Hex(data), "0x02 [14 AA]");
        return;
      }
      break;
    case kInfo:
      BfbInfo(data, fault);
      return;
    case kEeprom:
      EepromRequest(data);
      return;
    default:
      break;
  }
  record_.Violation(Mode::kBfb, "unknown_command", "BFB frame type " + HexByte(type) + " [" + Hex(data) + "]");
  record_.Exchange(Mode::kBfb, "bfb", HexByte(type), Hex(data), "none");
}

void Phone::BfbInfo(const std::vector<uint8_t>& data, const FaultAction&) {
  const uint8_t sub = data[0];
  std::vector<uint8_t> answer = {sub};
  std::string what = "0x0E " + HexByte(sub);
  std::optional<uint32_t> reboot_speed;
  bool switch_off = false;
  switch (sub) {
    case 0x02:
      what += " voltage";
      PutLe16(answer, s_.voltage_mv);
      break;
    case 0x03:
      what += " software version";
      answer.push_back(s_.svn);
      answer.push_back(s_.software_version_high);
      break;
    case 0x07:
      what += " product type";
      PutFixedText(answer, s_.product_type, 16);
      break;
    case 0x08:
      what += " compile date";
      PutFixedText(answer, s_.compile_date, 8);
      break;
    case 0x20:
      what += " customer reboot";
      if (data.size() < 6 || Le32(&data[2]) == 0) {
        record_.Violation(Mode::kBfb, "bad_parameters", "customer reboot without a speed: [" + Hex(data) + "]");
        record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "none");
        return;
      }
      reboot_speed = Le32(&data[2]);
      answer.push_back(0x00);
      break;
    case 0x21:
      what += " put count";
      PutLe32(answer, s_.put_count);
      PutFixedText(answer, s_.directory, 16);
      break;
    case 0x04:
      what += " switch off";
      switch_off = true;
      break;
    default:
      record_.Violation(Mode::kBfb, "unknown_command", "information request " + HexByte(sub));
      record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "none");
      return;
  }
  SendBfb(kInfo, answer);
  record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "0x0E [" + Hex(answer) + "]");
  if (switch_off) {
    EnterMode(Mode::kOff, "switch-off request");
  } else if (reboot_speed) {
    const uint32_t speed = *reboot_speed;
    EnterMode(Mode::kRebooting, "customer reboot at " + std::to_string(speed) + " baud");
    After(s_.customer_reboot_ms, [this, speed] { EnterLoader(speed, "customer reboot"); });
  }
}

}  // namespace phonesim
