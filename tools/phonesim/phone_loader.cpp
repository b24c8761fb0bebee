// The flash loader: it announces itself with MI 0x31 until the PC
// acknowledges, then takes blocks (3-byte address, length, data, XOR). Blocks
// addressed FF FF FF are command frames; the others are written into the
// flash. Every frame the loader sends waits for the PC's 0x06 and is sent
// again after the acknowledgement time-out.
#include <algorithm>

#include "frames.h"
#include "phone.h"

namespace phonesim {

namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kBusy = 0x9B;
constexpr uint32_t kCommandAddress = 0xFFFFFF;

// Parameter bytes each command must carry (-1: 1..62, the additional info).
int ExpectedParams(uint8_t mi) {
  switch (mi) {
    case 0x04: case 0x21: case 0x58: case 0x59: case 0x96: case 0xC2: case 0xF0: return 0;
    case 0x32: case 0xD0: case 0xD2: return 1;
    case 0x55: case 0x57: case 0x94: case 0xA0: return 2;
    case 0x53: case 0xC8: return 8;
    case 0x80: return 10;
    case 0xB8: return 12;
    case 0xCE: return 16;
    case 0x95: return -1;
    default: return -2;  // unknown here; 0x60 is checked by its sub-code
  }
}

const char* CommandName(uint8_t mi) {
  switch (mi) {
    case 0x04: return "end of transmission";
    case 0x21: return "flash size";
    case 0x32: return "flash code";
    case 0x53: return "erase area";
    case 0x55: return "erase block";
    case 0x57: return "write enable block";
    case 0x58: return "write enable flash";
    case 0x59: return "erase new concept";
    case 0x60: return "signature";
    case 0x80: return "compression";
    case 0x94: return "additional info start";
    case 0x95: return "additional info";
    case 0x96: return "additional info end";
    case 0xA0: return "transfer setup";
    case 0xB8: return "new split";
    case 0xC2: return "software version";
    case 0xC8: return "split info";
    case 0xCE: return "language group";
    case 0xD0: return "block time-out";
    case 0xD2: return "byte time-out";
    case 0xF0: return "switch off";
    default: return "unknown";
  }
}

}  // namespace

void Phone::EnterLoader(uint32_t speed, const std::string& reason) {
  loader_speed_ = speed;
  EnterMode(Mode::kLoader, reason + ", loader at " + std::to_string(speed) + " baud");
  if (mode_ != Mode::kLoader) return;  // a fault point took the phone away
  Outgoing announce;
  announce.mi = 0x31;
  announce.data = s_.announce_data;
  announce.announce = true;
  announce.after = [this] { record_.Exchange(Mode::kLoader, "loader", "0x31 announce", "", "acknowledged"); };
  QueueFrame(std::move(announce));
}

void Phone::SendByte(uint8_t byte) { SendRaw({byte}); }

void Phone::LoaderInput(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length && mode_ == Mode::kLoader; ++i) {
    const uint8_t b = data[i];
    if (in_.empty() && awaiting_ack_) {
      if (b == kAck) {
        OnAck();
        continue;
      }
      if (b == kNak) {
        record_.Violation(Mode::kLoader, "nak_from_pc", "the PC answered a frame with 0x15; sending it again");
        resend_at_ = Clock::now();
        continue;
      }
    }
    in_.push_back(b);
    // A second acknowledgement of one frame (a repeat crossed the PC's 0x06)
    // shows as 06 FF FF FF: no block has length 0xFF, so drop the 06.
    if (in_.size() == 4 && in_[0] == kAck && in_[1] == 0xFF && in_[2] == 0xFF && in_[3] == 0xFF) {
      in_.erase(in_.begin());
      continue;
    }
    if (in_.size() < 4) continue;
    const size_t total = static_cast<size_t>(in_[3]) + 5;
    if (in_[3] == 0) {
      record_.Violation(Mode::kLoader, "bad_length", "block with length 0: " + Hex(in_));
      in_.clear();
      SendByte(kNak);
      continue;
    }
    if (in_.size() < total) continue;
    std::vector<uint8_t> unit;
    unit.swap(in_);
    LoaderUnit(unit);
  }
}

