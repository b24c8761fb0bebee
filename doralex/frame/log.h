// The library log: two sinks (standard error standing in for the debugger
// output, and one text stream per update channel), each with its own switch,
// level threshold and category mask. Both are off unless a technician turns
// them on (see ConfigureLogFromEnvironment).
#pragma once

#include <cstdint>
#include <cstdio>

namespace dlx {

// Categories, one bit each.
constexpr uint16_t kLogUpdate = 1;     // update sequence, library frame, loader commands
constexpr uint16_t kLogContainer = 2;  // container parser
constexpr uint16_t kLogSerial = 4;     // serial port layer and block framing
constexpr uint16_t kLogBfb = 8;        // BFB session

struct LogSettings {
  int32_t debugOn;
  int32_t debugLevel;
  uint16_t debugCategories;
  int32_t fileOn;
  int32_t fileLevel;
  uint16_t fileCategories;
};

void LogMessage(uint16_t channel, int32_t level, uint16_t category, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Diagnostics only: nothing in the update depends on these.
void SetLogSettings(const LogSettings& settings);
LogSettings GetLogSettings();
// The stream of an update channel (nullptr detaches it). The caller keeps it open.
void SetChannelStream(uint16_t channel, std::FILE* stream);
// Reads DORALEX_LOG and DORALEX_LOG_FILE (docs/diagnostics.md); called by InitLibrary.
void ConfigureLogFromEnvironment();

}  // namespace dlx
