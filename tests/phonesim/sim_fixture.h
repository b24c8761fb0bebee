// Starts a simulated phone on a pty for one test and opens the PC's port on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pc_port.h"
#include "phonesim/simulator.h"

namespace phonesim_test {

class SimTest : public ::testing::Test {
 protected:
  void Start(const std::string& scenario_json, unsigned speed) {
    std::string error;
    phone_ = phonesim::Simulator::OnPty(scenario_json, &error);
    ASSERT_TRUE(phone_) << error;
    pc_ = std::make_unique<PcPort>(phone_->slave_path(), speed);
    ASSERT_TRUE(pc_->ok());
  }
  // The report after the session ended.
  nlohmann::json Finish() {
    pc_->Close();
    phone_->Stop();
    return phone_->Report();
  }
  static int Count(const nlohmann::json& list, const std::string& key, const std::string& value) {
    int n = 0;
    for (const auto& e : list) n += e.value(key, std::string()) == value;
    return n;
  }

  std::unique_ptr<phonesim::Simulator> phone_;
  std::unique_ptr<PcPort> pc_;
};

}  // namespace phonesim_test
