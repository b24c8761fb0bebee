// Everything the phone noticed during a session: the exchanges in order,
// mode changes, EEPROM writes, data blocks, protocol violations of the PC and
// the flash image. Written by the phone's thread, read by anyone; one mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "phonesim/flash_image.h"
#include "phonesim/scenario.h"

namespace phonesim {

std::string Hex(const uint8_t* data, size_t length);
inline std::string Hex(const std::vector<uint8_t>& v) { return Hex(v.data(), v.size()); }
std::string HexByte(int value);

class SessionRecord {
 public:
  SessionRecord();

  // kind: "at", "bfb", "loader", "boot_rom"; what: the command, frame type or MI.
  void Exchange(Mode mode, const std::string& kind, const std::string& what, const std::string& params,
                const std::string& answer);
  void ModeChange(Mode from, Mode to, const std::string& reason);
  void Violation(Mode mode, const std::string& kind, const std::string& detail);
  void EepromWrite(int block, int size, int mode_byte, const std::vector<uint8_t>& data);
  void DataBlock(int index, uint32_t address, int length);
  void Note(const std::string& key, const nlohmann::json& value);  // top-level facts
  void AddUnheard(size_t count);
  void SetFinalMode(Mode mode);

  // Flash access goes through the record so the image and the report agree.
  void FlashWrite(uint32_t address, const uint8_t* data, size_t length);
  void FlashErase(uint32_t first, uint32_t length);

  nlohmann::json Report() const;
  FlashImage Flash() const;
  size_t ViolationCount() const;
  Mode CurrentMode() const;

 private:
  int64_t NowMs() const;

  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point start_;
  int64_t seq_ = 0;
  nlohmann::json exchanges_ = nlohmann::json::array();
  nlohmann::json mode_changes_ = nlohmann::json::array();
  nlohmann::json violations_ = nlohmann::json::array();
  nlohmann::json eeprom_writes_ = nlohmann::json::array();
  nlohmann::json blocks_ = nlohmann::json::array();
  nlohmann::json notes_ = nlohmann::json::object();
  size_t unheard_ = 0;
  std::string final_mode_;
  Mode current_mode_ = Mode::kOff;
  FlashImage flash_;
};

}  // namespace phonesim
