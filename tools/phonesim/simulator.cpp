#include "phonesim/simulator.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "line.h"
#include "phone.h"
#include "session_record.h"

namespace phonesim {

Simulator::Simulator(const Scenario& scenario, std::unique_ptr<Line> line, std::string slave_path, std::string*)
    : scenario_(scenario), line_(std::move(line)), slave_path_(std::move(slave_path)) {}

std::unique_ptr<Simulator> Simulator::OnPty(const Scenario& scenario, std::string* error) {
  std::string slave;
  auto line = Line::OpenPty(&slave, error);
  if (!line) return nullptr;
  std::unique_ptr<Simulator> sim(new Simulator(scenario, std::move(line), slave, error));
  if (!sim->Begin(error)) return nullptr;
  return sim;
}

std::unique_ptr<Simulator> Simulator::OnPty(const std::string& scenario_json, std::string* error) {
  Scenario scenario;
  if (!ParseScenario(scenario_json, &scenario, error)) return nullptr;
  return OnPty(scenario, error);
}

std::unique_ptr<Simulator> Simulator::OnDevice(const std::string& path, const Scenario& scenario,
                                               std::string* error) {
  auto line = Line::OpenDevice(path, error);
  if (!line) return nullptr;
  std::unique_ptr<Simulator> sim(new Simulator(scenario, std::move(line), std::string(), error));
  if (!sim->Begin(error)) return nullptr;
  return sim;
}

bool Simulator::Begin(std::string* error) {
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  record_ = std::make_unique<SessionRecord>();
  phone_ = std::make_unique<Phone>(scenario_, *line_, *record_);
  thread_ = std::thread([this] {
    phone_->Run(stop_, wake_fd_);
    finished_.store(true, std::memory_order_release);
  });
  return true;
}

Simulator::~Simulator() {
  Stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

void Simulator::Stop() {
  stop_.store(true, std::memory_order_release);
  if (wake_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
}

Mode Simulator::mode() const { return record_->CurrentMode(); }

bool Simulator::WaitForMode(Mode wanted, int timeout_ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (mode() != wanted) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

nlohmann::json Simulator::Report() const { return record_->Report(); }

FlashImage Simulator::Flash() const { return record_->Flash(); }

bool Simulator::WriteReport(const std::string& path, std::string* error) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Report().dump(2) << "\n";
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool Simulator::WriteFlash(const std::string& path, std::string* error) const {
  return Flash().SaveFile(path, error);
}

}  // namespace phonesim
