// phonesim --scenario FILE.json (--link PATH | --device PATH) [--report FILE.json]
//          [--flash-out FILE] [--timeout SECONDS]
// Plays a phone on a pseudo-terminal (PATH becomes a symbolic link to its
// slave device) or on a serial device, until the timeout, SIGTERM or SIGINT,
// then writes the report and the flash image.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "phonesim/simulator.h"

namespace {

struct Options {
  std::string scenario, link, device, report, flash_out;
  double timeout_s = 0;  // 0: until a signal
};

void Usage() {
  std::cerr << "usage: phonesim --scenario FILE.json (--link PATH | --device PATH) [--report FILE.json]\n"
               "                [--flash-out FILE] [--timeout SECONDS]\n";
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--scenario") o->scenario = value;
    else if (arg == "--link") o->link = value;
    else if (arg == "--device") o->device = value;
    else if (arg == "--report") o->report = value;
    else if (arg == "--flash-out") o->flash_out = value;
    else if (arg == "--timeout") {
      char* end = nullptr;
      o->timeout_s = std::strtod(value.c_str(), &end);
      if (*end != '\0' || o->timeout_s < 0) return false;
    } else {
      return false;
    }
  }
  return !o->scenario.empty() && (o->link.empty() != o->device.empty());
}

bool MakeLink(const std::string& target, const std::string& link, std::string* error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = link + " exists and is not a symbolic link";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = "cannot link " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  std::ifstream in(options.scenario, std::ios::binary);
  if (!in) {
    std::cerr << "phonesim: cannot read " << options.scenario << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  phonesim::Scenario scenario;
  if (!phonesim::ParseScenario(text.str(), &scenario, &error)) {
    std::cerr << "phonesim: " << options.scenario << ": " << error << "\n";
    return 1;
  }

  // Signals are taken synchronously below; block them before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::unique_ptr<phonesim::Simulator> phone =
      options.device.empty() ? phonesim::Simulator::OnPty(scenario, &error)
                             : phonesim::Simulator::OnDevice(options.device, scenario, &error);
  if (!phone) {
    std::cerr << "phonesim: " << error << "\n";
    return 1;
  }
  if (!options.link.empty() && !MakeLink(phone->slave_path(), options.link, &error)) {
    std::cerr << "phonesim: " << error << "\n";
    return 1;
  }
  std::cout << (options.device.empty() ? phone->slave_path() : options.device) << std::endl;

  // Wait in small steps so that a pulled cable also ends the run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeout_s);
  for (;;) {
    timespec step {0, 100 * 1000 * 1000};
    if (sigtimedwait(&signals, nullptr, &step) > 0) break;
    if (phone->finished()) break;
    if (options.timeout_s > 0 && std::chrono::steady_clock::now() >= deadline) break;
  }
  phone->Stop();

  int status = 0;
  if (!options.report.empty() && !phone->WriteReport(options.report, &error)) {
    std::cerr << "phonesim: " << error << "\n";
    status = 1;
  }
  if (!options.flash_out.empty() && !phone->WriteFlash(options.flash_out, &error)) {
    std::cerr << "phonesim: " << error << "\n";
    status = 1;
  }
  if (!options.link.empty()) unlink(options.link.c_str());
  return status;
}
