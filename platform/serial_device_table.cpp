#include "platform/serial_device_table.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace platform {
namespace {

constexpr int kPortCount = 12;

std::vector<SerialTableEntry> readTableFile(const std::string& path) {
  std::vector<SerialTableEntry> table;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    SerialTableEntry entry;
    if (!(fields >> entry.deviceName) || entry.deviceName[0] == '#') continue;
    if (!(fields >> entry.portName)) continue;
    // The path is the rest of the line, so that it may contain blanks.
    std::getline(fields >> std::ws, entry.devicePath);
    while (!entry.devicePath.empty() && std::isspace(static_cast<unsigned char>(entry.devicePath.back()))) {
      entry.devicePath.pop_back();
    }
    if (entry.devicePath.empty()) continue;
    table.push_back(std::move(entry));
  }
  return table;
}

std::string readFirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// Order of the kinds of serial device when COM names are handed out.
enum Kind { kUart = 0, kUsbSerial = 1, kUsbModem = 2, kOther = 3 };

struct Candidate {
  Kind kind;
  std::string prefix;
  long number;
  std::string name;
};

bool splitName(const std::string& name, std::string* prefix, long* number) {
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  *prefix = name.substr(0, digits);
  *number = digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1;
  return true;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Serial devices the system has: terminals in /sys/class/tty that stand for a
// device (they have a "device" link; virtual consoles, ptmx and the like have
// none). 8250-style UARTs are listed for every possible port, so a ttyS counts
// only when a UART was detected behind it (its "type" is not 0).
}  // namespace

std::vector<SerialTableEntry> DeriveSerialDeviceTable(const std::string& sysClassTty) {
  std::vector<Candidate> candidates;
  DIR* dir = opendir(sysClassTty.c_str());
  if (!dir) return {};
  while (dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name.empty() || name[0] == '.') continue;
    std::string base = sysClassTty + "/" + name;
    if (!isDirectory(base + "/device")) continue;
    Candidate candidate{kOther, "", -1, name};
    splitName(name, &candidate.prefix, &candidate.number);
    if (candidate.prefix == "ttyS") {
      std::string type = readFirstLine(base + "/type");
      if (type.empty() || std::strtol(type.c_str(), nullptr, 10) == 0) continue;
      candidate.kind = kUart;
    } else if (candidate.prefix == "ttyUSB") {
      candidate.kind = kUsbSerial;
    } else if (candidate.prefix == "ttyACM") {
      candidate.kind = kUsbModem;
    }
    candidates.push_back(std::move(candidate));
  }
  closedir(dir);

  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return a.number < b.number;
  });
  std::vector<SerialTableEntry> table;
  int com = 1;
  for (const Candidate& candidate : candidates) {
    std::string path = "/dev/" + candidate.name;
    table.push_back({path, "COM" + std::to_string(com++), path});
  }
  return table;
}

std::vector<SerialTableEntry> ReadSerialDeviceTable() {
  const char* file = std::getenv("UPDATETOOL_SERIALCOMM");
  if (file && *file) return readTableFile(file);
  return DeriveSerialDeviceTable("/sys/class/tty");
}

std::optional<std::string> SerialDevicePath(int portIndex) {
  if (portIndex < 0 || portIndex >= kPortCount) return std::nullopt;
  const std::string wanted = "COM" + std::to_string(portIndex + 1);
  for (const SerialTableEntry& entry : ReadSerialDeviceTable()) {
    if (strcasecmp(entry.portName.c_str(), wanted.c_str()) == 0) return entry.devicePath;
  }
  return std::nullopt;
}

}  // namespace platform
