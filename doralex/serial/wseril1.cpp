// Serial port layer: the port records of COM1..COM12 on top of the platform
// serial device.
#include "doralex/serial/wseril1.h"

#include <strings.h>

#include <cstdio>
#include <memory>

#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "platform/profile_file.h"
#include "platform/serial_device.h"
#include "platform/serial_device_table.h"

namespace dlx {
namespace {

struct PortRecord {
  bool open = false;
  std::unique_ptr<platform::SerialDevice> device;
  uint32_t speed = 0;
  int parity = 0;
  uint32_t readTimeoutMs = 0;
  bool lineFailed = false;  // the device reported itself gone
};

// Only the thread that owns a port calls this layer for it.
PortRecord ports[kPortCount];

void addError(int port, uint32_t code) { AddLibraryError(FindChannel(port), code); }

// The record of an open port, or nullptr after recording "not open".
PortRecord* openRecord(int port) {
  if (ComPortIndexValid(port) && ports[port].open) return &ports[port];
  DLX_SET_ERROR(port, 1, wseril1);
  addError(port, 0x103);
  return nullptr;
}

bool lineSettings(int parity, platform::Parity* out) {
  switch (parity) {
    case 0: *out = platform::Parity::None; return true;
    case 1: *out = platform::Parity::Even; return true;
    case 2: *out = platform::Parity::Odd; return true;
    default: return false;
  }
}

}  // namespace

bool ComPortIndexValid(int port) { return port >= 0 && port < kPortCount; }

int ComOpen(int port, uint32_t speed, int parity) {
  const uint16_t channel = FindChannel(port);
  LogMessage(channel, 1, kLogSerial, "COM : opening Com-Port with %ld Baud\n",
             static_cast<long>(speed));
  if (!ComPortIndexValid(port)) {
    // No device name exists for it: refused like a device that cannot be opened,
    // without a port record to touch.
    LogMessage(channel, 1, kLogSerial, "COM : ComOpen : error on CreateFile\n");
    AddLibraryError(channel, 0x109);
    return 0;
  }
  PortRecord& record = ports[port];
  if (record.open) {
    DLX_SET_ERROR(port, 2, wseril1);
    addError(port, 0x100);
    return 0;
  }

  std::unique_ptr<platform::SerialDevice> device;
  if (std::optional<std::string> path = platform::SerialDevicePath(port)) {
    device = platform::SerialDevice::open(*path, nullptr);
  }
  if (!device) {
    LogMessage(channel, 1, kLogSerial, "COM : ComOpen : error on CreateFile\n");
    DLX_SET_ERROR(port, 3, wseril1);
    addError(port, 0x109);
    return 0;
  }
  record.device = std::move(device);
  record.open = true;
  record.lineFailed = false;

  const uint32_t lineSpeed = ComBaudForCard(port, speed);
  LogMessage(channel, 1, kLogSerial, "COM : ComOpen : SetCommState\n");
  platform::Parity lineParity = platform::Parity::None;
  if (!lineSettings(parity, &lineParity) ||
      !record.device->configure(lineSpeed, lineParity, parity != 0) ||
      !record.device->setRts(true) || !record.device->setDtr(false)) {
    record.open = false;
    record.device.reset();
    LogMessage(channel, 1, kLogSerial, "COM : ComOpen : error on SetCommState\n");
    DLX_SET_ERROR(port, 4, wseril1);
    addError(port, 0x102);
    return 0;
  }
  record.speed = lineSpeed;
  record.parity = parity;

  if (!ComSetReadTimeout(port, kRestingReadTimeoutMs)) return 0;  // stays open
  record.device->setRts(true);
  return 1;
}

int ComClose(int port) {
  if (!ComPortIndexValid(port) || !ports[port].open) {
    LogMessage(FindChannel(port), 1, kLogSerial, "COM : on closing comport, it was not opened\n");
    openRecord(port);  // records "not open"
    return 0;
  }
  LogMessage(FindChannel(port), 1, kLogSerial, "COM : closing comport\n");
  PortRecord& record = ports[port];
  record.device.reset();
  record.open = false;
  return 1;
}

int ComSetReadTimeout(int port, uint32_t timeoutMs) {
  PortRecord* record = openRecord(port);
  if (!record) return 0;
  // The time-out is applied by every read (poll); there is nothing a device
  // could refuse here.
  record->readTimeoutMs = timeoutMs;
  return 1;
}

int ComReadByteTimed(int port, uint8_t* byte, uint32_t timeoutMs) {
  if (!ComSetReadTimeout(port, timeoutMs)) return 0;
  const int read = ComReadByte(port, byte);
  const int restored = ComSetReadTimeout(port, kRestingReadTimeoutMs);
  return read && restored;
}

int ComReadByte(int port, uint8_t* byte) {
  PortRecord* record = openRecord(port);
  if (!record) return 0;
  uint8_t value = 0;
  platform::ReadResult result = record->device->read(&value, 1, record->readTimeoutMs);
  if (result.failed) record->lineFailed = true;
  if (result.count != 1) return 0;
  if (byte) *byte = value;
  return 1;
}

int ComWriteByte(int port, uint8_t byte) { return ComWriteBlock(port, &byte, 1); }

int ComWriteBlock(int port, const uint8_t* bytes, uint32_t count) {
  PortRecord* record = openRecord(port);
  if (!record) return 0;
  if (count > 0 && (!bytes || !record->device->write(bytes, count))) {
    record->lineFailed = record->lineFailed || record->device->bytesWaiting() < 0;
    addError(port, 0x107);
    return 0;
  }
  return 1;
}

int ComLineFailed(int port) {
  return ComPortIndexValid(port) && ports[port].open && ports[port].lineFailed ? 1 : 0;
}

uint32_t ComBaudForCard(int port, uint32_t speed) {
  char section[16];
  std::snprintf(section, sizeof section, "Com%d", port + 1);
  const std::string card =
      platform::ReadProfileString(platform::AddifastPath(), section, "ComPortType", "fastboot", 19);

  // The three fast speeds depend on the card's clock: the "fastboot" card
  // divides 25.5 MHz, ADDI-DATA cards take the nominal values, other cards
  // cannot do them and fall back to 115200.
  struct FastSpeed {
    uint32_t nominal;
    uint32_t fastboot;
  };
  static constexpr FastSpeed kFastSpeeds[] = {
      {101500, 99609}, {203000, 199219}, {406000, 398438}};
  for (const FastSpeed& fast : kFastSpeeds) {
    if (speed != fast.nominal) continue;
    if (strcasecmp(card.c_str(), "fastboot") == 0) return fast.fastboot;
    if (strcasecmp(card.c_str(), "addidata") == 0) return fast.nominal;
    return 115200;
  }
  return speed;
}

}  // namespace dlx
