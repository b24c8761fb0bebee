// What the simulated phone is and how it misbehaves. Every field has a
// default (docs/phonesim.md lists them), so an empty JSON object is a healthy
// phone in AT mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace phonesim {

enum class Mode { kOff, kAt, kBfb, kSilent, kRebooting, kLoader, kDead, kClosed };
const char* ModeName(Mode mode);

// A moment in the conversation at which a fault fires. Exactly one of the
// selectors is set; `occurrence` counts matching events from 1.
struct Point {
  std::optional<int> loader_command;  // the loader receives this MI
  std::optional<int> block;           // the loader receives data block n (from 0)
  std::optional<int> bfb_type;        // BFB mode receives a frame of this type...
  std::optional<int> bfb_sub;         // ...with this first data byte (any when unset)
  std::optional<std::string> at_command;  // AT mode receives this command (any case)
  std::optional<Mode> mode;           // the phone enters this mode
  int occurrence = 1;
};

// One of the phone's own frames: a loader frame by MI, or a BFB frame by type
// and first data byte.
struct FrameSelector {
  std::optional<int> mi;
  std::optional<int> bfb_type;
  std::optional<int> bfb_sub;
  int occurrence = 1;
};

struct EepromRefusal {
  int command = 0;  // 0x11..0x15
  int code = 0;     // the refusing answer code
  int count = 1;    // refuse the first `count` requests with this command
};

struct Scenario {
  // Identity and normal software.
  std::string identity = "Quorvex\r\nR10\r\n";
  std::string imei = "351234567890123";
  bool at_error_until_sqwe2 = false;
  bool at_echo = true;
  std::vector<uint32_t> at_speeds = {19200, 38400, 57600, 115200};
  uint32_t bfb_speed = 57600;
  Mode initial_mode = Mode::kAt;
  Mode mode_after_boot = Mode::kAt;
  Mode mode_after_update = Mode::kAt;
  uint32_t loader_speed = 115200;  // for initial_mode "loader"
  uint16_t voltage_mv = 4000;
  uint8_t svn = 0x52;
  uint8_t software_version_high = 0x00;
  std::string product_type = "R10";
  std::string compile_date = "15.03.02";
  std::string compile_time = "12:00:00";
  uint32_t put_count = 100;
  std::string directory = "r10sw";

  // EEPROM block 5163.
  std::string record_state = "absent";  // absent | valid | invalid
  std::vector<uint8_t> record;          // 64 bytes when given
  int absent_code = 0x30;
  int busy_open_count = 0;
  int busy_open_delay_ms = 100;
  std::vector<EepromRefusal> eeprom_refusals;

  // Flash loader.
  uint16_t flash_code = 0x8988;
  uint8_t flash_code_status = 1;
  uint16_t flash_size_mbit = 32;
  uint32_t flash_base = 0;
  uint32_t erase_block_size = 0x10000;
  uint32_t split_id = 0xFFFFFFFF;
  uint32_t split_prefix = 0;
  bool new_concept_erase = true;  // answer 0x5B with 0x01 (erased) or 0xAA
  int erase_progress_frames = 4;
  bool compression_supported = true;
  std::vector<uint8_t> announce_data = {0x01};
  std::vector<uint8_t> eot_data = {0x00};
  bool unknown_command_nak = true;

  // Signature negotiation.
  bool signature_enabled = true;
  int signature_init_answer = 1;
  uint32_t signature_key_id = 0x01020304;
  int signature_answer = 4;
  int hash_answer = 6;

  // Timing in milliseconds.
  int customer_reboot_ms = 1000;
  int announce_interval_ms = 250;
  int ack_timeout_ms = 1000;
  int resend_limit = 3;
  int restart_after_update_ms = 100;
  int boot_ms = 100;
  int manual_press_delay_ms = 1500;
  int byte_gap_ms = 200;
  int erase_step_ms = 10;
  int answer_delay_ms = 0;
  double speed_tolerance_percent = 2.5;

  // Fault injection.
  struct NakBlock { int block = 0; int count = 1; };
  struct BusyBlock { int block = 0; int delay_ms = 100; };
  struct ErrorFrame { Point at; std::vector<uint8_t> data; };
  struct StrayBytes { FrameSelector frame; std::vector<uint8_t> bytes; bool inside_preamble = false; };
  std::vector<NakBlock> nak_blocks;
  std::vector<BusyBlock> busy_blocks;
  std::vector<ErrorFrame> error_frames;
  std::optional<Point> silent_at;
  std::optional<Point> close_at;
  std::vector<FrameSelector> corrupt_frames;
  std::vector<StrayBytes> stray_bytes;
};

// Parses a scenario; unknown fields and wrong types are refused with a
// message naming the field. Returns false and fills `error` on failure.
bool ParseScenario(const std::string& json_text, Scenario* out, std::string* error);

}  // namespace phonesim
