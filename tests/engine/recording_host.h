// A host that records every update callback in order and lets the test wait
// for the end of the update thread. Callbacks are plain functions, so the
// recording is process-wide (each test case runs in its own process).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "doralex/types.h"

namespace enginetest {

struct HostRecord {
  std::vector<std::string> events;  // "flashcode 8988", "erase 10/3", "start 1234", "success", ...
  std::vector<uint32_t> transferProgress;
  std::vector<int> problemTypes;
  std::vector<dlx::ProductInfo> problemPhones;
  std::vector<dlx::ProductInfo> problemFiles;
  int successCalls = 0;
  int errorCalls = 0;
};

// Installs the recording callbacks. `consistencyAnswers` answer the
// consistency-problem callback in turn (0 once they run out).
void InstallRecordingHost(std::vector<int> consistencyAnswers = {});
// Waits for the success or error callback; false after `timeoutMs`.
bool WaitForUpdateEnd(int timeoutMs);
// A copy of what was recorded so far.
HostRecord Recorded();

}  // namespace enginetest
