#include "doralex/frame/log.h"

#include <sys/time.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "doralex/types.h"

namespace dlx {
namespace {

// Written by the diagnostic configuration before any update thread starts.
LogSettings settings{};
std::atomic<std::FILE*> channelStreams[kChannelCount];
// The last character written to any channel stream, shared by all channels.
std::atomic<char> lastCharacter{'\n'};

bool admitted(int32_t on, int32_t maxLevel, uint16_t mask, int32_t level, uint16_t category) {
  return on && level <= maxLevel && (category & mask) == category;
}

void writeTimeStamp(std::FILE* stream) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  std::fprintf(stream, "%02d:%02d:%02d:%03d :", local.tm_hour, local.tm_min, local.tm_sec,
               static_cast<int>(now.tv_usec / 1000));
}

}  // namespace

void LogMessage(uint16_t channel, int32_t level, uint16_t category, const char* format, ...) {
  if (!settings.debugOn && !settings.fileOn) return;

  char text[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  if (admitted(settings.debugOn, settings.debugLevel, settings.debugCategories, level, category)) {
    std::fputs(text, stderr);
  }
  std::FILE* stream = channel < kChannelCount ? channelStreams[channel].load() : nullptr;
  if (stream &&
      admitted(settings.fileOn, settings.fileLevel, settings.fileCategories, level, category)) {
    char last = lastCharacter.load();
    if (last == '\r' || last == '\n') writeTimeStamp(stream);
    std::fputs(text, stream);
    std::fflush(stream);
    std::size_t length = std::strlen(text);
    if (length > 0) lastCharacter.store(text[length - 1]);
  }
}

void SetLogSettings(const LogSettings& newSettings) { settings = newSettings; }

LogSettings GetLogSettings() { return settings; }

void SetChannelStream(uint16_t channel, std::FILE* stream) {
  if (channel < kChannelCount) channelStreams[channel].store(stream);
}

// DORALEX_LOG=LEVEL[:CATEGORIES] turns on the standard-error sink;
// DORALEX_LOG_FILE=PREFIX additionally writes each channel to PREFIX.chN.log
// with the same level and categories. Categories default to all (0xF).
void ConfigureLogFromEnvironment() {
  const char* spec = std::getenv("DORALEX_LOG");
  if (!spec || !*spec) return;
  char* end = nullptr;
  long level = std::strtol(spec, &end, 0);
  unsigned long categories = 0xF;
  if (end && *end == ':') categories = std::strtoul(end + 1, nullptr, 0);

  LogSettings configured{};
  configured.debugOn = 1;
  configured.debugLevel = static_cast<int32_t>(level);
  configured.debugCategories = static_cast<uint16_t>(categories);

  const char* prefix = std::getenv("DORALEX_LOG_FILE");
  if (prefix && *prefix) {
    configured.fileOn = 1;
    configured.fileLevel = configured.debugLevel;
    configured.fileCategories = configured.debugCategories;
    for (uint16_t channel = 0; channel < kChannelCount; ++channel) {
      if (channelStreams[channel].load()) continue;
      std::string path = std::string(prefix) + ".ch" + std::to_string(channel) + ".log";
      SetChannelStream(channel, std::fopen(path.c_str(), "a"));
    }
  }
  SetLogSettings(configured);
}

}  // namespace dlx