void Phone::LoaderUnit(const std::vector<uint8_t>& unit) {
  const size_t length = unit[3];
  const uint32_t address = static_cast<uint32_t>(unit[0]) << 16 | unit[1] << 8 | unit[2];
  if (length > kMaxLoaderData) {
    record_.Violation(Mode::kLoader, "block_too_long",
                      "block at " + Hex(unit.data(), 3) + " with " + std::to_string(length) + " data bytes");
    SendByte(kNak);
    return;
  }
  const uint8_t expected = XorOf(unit.data(), length + 4);
  if (expected != unit[length + 4]) {
    record_.Violation(Mode::kLoader, "bad_checksum",
                      "block at " + Hex(unit.data(), 3) + " XOR " + HexByte(unit[length + 4]) + ", expected " +
                          HexByte(expected));
    SendByte(kNak);
    return;
  }
  if (awaiting_ack_) {
    // The PC went on without acknowledging the frame it was sent.
    if (!sent_corrupted_ || sends_ > 1)
      record_.Violation(Mode::kLoader, "frame_unacknowledged", "frame " + HexByte(out_.front().mi));
    auto after = std::move(out_.front().after);
    out_.pop_front();
    awaiting_ack_ = false;
    if (after) after();
    if (mode_ != Mode::kLoader) return;
  }
  if (address == kCommandAddress) {
    LoaderCommand(unit[4], std::vector<uint8_t>(unit.begin() + 5, unit.begin() + 4 + static_cast<std::ptrdiff_t>(length)));
  } else {
    LoaderBlock(address, std::vector<uint8_t>(unit.begin() + 4, unit.begin() + 4 + static_cast<std::ptrdiff_t>(length)));
  }
}

void Phone::LoaderBlock(uint32_t address, const std::vector<uint8_t>& data) {
  const int index = blocks_accepted_;
  const FaultAction fault = Hit({"block:" + std::to_string(index)});
  if (fault.stop) return;
  const std::string what = "block " + std::to_string(index) + " at " + HexByte(address >> 16) +
                           Hex(std::vector<uint8_t>{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)}) +
                           ", " + std::to_string(data.size()) + " bytes";
  for (const auto& nak : s_.nak_blocks) {
    if (nak.block != index || naks_sent_[index] >= nak.count) continue;
    ++naks_sent_[index];
    SendByte(kNak);
    record_.Exchange(Mode::kLoader, "block", what, "", "NAK (injected)");
    return;
  }
  if (fault.error) {
    QueueFrame(Outgoing{0x18, *fault.error, false, 0, nullptr});
    record_.Exchange(Mode::kLoader, "block", what, "", "error frame 0x18 [" + Hex(*fault.error) + "]");
    return;
  }
  auto accept = [this, address, data, index] {
    const uint64_t flash_bytes = static_cast<uint64_t>(s_.flash_size_mbit) * 0x20000;
    if (address + data.size() > flash_bytes)
      record_.Violation(Mode::kLoader, "beyond_flash", "block " + std::to_string(index) + " ends past the flash size");
    record_.FlashWrite(address, data.data(), data.size());
    record_.DataBlock(index, address, static_cast<int>(data.size()));
    ++blocks_accepted_;
    SendByte(kAck);
  };
  for (const auto& busy : s_.busy_blocks) {
    if (busy.block != index || busy_done_[index]) continue;
    busy_done_[index] = true;
    SendByte(kBusy);
    record_.Exchange(Mode::kLoader, "block", what, "", "busy 0x9B, ACK after " + std::to_string(busy.delay_ms) + " ms");
    After(busy.delay_ms, accept);
    return;
  }
  accept();
}

void Phone::Answer(uint8_t mi, std::vector<uint8_t> data, const FaultAction& fault, std::string* answer,
                   std::function<void()> after) {
  if (fault.error) {
    *answer += " + error frame 0x18 [" + Hex(*fault.error) + "]";
    QueueFrame(Outgoing{0x18, *fault.error, false, 0, nullptr});
    return;
  }
  *answer += " + frame " + HexByte(mi) + " [" + Hex(data) + "]";
  QueueFrame(Outgoing{mi, std::move(data), false, 0, std::move(after)});
}

