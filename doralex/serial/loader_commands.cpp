// The flash loader's single commands: parameters in the loader's byte order,
// the command's log line, one frame.
#include "doralex/serial/loader_commands.h"

#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/wseril2.h"

namespace dlx {
namespace {

// Parameters of one command, filled in order.
class Params {
 public:
  Params& u8(uint8_t value) {
    if (size_ < sizeof bytes_) bytes_[size_++] = value;
    return *this;
  }
  Params& le16(uint16_t value) { return u8(value & 0xFF).u8(value >> 8); }
  Params& le32(uint32_t value) { return le16(value & 0xFFFF).le16(value >> 16); }
  Params& be32(uint32_t value) {
    return u8(value >> 24).u8((value >> 16) & 0xFF).u8((value >> 8) & 0xFF).u8(value & 0xFF);
  }
  int send(int port, uint8_t mi) const { return SendFrame(port, mi, size_, bytes_); }

 private:
  uint8_t bytes_[kMaxBlockData - 1] = {};
  uint8_t size_ = 0;
};

void logCommand(int port, const char* line) { LogMessage(FindChannel(port), 1, kLogUpdate, "%s", line); }

}  // namespace

int SendEndOfTransmission(int port) {
  logCommand(port, "Sending End-Of-Transmission-Block\n");
  return Params().send(port, 0x04);
}

int RequestFlashSize(int port) {
  logCommand(port, "Requesting Flash-Size\n");
  return Params().send(port, 0x21);
}

int RequestFlashCode(int port, uint8_t selector) {
  logCommand(port, "Requesting Flash-Code\n");
  return Params().u8(selector).send(port, 0x32);
}

int RequestEraseBlocks(int port, uint32_t first, uint32_t last) {
  LogMessage(FindChannel(port), 1, kLogUpdate, "Requesting Erase-Blocks from %lX to %lX\n",
             static_cast<unsigned long>(first), static_cast<unsigned long>(last));
  return Params().be32(first).be32(last).send(port, 0x53);
}

int EraseFlashBlock(int port, uint8_t block) {
  LogMessage(FindChannel(port), 1, kLogUpdate, "Erasing one Flash-Block %d\n", block);
  return Params().u8(block).u8(block).send(port, 0x55);
}

int EnableFlashWriteBlock(int port, uint16_t block) {
  LogMessage(FindChannel(port), 1, kLogUpdate, "Enable FlashWrite for Block %ld\n",
             static_cast<long>(block));
  return Params().le16(block).send(port, 0x57);
}

int EnableFlashWriteAll(int port) {
  logCommand(port, "Enable FlashWrite for whole Flash\n");
  return Params().send(port, 0x58);
}

int SendEraseNewConcept(int port) {
  logCommand(port, "Sending command to erase flash-area with new concept\n");
  return Params().send(port, 0x59);
}

int SendSignatureCommand(int port, const uint8_t* params, uint8_t count) {
  return SendFrame(port, 0x60, count, params);
}

int SendCompressionInfo(int port, uint16_t p1, uint8_t p3, uint8_t p4, uint16_t p5, uint16_t p6,
                        uint16_t p7) {
  logCommand(port, "Sending Compression-Info \n");
  return Params().le16(p1).u8(p3).u8(p4).le16(p5).le16(p6).le16(p7).send(port, 0x80);
}

int SendAdditionalInfoLength(int port, uint16_t total) {
  logCommand(port, "Sending additional info\n");
  return Params().le16(total).send(port, 0x94);
}

int SendAdditionalInfoChunk(int port, const uint8_t* data, uint8_t count) {
  return SendFrame(port, 0x95, count, data);
}

int SendAdditionalInfoEnd(int port) { return Params().send(port, 0x96); }

int SendTransferSetup(int port, uint16_t value) { return Params().le16(value).send(port, 0xA0); }

int SendNewSplitInfo(int port, uint32_t start, uint32_t end, uint32_t parameter) {
  logCommand(port, "Sending New-Split-Info\n");
  return Params().le32(start).le32(end).le32(parameter).send(port, 0xB8);
}

int RequestSoftwareVersion(int port) {
  logCommand(port, "Requesting Mobile-SW-Version\n");
  return Params().send(port, 0xC2);
}

int SendSplitInfo(int port, uint32_t address, uint32_t address4) {
  logCommand(port, "Sending split-info\n");
  return Params().le32(address).le32(address4).send(port, 0xC8);
}

int SendLanguageGroupInfo(int port, const uint32_t values[4]) {
  logCommand(port, "Language-group-info\n");
  return Params().le32(values[0]).le32(values[1]).le32(values[2]).le32(values[3]).send(port, 0xCE);
}

int SendBlockTimeOut(int port, uint8_t value) {
  LogMessage(FindChannel(port), 1, kLogUpdate, "Sending Block-Time-Out %d\n", value);
  return Params().u8(value).send(port, 0xD0);
}

int SendByteTimeOut(int port, uint8_t value) {
  LogMessage(FindChannel(port), 1, kLogUpdate, "Sending Byte-Time-Out %d\n", value);
  return Params().u8(value).send(port, 0xD2);
}

int SendSwitchOff(int port) {
  logCommand(port, "Sending Switch-Off-Message\n");
  return Params().send(port, 0xF0);
}

}  // namespace dlx
