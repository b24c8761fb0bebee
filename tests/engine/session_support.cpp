#include <gtest/gtest.h>

#include "session_support.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "doralex/doralex.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "phonesim/simulator.h"
#include "support/pty_peer.h"

namespace enginetest {

phonesim::Scenario LoaderPhone() {
  phonesim::Scenario phone;
  phone.initial_mode = phonesim::Mode::kLoader;
  phone.loader_speed = 115200;
  phone.product_type = "R10";
  phone.svn = 0x52;
  phone.compile_date = "15.03.02";
  phone.compile_time = "12:00:00";
  phone.manual_press_delay_ms = 50;
  return phone;
}

SessionResult RunSession(const phonesim::Scenario& phoneScenario, const ContainerSpec& spec,
                         const SessionOptions& options) {
  SessionResult result;
  std::string error;
  auto phone = phonesim::Simulator::OnPty(phoneScenario, &error);
  if (!phone) {
    ADD_FAILURE() << "phonesim: " << error;
    return result;
  }
  testsupport::SerialTableFile table({{0, phone->slave_path()}});

  if (options.readContainer) {
    result.container = LoadContainer(spec);
  } else {
    EXPECT_EQ(dlx::InitLibrary(1, 29), 1);
    dlx::SetUpdateMode(1);
  }
  dlx::SetPortMode(0, options.portMode);
  InstallRecordingHost(options.consistencyAnswers);
  if (options.beforeStart) options.beforeStart();

  const auto start = std::chrono::steady_clock::now();
  result.startResult = dlx::StartUpdate(0, 0, 115200);
  result.ended = result.startResult == 1 && WaitForUpdateEnd(options.timeoutMs);
  result.elapsedMs = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  // A second callback would come right after the first: give it the chance.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  phone->Stop();
  result.host = Recorded();
  const dlx::LibraryErrorList& list = dlx::GetLibraryErrorList(0);
  for (int i = 0; i < list.count; ++i) {
    result.errors.push_back(list.slots[i].code);
    result.entries.push_back(list.slots[i]);
  }
  result.portErrorNumber = dlx::GetErrorNumber(0);
  result.additionalText = dlx::GetAdditionalErrorText(0);
  result.report = phone->Report();
  result.flash = phone->Flash();
  return result;
}

std::vector<int> LoaderCommands(const nlohmann::json& report) {
  std::vector<int> mis;
  for (const auto& exchange : report["exchanges"]) {
    if (exchange["kind"] != "loader") continue;
    const std::string what = exchange["what"];
    if (what.rfind("0x", 0) != 0) continue;
    const int mi = std::stoi(what.substr(2, 2), nullptr, 16);
    if (mi != 0x31) mis.push_back(mi);  // 0x31 is the loader's own call
  }
  return mis;
}

nlohmann::json LoaderExchange(const nlohmann::json& report, int mi) {
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "0x%02X ", mi);
  for (const auto& exchange : report["exchanges"]) {
    if (exchange["kind"] == "loader" && std::string(exchange["what"]).rfind(prefix, 0) == 0) return exchange;
  }
  return nullptr;
}

::testing::AssertionResult FlashHoldsImage(const SessionResult& result) {
  const auto& ranges = result.flash.ranges();
  const auto& image = result.container.image;
  if (ranges.size() != 1 || ranges.begin()->first != result.container.imageAddress ||
      ranges.begin()->second != image.size()) {
    std::string written;
    for (const auto& [address, length] : ranges) {
      written += " " + std::to_string(address) + "+" + std::to_string(length);
    }
    return ::testing::AssertionFailure() << "written ranges:" << written;
  }
  for (size_t i = 0; i < image.size(); ++i) {
    const uint8_t byte = result.flash.At(result.container.imageAddress + static_cast<uint32_t>(i));
    if (byte != image[i]) {
      return ::testing::AssertionFailure() << "byte " << i << " is " << int(byte) << ", not " << int(image[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace enginetest
