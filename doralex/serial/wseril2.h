// Block framing of the flash-loader protocol: blocks and command frames to the
// phone with acknowledgement and retries, frames from the phone with their
// preamble and checksum, and the handlers for frames nobody waits for.
#pragma once

#include <cstdint>

namespace dlx {

enum ReceiveStatus : int {
  ReceiveOk = 0,
  ReceiveTimeOut = 1,
  MobileError = 2,
  SerialError = 3,
  CmdBlockReceived = 4,
  ChkError = 5,
  UnknownChar = 6,
};

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kBusy = 0x9B;
constexpr uint8_t kA5 = 0xA5;
constexpr int kMaxBlockData = 64;

struct LoaderFrame {
  uint8_t mi;
  uint8_t length;  // data bytes after the MI
  uint8_t data[64];
};

// Returns nonzero to let a wait go on, zero to end it.
using FrameHandler = int (*)(int port, uint8_t mi, uint8_t length, const uint8_t* data);

int SendFrame(int port, uint8_t mi, uint8_t paramCount, const uint8_t* params);
// `block` is address (3), L, L data bytes, checksum; *bytesSent gets L + 5.
int SendBlock(int port, const uint8_t* block, uint32_t answerTimeoutMs, uint32_t* bytesSent);
int ReceiveValue(int port, uint8_t* value, uint32_t timeoutMs);
// preambleMode 3 when waiting for a frame, 2 when ReceiveValue consumed the first FF.
int ReceiveFrame(int port, LoaderFrame* frame, int preambleMode, uint32_t timeoutMs);
int WaitForMessage(int port, LoaderFrame* frame, uint8_t expectedMi, uint32_t timeoutMs);
int RegisterHandler(uint8_t mi, FrameHandler handler);
int DispatchFrame(int port, const LoaderFrame& frame);

// After a busy byte 0x9B (or frames arriving instead of an answer) SendBlock
// waits without counting, but no longer than this; then the attempt counts
// as a time-out. Well above the longest erase or write a phone takes.
constexpr uint32_t kBusyWaitLimitMs = 600000;
// Changes the limit (diagnostics and tests); kBusyWaitLimitMs by default.
void SetBusyWaitLimit(uint32_t limitMs);

}  // namespace dlx
