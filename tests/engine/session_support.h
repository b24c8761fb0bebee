// Whole update sessions against the simulated phone: the phone plays its
// loader on a pseudo-terminal mapped to COM1, the library reads a small
// container, StartUpdate runs the update thread, and the test looks at the
// callbacks, the error list and what the phone received.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "doralex/types.h"
#include "phonesim/flash_image.h"
#include "phonesim/scenario.h"
#include "recording_host.h"
#include "test_container.h"

namespace enginetest {

// A healthy phone already running its loader at 115200 baud, with the
// software the default container fits (same product, version and date).
phonesim::Scenario LoaderPhone();

struct SessionOptions {
  std::vector<int> consistencyAnswers;  // the host's answers to consistency problems
  int32_t portMode = 2;                 // 2: rebooted by the new concept, 3: manual start
  std::function<void()> beforeStart;    // runs after the container was read
  int timeoutMs = 20000;
  bool readContainer = true;
};

inline SessionOptions Answering(std::vector<int> answers) {
  SessionOptions options;
  options.consistencyAnswers = std::move(answers);
  return options;
}
inline SessionOptions InPortMode(int32_t mode) {
  SessionOptions options;
  options.portMode = mode;
  return options;
}
inline SessionOptions WaitingMs(int timeoutMs) {
  SessionOptions options;
  options.timeoutMs = timeoutMs;
  return options;
}
inline SessionOptions WithoutContainer() {
  SessionOptions options;
  options.readContainer = false;
  return options;
}

struct SessionResult {
  bool ended = false;        // the thread reported back within the time-out
  int startResult = 0;
  HostRecord host;
  std::vector<uint32_t> errors;  // channel 0's list, oldest first
  std::vector<dlx::LibraryErrorEntry> entries;  // the same, whole
  int32_t portErrorNumber = 0;
  std::string additionalText;
  nlohmann::json report;     // the phone's record of the session
  phonesim::FlashImage flash;
  LoadedContainer container;
  long elapsedMs = 0;
};

SessionResult RunSession(const phonesim::Scenario& phone, const ContainerSpec& spec,
                         const SessionOptions& options = {});

// The loader commands the phone received, in order (data blocks and the
// loader's own call not included).
std::vector<int> LoaderCommands(const nlohmann::json& report);
// The phone's record of the first exchange of command `mi`, or null.
nlohmann::json LoaderExchange(const nlohmann::json& report, int mi);
// True when the phone holds exactly the container's software image.
::testing::AssertionResult FlashHoldsImage(const SessionResult& result);

}  // namespace enginetest
