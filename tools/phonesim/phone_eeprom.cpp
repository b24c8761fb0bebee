// The emulated EEPROM's numbered blocks over BFB frames of type 0x14.
// Requests and answers carry their XOR as the last byte. Block numbers,
// offsets, sizes and lengths are 16 bits, low byte first.
#include "frames.h"
#include "phone.h"

namespace phonesim {

namespace {

constexpr int kRecordBlock = 5163;
constexpr uint8_t kEeprom = 0x14;
constexpr size_t kMaxWriteChunk = 27;
constexpr size_t kMaxReadChunk = kMaxBfbData - 2;  // code and XOR around the data
constexpr int kMaxBlockSize = 4096;

// Refusing answer codes.
constexpr uint8_t kBadRequest = 0x20;  // XOR wrong or request too short
constexpr uint8_t kNotOpen = 0x31;     // chunk or close without a matching open
constexpr uint8_t kOutOfRange = 0x32;  // offset, length or size outside the block
constexpr uint8_t kBusy = 0x50;

std::vector<uint8_t> DefaultRecord() {
  // A record left by an earlier update: time 10:20:30, date 15.03.02, SVN
  // 0x50, status 0x0001, library 2.30; the rest erased.
  std::vector<uint8_t> r(64, 0xFF);
  const uint8_t head[] = {0xFF, 0xA7, 10, 20, 30, 2, 3, 15, 0x50, 0x00, 0x01, 2, 30};
  std::copy(std::begin(head), std::end(head), r.begin());
  r[63] = XorOf(r.data(), 63);
  return r;
}

}  // namespace

void Phone::InitEeprom() {
  if (s_.record_state == "absent") return;
  EepromBlock block;
  block.data = s_.record.size() == 64 ? s_.record : DefaultRecord();
  if (s_.record_state == "invalid") block.data[63] ^= 0x5A;  // the check byte no longer holds
  block.size = 64;
  block.mode = block.data[0];
  eeprom_[kRecordBlock] = block;
}

void Phone::SendEeprom(const std::vector<uint8_t>& answer) {
  std::vector<uint8_t> data = answer;
  data.push_back(XorOf(answer));
  SendBfb(kEeprom, data);
}

void Phone::EepromRequest(const std::vector<uint8_t>& data) {
  std::string what = "0x14 " + HexByte(data[0]);
  // Injected refusals and the busy answer to an open come first.
  for (const auto& refusal : s_.eeprom_refusals) {
    if (refusal.command != data[0] || refusals_sent_[refusal.command] >= refusal.count) continue;
    ++refusals_sent_[refusal.command];
    SendEeprom({static_cast<uint8_t>(refusal.code)});
    record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "0x14 refused " + HexByte(refusal.code) + " (injected)");
    return;
  }
  if (data[0] == 0x11 && busy_opens_sent_ < s_.busy_open_count && XorOf(data) == 0) {
    ++busy_opens_sent_;
    SendEeprom({kBusy});
    record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "0x14 busy 0x50 (injected)");
    const std::vector<uint8_t> request = data;
    After(s_.busy_open_delay_ms, [this, request] {
      std::string late;
      const std::vector<uint8_t> answer = EepromAnswer(request, &late);
      SendEeprom(answer);
      record_.Exchange(Mode::kBfb, "bfb", late, Hex(request), "0x14 [" + Hex(answer) + "] after busy");
    });
    return;
  }
  const std::vector<uint8_t> answer = EepromAnswer(data, &what);
  SendEeprom(answer);
  record_.Exchange(Mode::kBfb, "bfb", what, Hex(data), "0x14 [" + Hex(answer) + "]");
}

std::vector<uint8_t> Phone::EepromAnswer(const std::vector<uint8_t>& request, std::string* what) {
  const uint8_t command = request[0];
  auto refuse = [&](uint8_t code, const std::string& why) {
    record_.Violation(Mode::kBfb, "eeprom_refused", *what + ": " + why);
    return std::vector<uint8_t>{code};
  };
  if (XorOf(request) != 0) return refuse(kBadRequest, "XOR of the request does not hold");
  // Without the XOR byte.
  const std::vector<uint8_t> r(request.begin(), request.end() - 1);
  auto need = [&](size_t n) { return r.size() >= n; };
  if (!need(3)) return refuse(kBadRequest, "request too short");
  const int block = Le16(&r[1]);
  *what += " block " + std::to_string(block);

  switch (command) {
    case 0x11: {  // open for writing: block, size, mode
      *what += " open";
      if (!need(6)) return refuse(kBadRequest, "open without size and mode");
      const int size = Le16(&r[3]);
      if (size == 0 || size > kMaxBlockSize) return refuse(kOutOfRange, "size " + std::to_string(size));
      open_block_ = block;
      open_data_ = EepromBlock{size, r[5], std::vector<uint8_t>(static_cast<size_t>(size), 0xFF)};
      return {0x11};
    }
    case 0x12: {  // write chunk: block, offset, data
      *what += " write";
      if (!open_block_ || *open_block_ != block) return refuse(kNotOpen, "block not open for writing");
      if (!need(6) || r.size() - 5 > kMaxWriteChunk) return refuse(kBadRequest, "chunk of 1..27 bytes expected");
      const size_t offset = Le16(&r[3]), count = r.size() - 5;
      if (offset + count > open_data_.data.size()) return refuse(kOutOfRange, "chunk beyond the block size");
      std::copy(r.begin() + 5, r.end(), open_data_.data.begin() + static_cast<std::ptrdiff_t>(offset));
      return {0x12};
    }
    case 0x13: {  // close: the block is written
      *what += " close";
      if (!open_block_ || *open_block_ != block) return refuse(kNotOpen, "block not open for writing");
      eeprom_[block] = open_data_;
      record_.EepromWrite(block, open_data_.size, open_data_.mode, open_data_.data);
      open_block_.reset();
      return {0x13};
    }
    case 0x14: {  // read chunk: block, offset, length
      *what += " read";
      auto it = eeprom_.find(block);
      if (it == eeprom_.end()) return {static_cast<uint8_t>(s_.absent_code)};
      if (!need(7)) return refuse(kBadRequest, "read without offset and length");
      const size_t offset = Le16(&r[3]), count = Le16(&r[5]);
      if (count == 0 || count > kMaxReadChunk || offset + count > it->second.data.size())
        return refuse(kOutOfRange, "read of " + std::to_string(count) + " bytes at " + std::to_string(offset));
      std::vector<uint8_t> answer = {0x14};
      answer.insert(answer.end(), it->second.data.begin() + static_cast<std::ptrdiff_t>(offset),
                    it->second.data.begin() + static_cast<std::ptrdiff_t>(offset + count));
      return answer;
    }
    case 0x15: {  // block information: size and mode
      *what += " info";
      auto it = eeprom_.find(block);
      if (it == eeprom_.end()) return {static_cast<uint8_t>(s_.absent_code)};
      std::vector<uint8_t> answer = {0x15};
      PutLe16(answer, static_cast<uint16_t>(it->second.size));
      answer.push_back(it->second.mode);
      return answer;
    }
    default:
      return refuse(kBadRequest, "unknown EEPROM command");
  }
}

}  // namespace phonesim
