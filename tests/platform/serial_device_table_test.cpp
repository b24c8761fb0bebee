// The serial device table: the UPDATETOOL_SERIALCOMM file and the derivation
// from the system's tty class.
#include "platform/serial_device_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/devtable-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(SerialDeviceTable, FileEntriesResolvePorts) {
  TempDir dir;
  fs::path table = dir.path() / "serialcomm";
  writeFile(table,
            "# device table\n"
            "\n"
            "\\Device\\Serial0 COM1 /dev/pts/7\r\n"
            "   # an indented comment\n"
            "\\Device\\Serial1 com3 /tmp/a path with blanks  \n"
            "incomplete COM4\n"
            "\\Device\\Serial9 COM1 /dev/ignored-second-com1\n");
  setenv("UPDATETOOL_SERIALCOMM", table.c_str(), 1);

  auto entries = ReadSerialDeviceTable();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].deviceName, "\\Device\\Serial0");
  EXPECT_EQ(entries[0].portName, "COM1");
  EXPECT_EQ(entries[0].devicePath, "/dev/pts/7");

  EXPECT_EQ(SerialDevicePath(0), "/dev/pts/7");
  EXPECT_EQ(SerialDevicePath(2), "/tmp/a path with blanks");
  EXPECT_EQ(SerialDevicePath(1), std::nullopt);
  EXPECT_EQ(SerialDevicePath(3), std::nullopt);
  EXPECT_EQ(SerialDevicePath(-1), std::nullopt);
  EXPECT_EQ(SerialDevicePath(12), std::nullopt);
}

TEST(SerialDeviceTable, MissingFileGivesAnEmptyTable) {
  setenv("UPDATETOOL_SERIALCOMM", "/tmp/no-such-serialcomm-file", 1);
  EXPECT_TRUE(ReadSerialDeviceTable().empty());
  EXPECT_EQ(SerialDevicePath(0), std::nullopt);
}

void addTty(const fs::path& root, const std::string& name, bool device, const char* type) {
  fs::create_directories(root / name);
  if (device) fs::create_directories(root / name / "device");
  if (type) writeFile(root / name / "type", std::string(type) + "\n");
}

TEST(SerialDeviceTable, DerivedFromPresentSerialDevicesInAStableOrder) {
  TempDir dir;
  const fs::path root = dir.path();
  addTty(root, "tty0", false, nullptr);       // virtual console
  addTty(root, "ptmx", false, nullptr);
  addTty(root, "ttyS0", true, "4");           // UART present
  addTty(root, "ttyS1", true, "0");           // no UART behind it
  addTty(root, "ttyS10", true, "4");
  addTty(root, "ttyS2", true, "4");
  addTty(root, "ttyACM0", true, nullptr);
  addTty(root, "ttyUSB1", true, nullptr);
  addTty(root, "ttyUSB0", true, nullptr);
  addTty(root, "ttyAMA0", true, nullptr);

  auto entries = DeriveSerialDeviceTable(root.string());
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& e : entries) {
    EXPECT_EQ(e.deviceName, e.devicePath);
    got.emplace_back(e.portName, e.devicePath);
  }
  std::vector<std::pair<std::string, std::string>> expected = {
      {"COM1", "/dev/ttyS0"},   {"COM2", "/dev/ttyS2"},   {"COM3", "/dev/ttyS10"},
      {"COM4", "/dev/ttyUSB0"}, {"COM5", "/dev/ttyUSB1"}, {"COM6", "/dev/ttyACM0"},
      {"COM7", "/dev/ttyAMA0"},
  };
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(DeriveSerialDeviceTable((root / "missing").string()).empty());
}

}  // namespace
}  // namespace platform
