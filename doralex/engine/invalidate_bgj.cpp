// Invalidation of the phone's software before the transfer: a single zero byte
// written into the BGJ record, so that an interrupted update never leaves a
// phone that takes half-written software for valid.
#include "doralex/container.h"
#include "doralex/engine/update_sequence.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/loader_commands.h"
#include "doralex/serial/wseril2.h"

namespace dlx {
namespace {

constexpr uint32_t kBgjMarkOffset = 508;
constexpr uint32_t kBgjAnswerMs = 1000;
constexpr uint32_t kProjectTypeWithBgj = 5;

}  // namespace

std::vector<uint8_t> BgjInvalidationBlock(uint32_t bgjAddress) {
  const uint32_t address = bgjAddress + kBgjMarkOffset;
  std::vector<uint8_t> block = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), 0x01, 0x00};
  uint8_t checksum = 0;
  for (uint8_t byte : block) checksum ^= byte;
  block.push_back(checksum);
  return block;
}

int InvalidateBgj(int port, uint32_t projectType) {
  const uint32_t bgjAddress = GetXbiHeaderInfo().bgj_address;
  if (bgjAddress == 0 || projectType != kProjectTypeWithBgj) return 1;
  if (!EnableFlashWriteAll(port)) return 0;
  LogMessage(FindChannel(port), 1, kLogUpdate, "Invalidate BGJ\n");
  const std::vector<uint8_t> block = BgjInvalidationBlock(bgjAddress);
  uint32_t sent = 0;
  return SendBlock(port, block.data(), kBgjAnswerMs, &sent);
}

}  // namespace dlx