void Phone::LoaderCommand(uint8_t mi, const std::vector<uint8_t>& p) {
  const FaultAction fault = Hit({"cmd:" + std::to_string(mi)});
  if (fault.stop) return;
  const std::string what = HexByte(mi) + " " + CommandName(mi);
  const int expected = ExpectedParams(mi);
  const bool unknown = expected == -2 && !(mi == 0x60 && s_.signature_enabled);
  if (unknown) {
    record_.Violation(Mode::kLoader, "unknown_command", "loader command " + HexByte(mi));
    if (s_.unknown_command_nak) SendByte(kNak);
    record_.Exchange(Mode::kLoader, "loader", what, Hex(p), s_.unknown_command_nak ? "NAK" : "none");
    return;
  }
  if ((expected >= 0 && p.size() != static_cast<size_t>(expected)) ||
      (expected == -1 && (p.empty() || p.size() > 62)) || (mi == 0x60 && p.empty())) {
    record_.Violation(Mode::kLoader, "bad_parameters", what + " with " + std::to_string(p.size()) + " parameter bytes");
    SendByte(kNak);
    record_.Exchange(Mode::kLoader, "loader", what, Hex(p), "NAK");
    return;
  }

  std::string answer = "ACK";
  if (mi == 0x60) {
    SignatureCommand(p, fault, &answer);
    record_.Exchange(Mode::kLoader, "loader", what, Hex(p), answer);
    return;
  }
  SendByte(kAck);
  std::vector<uint8_t> data;
  switch (mi) {
    case 0x04:  // end of transmission: status frame, then the normal software
      Answer(0x00, s_.eot_data, fault, &answer, [this] {
        After(s_.restart_after_update_ms, [this] { EnterMode(s_.mode_after_update, "restart after the update"); });
      });
      break;
    case 0x21:
      PutLe16(data, s_.flash_size_mbit);
      Answer(0x22, data, fault, &answer);
      break;
    case 0x32:
      data = {s_.flash_code_status};
      PutLe16(data, s_.flash_code);
      Answer(0x33, data, fault, &answer);
      break;
    case 0x53: {  // address range to erase blocks
      const uint32_t first = Be32(&p[0]), last = Be32(&p[4]);
      const uint64_t flash_bytes = static_cast<uint64_t>(s_.flash_size_mbit) * 0x20000;
      const bool inside = first >= s_.flash_base && last >= first && last - s_.flash_base < flash_bytes &&
                          (last - s_.flash_base) / s_.erase_block_size <= 0xFF;
      if (inside) {
        data = {0x00, static_cast<uint8_t>((first - s_.flash_base) / s_.erase_block_size),
                static_cast<uint8_t>((last - s_.flash_base) / s_.erase_block_size)};
      } else {
        data = {0xFF, 0x00, 0x00};
      }
      Answer(0x54, data, fault, &answer);
      break;
    }
    case 0x55: {
      if (p[0] != p[1]) record_.Violation(Mode::kLoader, "bad_parameters", "erase block bytes differ: " + Hex(p));
      if (!fault.error) record_.FlashErase(p[0] * s_.erase_block_size, s_.erase_block_size);
      Answer(0x56, {p[0]}, fault, &answer);
      break;
    }
    case 0x57: case 0x58: case 0x94: case 0x95: case 0x96: case 0xA0: case 0xD0: case 0xD2:
      if (mi == 0x94) {
        additional_expected_ = Le16(p.data());
        additional_info_.clear();
      } else if (mi == 0x95) {
        additional_info_.insert(additional_info_.end(), p.begin(), p.end());
        if (additional_expected_ < 0 || additional_info_.size() > static_cast<size_t>(additional_expected_))
          record_.Violation(Mode::kLoader, "bad_parameters", "more additional information than announced");
      } else if (mi == 0x96) {
        if (static_cast<int>(additional_info_.size()) != additional_expected_)
          record_.Violation(Mode::kLoader, "bad_parameters",
                            "additional information of " + std::to_string(additional_info_.size()) +
                                " bytes, announced " + std::to_string(additional_expected_));
        record_.Note("additional_info", Hex(additional_info_));
      }
      if (fault.error) Answer(0x18, {}, fault, &answer);
      break;
    case 0x59: {  // the loader erases its flash itself and reports progress
      if (fault.error) {
        Answer(0x5B, {}, fault, &answer);
        break;
      }
      if (!s_.new_concept_erase) {
        Answer(0x5B, {0xAA}, fault, &answer);
        break;
      }
      record_.FlashErase(0, static_cast<uint32_t>(std::min<uint64_t>(
                                static_cast<uint64_t>(s_.flash_size_mbit) * 0x20000, 0xFFFFFFFF)));
      const int steps = s_.erase_progress_frames;
      for (int i = 1; i <= steps; ++i)
        QueueFrame(Outgoing{0x5A, {static_cast<uint8_t>(steps), static_cast<uint8_t>(i)}, false, s_.erase_step_ms,
                            nullptr});
      answer += " + " + std::to_string(steps) + " progress frames 0x5A";
      Answer(0x5B, {0x01}, fault, &answer);
      break;
    }
    case 0x80:
      Answer(0x81, {static_cast<uint8_t>(s_.compression_supported ? 1 : 0)}, fault, &answer);
      break;
    case 0xB8:
      Answer(0xB9, {0x00}, fault, &answer);
      break;
    case 0xC2:
      PutFixedText(data, s_.compile_date, 8);
      PutFixedText(data, s_.compile_time, 8);
      PutFixedText(data, s_.product_type, 16);
      data.push_back(s_.svn);
      Answer(0xC3, data, fault, &answer);
      break;
    case 0xC8:
      if (Le32(&p[4]) != Le32(&p[0]) + 4)
        record_.Violation(Mode::kLoader, "bad_parameters", "split info addresses not 4 apart: " + Hex(p));
      PutBe32(data, s_.split_prefix);
      PutBe32(data, s_.split_id);
      Answer(0xC9, data, fault, &answer);
      if (!fault.error) Answer(0xCA, {0x00}, fault, &answer);
      break;
    case 0xCE:
      Answer(0xCF, {0x00}, fault, &answer);
      break;
    case 0xF0:
      record_.Exchange(Mode::kLoader, "loader", what, Hex(p), answer);
      EnterMode(Mode::kOff, "switch-off command");
      return;
    default:
      break;
  }
  record_.Exchange(Mode::kLoader, "loader", what, Hex(p), answer);
}

