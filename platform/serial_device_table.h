// The serial device table: which COM ports this machine has and which device
// path each one stands for. From the file named by UPDATETOOL_SERIALCOMM (one
// entry per line "DEVICE-NAME PORT-NAME DEVICE-PATH"; blank lines and lines
// starting with '#' ignored) or, without it, from the system's serial devices
// (docs/serial-devices.md gives the derivation).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct SerialTableEntry {
  std::string deviceName;  // e.g. "\Device\Serial0" or "/dev/ttyUSB0"
  std::string portName;    // e.g. "COM1"
  std::string devicePath;  // e.g. "/dev/ttyUSB0"
};

std::vector<SerialTableEntry> ReadSerialDeviceTable();

// The table derived from a sysfs tty class folder (normally /sys/class/tty),
// as ReadSerialDeviceTable does without UPDATETOOL_SERIALCOMM.
std::vector<SerialTableEntry> DeriveSerialDeviceTable(const std::string& sysClassTty);

// Device path of port index 0..11 (COM1..COM12); nothing when the table has no
// such port or the index is out of range.
std::optional<std::string> SerialDevicePath(int portIndex);

}  // namespace platform
