#include "host/trace.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* kTraceFile = "QuorTest.txt";
constexpr const char* kVersionLine = "R10/R11/R12/R12X UpdateTool Version Nr. 1.03\r\n";

std::atomic<bool> enabled{false};

// "r+b" opens for writing without creating the file.
std::FILE* openExisting() { return std::fopen(kTraceFile, "r+b"); }

void appendLine(const char* prefix, const char* text) {
  std::FILE* file = openExisting();
  if (file == nullptr) return;
  if (std::fseek(file, 0, SEEK_END) == 0) std::fprintf(file, "%s%s\r\n", prefix, text);
  std::fclose(file);
}

std::tm localNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

bool startTrace() {
  std::FILE* file = openExisting();
  if (file == nullptr) return false;
  // Each run overwrites the previous trace.
  if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > 0) {
    if (ftruncate(fileno(file), 0) != 0) {
      std::fclose(file);
      return false;
    }
  }
  std::rewind(file);
  char date[128];
  const std::tm now = localNow();
  if (std::strftime(date, sizeof date, "%A, %B %d,  %Y   %H:%M", &now) == 0) date[0] = '\0';
  std::fprintf(file, "%s\r\n%s", date, kVersionLine);
  std::fclose(file);
  enabled.store(true);
  return true;
}

bool traceEnabled() { return enabled.load(std::memory_order_relaxed); }

void traceAppend(const char* format, ...) {
  std::FILE* file = std::fopen(kTraceFile, "ab");
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fclose(file);
}

void traceLine(const char* text) { appendLine("", text); }

void traceTimedLine(const char* text) {
  char prefix[32] = "\r\n";
  const std::tm now = localNow();
  if (std::strftime(prefix + 2, sizeof prefix - 2, "%H:%M:%S ", &now) == 0) prefix[2] = '\0';
  appendLine(prefix, text);
}