void Phone::SignatureCommand(const std::vector<uint8_t>& p, const FaultAction& fault, std::string* answer) {
  const uint8_t sub = p[0];
  auto nak = [&](const std::string& why) {
    record_.Violation(Mode::kLoader, "bad_parameters", "signature sub-code " + HexByte(sub) + ": " + why);
    SendByte(kNak);
    *answer = "NAK";
  };
  switch (sub) {
    case 0x01: {  // init: hash byte 1, hash number 2, hash number 1
      if (p.size() != 6) return nak("init needs 5 bytes");
      SendByte(kAck);
      signature_.clear();
      hash_list_.clear();
      signature_expected_ = -1;
      signature_note_ = {{"init", Hex(p)}};
      std::vector<uint8_t> data = {static_cast<uint8_t>(s_.signature_init_answer)};
      if (s_.signature_init_answer == 2) {
        data.push_back(0x00);
        PutBe32(data, s_.signature_key_id);
      }
      Answer(0x61, data, fault, answer);
      break;
    }
    case 0x02:  // selection: 01 key length, or 00 when the PC has none
      if (p.size() == 8 && p[1] == 0x01) {
        SendByte(kAck);
        const uint32_t key = Be32(&p[2]);
        if (key != s_.signature_key_id)
          record_.Violation(Mode::kLoader, "wrong_key", "signature for key " + Hex(&p[2], 4));
        signature_expected_ = Le16(&p[6]);
        signature_note_["key_id"] = Hex(&p[2], 4);
        signature_note_["announced_length"] = signature_expected_;
      } else if (p.size() == 2 && p[1] == 0x00) {
        SendByte(kAck);
        signature_note_["no_signature"] = true;
      } else {
        return nak("selection of unexpected form");
      }
      break;
    case 0x03: case 0x04: case 0x05: case 0x06: {  // chunks: offset, bytes
      if (p.size() < 4) return nak("chunk without data");
      SendByte(kAck);
      const bool is_signature = sub <= 0x04;
      std::vector<uint8_t>& target = is_signature ? signature_ : hash_list_;
      if (Le16(&p[1]) != target.size())
        record_.Violation(Mode::kLoader, "bad_parameters",
                          "chunk at offset " + std::to_string(Le16(&p[1])) + ", expected " + std::to_string(target.size()));
      target.insert(target.end(), p.begin() + 3, p.end());
      if (sub == 0x04) {
        int code = s_.signature_answer;
        if (signature_expected_ != static_cast<int>(signature_.size())) {
          record_.Violation(Mode::kLoader, "bad_parameters",
                            "signature of " + std::to_string(signature_.size()) + " bytes, announced " +
                                std::to_string(signature_expected_));
          code = 5;
        }
        signature_note_["signature"] = Hex(signature_);
        signature_note_["signature_answer"] = code;
        Answer(0x61, {static_cast<uint8_t>(code)}, fault, answer);
      } else if (sub == 0x06) {
        signature_note_["hash_list_length"] = hash_list_.size();
        signature_note_["hash_list_sha256"] = Sha256Hex(hash_list_.data(), hash_list_.size());
        signature_note_["hash_answer"] = s_.hash_answer;
        Answer(0x61, {static_cast<uint8_t>(s_.hash_answer)}, fault, answer);
      }
      break;
    }
    case 0x07:
      if (p.size() != 1) return nak("start hashing takes no data");
      SendByte(kAck);
      signature_note_["hashing_started"] = true;
      if (fault.error) Answer(0x18, {}, fault, answer);
      break;
    default:
      return nak("unknown sub-code");
  }
  record_.Note("signature", signature_note_);
}

