// A simulated phone on a serial line, for tests and for the phonesim program.
//
//   std::string error;
//   auto phone = phonesim::Simulator::OnPty(R"({"initial_mode": "bfb"})", &error);
//   // ... open phone->slave_path() as the phone's serial port ...
//   phone->Stop();
//   nlohmann::json report = phone->Report();
//   phonesim::FlashImage flash = phone->Flash();
//
// The phone runs on a thread of its own from construction until Stop() (or
// the destructor). Report() and Flash() may be called at any time; after
// Stop() they are final.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "phonesim/flash_image.h"
#include "phonesim/scenario.h"

namespace phonesim {

class Line;
class Phone;
class SessionRecord;

class Simulator {
 public:
  // Opens a pseudo-terminal pair and plays the phone on its master side.
  static std::unique_ptr<Simulator> OnPty(const Scenario& scenario, std::string* error);
  static std::unique_ptr<Simulator> OnPty(const std::string& scenario_json, std::string* error);
  // Plays the phone on an existing serial device (a null-modem cable).
  static std::unique_ptr<Simulator> OnDevice(const std::string& path, const Scenario& scenario,
                                             std::string* error);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The device the PC opens; empty when playing on a device.
  const std::string& slave_path() const { return slave_path_; }
  // Ends the session and waits for the phone's thread. Safe to call twice.
  void Stop();
  // True once the phone's line is gone (a pulled cable) and its thread ended.
  bool finished() const { return finished_.load(std::memory_order_acquire); }

  // The mode the phone is in now (kLoader once a reboot or manual start
  // brought up its loader, kClosed after a pulled cable, ...).
  Mode mode() const;
  // Polls mode() until it equals `mode` or `timeout_ms` passed.
  bool WaitForMode(Mode mode, int timeout_ms) const;

  nlohmann::json Report() const;
  FlashImage Flash() const;
  bool WriteReport(const std::string& path, std::string* error) const;
  bool WriteFlash(const std::string& path, std::string* error) const;

 private:
  Simulator(const Scenario& scenario, std::unique_ptr<Line> line, std::string slave_path, std::string* error);
  bool Begin(std::string* error);

  Scenario scenario_;
  std::unique_ptr<Line> line_;
  std::string slave_path_;
  std::unique_ptr<SessionRecord> record_;
  std::unique_ptr<Phone> phone_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  int wake_fd_ = -1;
  std::thread thread_;
};

}  // namespace phonesim
