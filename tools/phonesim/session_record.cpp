#include "session_record.h"

namespace phonesim {

using nlohmann::json;

std::string Hex(const uint8_t* data, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i) out += ' ';
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

std::string HexByte(int value) {
  const uint8_t b = static_cast<uint8_t>(value);
  return "0x" + Hex(&b, 1);
}

SessionRecord::SessionRecord() : start_(std::chrono::steady_clock::now()) {}

int64_t SessionRecord::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

void SessionRecord::Exchange(Mode mode, const std::string& kind, const std::string& what, const std::string& params,
                             const std::string& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  exchanges_.push_back({{"seq", seq_++}, {"t_ms", NowMs()}, {"mode", ModeName(mode)}, {"kind", kind},
                        {"what", what}, {"params", params}, {"answer", answer}});
}

void SessionRecord::ModeChange(Mode from, Mode to, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  mode_changes_.push_back({{"seq", seq_++}, {"t_ms", NowMs()}, {"from", ModeName(from)}, {"to", ModeName(to)},
                           {"reason", reason}});
  current_mode_ = to;
}

void SessionRecord::Violation(Mode mode, const std::string& kind, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  violations_.push_back({{"seq", seq_++}, {"t_ms", NowMs()}, {"mode", ModeName(mode)}, {"kind", kind},
                         {"detail", detail}});
}

void SessionRecord::EepromWrite(int block, int size, int mode_byte, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  eeprom_writes_.push_back({{"seq", seq_++}, {"block", block}, {"size", size}, {"mode", HexByte(mode_byte)},
                            {"data", Hex(data)}});
}

void SessionRecord::DataBlock(int index, uint32_t address, int length) {
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.push_back({{"seq", seq_++}, {"index", index}, {"address", address}, {"length", length}});
}

void SessionRecord::Note(const std::string& key, const json& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  notes_[key] = value;
}

void SessionRecord::AddUnheard(size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  unheard_ += count;
}

void SessionRecord::SetFinalMode(Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  final_mode_ = ModeName(mode);
}

void SessionRecord::FlashWrite(uint32_t address, const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  flash_.Write(address, data, length);
}

void SessionRecord::FlashErase(uint32_t first, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  flash_.Erase(first, length);
}

json SessionRecord::Report() const {
  std::lock_guard<std::mutex> lock(mutex_);
  json ranges = json::array();
  for (const auto& [address, length] : flash_.ranges()) ranges.push_back({{"address", address}, {"length", length}});
  json report = {{"exchanges", exchanges_},
                 {"mode_changes", mode_changes_},
                 {"eeprom_writes", eeprom_writes_},
                 {"blocks", blocks_},
                 {"violations", violations_},
                 {"unheard_bytes", unheard_},
                 {"final_mode", final_mode_},
                 {"flash", {{"size", flash_.bytes().size()}, {"sha256", flash_.Sha256Hex()}, {"ranges", ranges}}}};
  for (auto it = notes_.begin(); it != notes_.end(); ++it) report[it.key()] = it.value();
  return report;
}

FlashImage SessionRecord::Flash() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_;
}

size_t SessionRecord::ViolationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_.size();
}

Mode SessionRecord::CurrentMode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_mode_;
}

}  // namespace phonesim