void Phone::QueueFrame(Outgoing frame) {
  const bool idle = !awaiting_ack_ && out_.empty();
  out_.push_back(std::move(frame));
  if (idle) send_not_before_ = Clock::now() + std::chrono::milliseconds(out_.front().delay_ms + s_.answer_delay_ms);
  SendNextFrame();
}

void Phone::SendNextFrame() {
  if (awaiting_ack_ || out_.empty() || mode_ != Mode::kLoader || Clock::now() < send_not_before_) return;
  const Outgoing& head = out_.front();
  clean_wire_ = EncodeLoaderFrame(head.mi, head.data);
  SendRaw(Decorate(clean_wire_, {"mi:" + std::to_string(head.mi)}, true, &sent_corrupted_));
  awaiting_ack_ = true;
  sends_ = 1;
  resend_at_ = Clock::now() + std::chrono::milliseconds(head.announce ? s_.announce_interval_ms : s_.ack_timeout_ms);
}

void Phone::OnAck() {
  awaiting_ack_ = false;
  auto after = std::move(out_.front().after);
  out_.pop_front();
  if (!out_.empty()) send_not_before_ = Clock::now() + std::chrono::milliseconds(out_.front().delay_ms);
  if (after) after();
  SendNextFrame();
}

void Phone::CheckResend() {
  SendNextFrame();
  if (!awaiting_ack_ || Clock::now() < resend_at_) return;
  const Outgoing& head = out_.front();
  if (head.announce) {
    SendRaw(clean_wire_);
    resend_at_ = Clock::now() + std::chrono::milliseconds(s_.announce_interval_ms);
    return;
  }
  if (sends_ > s_.resend_limit) {
    if (!sent_corrupted_ || sends_ > 1)
      record_.Violation(Mode::kLoader, "frame_unacknowledged",
                        "frame " + HexByte(head.mi) + " sent " + std::to_string(sends_) + " times");
    auto after = std::move(out_.front().after);
    out_.pop_front();
    awaiting_ack_ = false;
    if (!out_.empty()) send_not_before_ = Clock::now() + std::chrono::milliseconds(out_.front().delay_ms);
    if (after) after();
    SendNextFrame();
    return;
  }
  SendRaw(clean_wire_);  // the resend is always the correct frame
  ++sends_;
  resend_at_ = Clock::now() + std::chrono::milliseconds(s_.ack_timeout_ms);
}

}  // namespace phonesim
