// The update sequence over the phone's flash loader (module swupwork): the
// update thread started by StartUpdate and the steps it is made of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "doralex/container.h"
#include "doralex/serial/wseril3.h"
#include "doralex/types.h"

namespace dlx {

// What StartUpdate hands to the update thread of a channel.
struct StartRecord {
  uint16_t channel;
  int32_t port;
  uint32_t speed;
};

// Name of the process-wide mutex that serialises the connection steps.
inline constexpr const char* kUpdateMutexName = "dlx_mutex";

// Runs one update to its end: exactly one success or error callback, the
// port closed.
void UpdateThread(StartRecord start);

// Opens the port of a manual start (port mode 3) at 115200 baud.
int ManualPortOpen(int* outcome, uint16_t channel, int port, uint32_t speed,
                   ConnectProgressFn progress);

// Marks the phone's software invalid before the transfer (project type 5 with
// a BGJ address): writes 0x00 at bgj_address + 508.
int InvalidateBgj(int port, uint32_t projectType);
// The one-byte heap-data block InvalidateBgj sends: address high, middle, low,
// length 1, data 0x00, checksum.
std::vector<uint8_t> BgjInvalidationBlock(uint32_t bgjAddress);

// Projects whose new-split enable ranges are widened to whole 64 KiB blocks.
bool UsesBlockAlignment(const char* projectName);
// The split list's ranges, widened for the projects that need it.
std::vector<Range> SplitEnableRanges(const SplitElement* splitList, const char* projectName);
// Enables writing for every flash block the split list touches (0x57 per
// block). 0 after recording the failure.
int EnableWriteBlockByBlock(int port, uint16_t channel);

}  // namespace dlx
