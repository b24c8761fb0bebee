#include "host/shared_state.h"

#include <mutex>

std::atomic<float> progressPercent{0.0f};

namespace {
std::mutex programPathMutex;
std::string programPathValue;
}  // namespace

std::string programPath() {
  std::lock_guard lock(programPathMutex);
  return programPathValue;
}

void setProgramPath(std::string path) {
  std::lock_guard lock(programPathMutex);
  programPathValue = std::move(path);
}
