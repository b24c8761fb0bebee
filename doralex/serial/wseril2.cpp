// Block framing of the flash-loader protocol on top of the serial port layer.
#include "doralex/serial/wseril2.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/wseril1.h"

namespace dlx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCommandTimeoutMs = 1000;
constexpr uint32_t kInnerWaitMs = 100;  // every wait inside a frame
constexpr int kMaxAttempts = 5;
constexpr auto kPauseAfterAnswer = std::chrono::milliseconds(10);
// A flush reads at most this many bytes: a line that never stops talking
// must not keep the sender in the flush for ever.
constexpr long kMaxFlushReads = 0x10000;

// Per port: the frame record that receives the phone's frames.
LoaderFrame portFrames[kPortCount];
// Written by the update thread before the waits that use it; atomics because
// successive update threads register in turn.
std::atomic<FrameHandler> handlers[256];
std::atomic<uint32_t> busyWaitLimitMs{kBusyWaitLimitMs};

const char* statusName(int status) {
  switch (status) {
    case ReceiveOk: return "ReceiveOk";
    case ReceiveTimeOut: return "ReceiveTimeOut";
    case MobileError: return "MobileError";
    case SerialError: return "SerialError";
    case CmdBlockReceived: return "CmdBlockReceived";
    case ChkError: return "ChkError";
    case UnknownChar: return "UnknownChar";
    default: return "unknown";
  }
}

void addError(int port, uint32_t code, const char* descriptor = "",
              std::initializer_list<ErrorArg> values = {}) {
  AddLibraryError(FindChannel(port), code, descriptor, values);
}

int refuseOversizedBlock(int port) {
  DLX_SET_ERROR(port, 7, wseril2);
  addError(port, 0x203);
  return 0;
}

// Reads `count` bytes of a frame, each within the inner wait, into `into`
// (nullptr discards them). False when a read fails.
bool readFrameBytes(int port, uint8_t* into, int count) {
  for (int i = 0; i < count; ++i) {
    uint8_t byte = 0;
    if (!ComReadByteTimed(port, &byte, kInnerWaitMs)) return false;
    if (into) into[i] = byte;
  }
  return true;
}

}  // namespace

void SetBusyWaitLimit(uint32_t limitMs) { busyWaitLimitMs.store(limitMs); }

int SendFrame(int port, uint8_t mi, uint8_t paramCount, const uint8_t* params) {
  LogMessage(FindChannel(port), 2, kLogSerial, "Sende Block mit MI: %02X\n", mi);
  if (paramCount > kMaxBlockData - 1) return refuseOversizedBlock(port);
  uint8_t block[kMaxBlockData + 5];
  block[0] = block[1] = block[2] = 0xFF;
  block[3] = static_cast<uint8_t>(paramCount + 1);
  block[4] = mi;
  if (paramCount > 0) std::memcpy(block + 5, params, paramCount);
  uint8_t checksum = 0;
  for (int i = 0; i < 5 + paramCount; ++i) checksum ^= block[i];
  block[5 + paramCount] = checksum;
  uint32_t sent = 0;
  return SendBlock(port, block, kCommandTimeoutMs, &sent);
}

int SendBlock(int port, const uint8_t* block, uint32_t answerTimeoutMs, uint32_t* bytesSent) {
  const uint16_t channel = FindChannel(port);
  const uint8_t length = block[3];
  if (length > kMaxBlockData) return refuseOversizedBlock(port);
  const uint32_t blockBytes = length + 5u;

  int attempts = 0;
  bool send = true;
  bool busy = false;
  // Since when the sender has waited without counting (busy phone, or
  // frames instead of an answer); bounded by the busy-wait limit.
  bool waitingUncounted = false;
  Clock::time_point uncountedSince{};

  auto logAfterSending = [&] {
    LogMessage(channel, 2, kLogSerial, "After sending %d Bytes, Adress:%02X%02X%02X \n",
               static_cast<int>(blockBytes), block[0], block[1], block[2]);
  };
  auto retry = [&] {
    send = true;
    busy = false;
    waitingUncounted = false;
    ++attempts;
  };
  // True while an uncounted wait may go on; false once it has run too long
  // (or the device is gone), and the attempt then counts as a time-out.
  auto mayWaitUncounted = [&] {
    if (ComLineFailed(port)) return false;
    if (!waitingUncounted) {
      waitingUncounted = true;
      uncountedSince = Clock::now();
      return true;
    }
    return Clock::now() - uncountedSince < std::chrono::milliseconds(busyWaitLimitMs.load());
  };

  do {
    if (send) {
      LogMessage(channel, 3, kLogSerial, "Sende %d Bytes, Adress:%02X%02X%02X \n",
                 static_cast<int>(blockBytes), block[0], block[1], block[2]);
      ComWriteBlock(port, block, blockBytes);
      send = false;
    }
    uint8_t value = 0;
    const int status = ReceiveValue(port, &value, answerTimeoutMs);
    if (bytesSent) *bytesSent = blockBytes;
    LogMessage(channel, 3, kLogSerial, "Empfangen : %s Byte : %02Xh\n", statusName(status), value);

    switch (status) {
      case ReceiveOk:
        if (value == kAck) {
          std::this_thread::sleep_for(kPauseAfterAnswer);
          return 1;
        }
        if (value == kNak) {
          retry();
        } else if (value == kBusy) {
          busy = true;
          if (!mayWaitUncounted()) retry();
        } else {
          logAfterSending();
          LogMessage(channel, 2, kLogSerial, "unknown Byte %02X received\n", value);
          addError(port, 0x204, "x", {static_cast<uint32_t>(value)});
          retry();
        }
        break;
      case ReceiveTimeOut:
        if (busy && mayWaitUncounted()) break;
        logAfterSending();
        LogMessage(channel, 2, kLogSerial, "Receive-Timeout, nothing received\n");
        retry();
        break;
      case CmdBlockReceived:
        logAfterSending();
        LogMessage(channel, 2, kLogSerial, "Cmd-Block-Received\n");
        if (!mayWaitUncounted()) retry();
        break;
      case UnknownChar: {
        logAfterSending();
        LogMessage(channel, 2, kLogSerial, "unknown character received, now flushing inbuf\n");
        long reads = 0;
        uint8_t discard = 0;
        bool more = true;
        while (more && reads < kMaxFlushReads) {
          more = ComReadByteTimed(port, &discard, answerTimeoutMs) != 0;
          ++reads;
        }
        LogMessage(channel, 2, kLogSerial, "had to read %ld characters to flush buffer\n", reads);
        retry();
        break;
      }
      default:
        logAfterSending();
        LogMessage(channel, 2, kLogSerial,
                   "unknown retval %d from ReceiveValue Value received = %02Xh\n", status, value);
        addError(port, 0x207, "dx", {static_cast<int32_t>(status), static_cast<uint32_t>(value)});
        retry();
        break;
    }
    std::this_thread::sleep_for(kPauseAfterAnswer);
  } while (attempts < kMaxAttempts);

  LogMessage(channel, 2, kLogSerial, "aborting due to communication-error\n");
  addError(port, 0x208);
  return 0;
}

int ReceiveValue(int port, uint8_t* value, uint32_t timeoutMs) {
  uint8_t byte = 0;
  if (!ComReadByteTimed(port, &byte, timeoutMs)) {
    addError(port, 0x205);
    return ReceiveTimeOut;
  }
  if (value) *value = byte;
  switch (byte) {
    case kAck:
    case kNak:
    case kA5:
    case kBusy:
      return ReceiveOk;
    case 0xFF: {
      LoaderFrame& frame = portFrames[port];  // the read above proved the port valid
      if (ReceiveFrame(port, &frame, 2, timeoutMs) != CmdBlockReceived) return SerialError;
      DispatchFrame(port, frame);
      return CmdBlockReceived;
    }
    default:
      addError(port, 0x206);
      return UnknownChar;
  }
}

int ReceiveFrame(int port, LoaderFrame* frame, int preambleMode, uint32_t timeoutMs) {
  const uint16_t channel = FindChannel(port);
  int missing = preambleMode == 2 ? 2 : 3;
  bool seenFF = preambleMode == 2;
  const uint32_t firstWaitMs = seenFF ? kInnerWaitMs : timeoutMs;
  // Stray bytes are skipped, but not for longer than the first wait: a line
  // that keeps delivering garbage ends the search like silence would.
  const Clock::time_point strayDeadline =
      Clock::now() + std::chrono::milliseconds(firstWaitMs > kInnerWaitMs ? firstWaitMs
                                                                          : kInnerWaitMs);
  LogMessage(channel, 2, kLogSerial, "FF-count = %d\n", missing);

  while (missing > 0) {
    const uint32_t waitMs = seenFF ? kInnerWaitMs : timeoutMs;
    LogMessage(channel, 2, kLogSerial, "Warte %d ms\n", static_cast<int>(waitMs));
    uint8_t byte = 0;
    const bool got = ComReadByteTimed(port, &byte, waitMs) != 0;
    if (got && byte == 0xFF) {
      LogMessage(channel, 2, kLogSerial, "FF empfangen\n");
      seenFF = true;
      --missing;
      continue;
    }
    if (got && Clock::now() < strayDeadline) {
      LogMessage(channel, 2, kLogSerial, "Different char %02X received , but beeing lazy ...\n",
                 byte);
      continue;
    }
    LogMessage(channel, 2, kLogSerial, "Timeout beim Warten auf FF\n");
    addError(port, 0x20D);
    return ReceiveTimeOut;
  }

  uint8_t length = 0;
  if (!readFrameBytes(port, &length, 1)) {
    addError(port, 0x20B);
    return SerialError;
  }
  LogMessage(channel, 2, kLogSerial, "Len %d empfangen\n", length);
  if (length == 0 || length > kMaxBlockData + 1) {
    // It does not fit the frame record: take what the phone announced off the
    // line (MI, data and checksum) and reject the frame.
    readFrameBytes(port, nullptr, length + 1);
    addError(port, 0x20C);
    return SerialError;
  }

  uint8_t mi = 0;
  uint8_t data[kMaxBlockData];
  const int dataLength = length - 1;
  uint8_t checksum = 0;
  if (!readFrameBytes(port, &mi, 1)) {
    addError(port, 0x20B);
    return SerialError;
  }
  LogMessage(channel, 2, kLogSerial, "Message-ID %02X empfangen\n", mi);
  if (!readFrameBytes(port, data, dataLength)) {
    addError(port, 0x20B);
    return SerialError;
  }
  LogMessage(channel, 3, kLogSerial, "Receiving Data : ");
  for (int i = 0; i < dataLength; ++i) LogMessage(channel, 3, kLogSerial, "%02X ", data[i]);
  LogMessage(channel, 3, kLogSerial, "\n");
  if (!readFrameBytes(port, &checksum, 1)) {
    LogMessage(channel, 2, kLogSerial, "Serial-Err\n");
    addError(port, 0x20B);
    return SerialError;
  }
  LogMessage(channel, 2, kLogSerial, "XOR %02X\n", checksum);

  frame->mi = mi;
  frame->length = static_cast<uint8_t>(dataLength);
  std::memcpy(frame->data, data, static_cast<std::size_t>(dataLength));

  uint8_t expected = static_cast<uint8_t>(0xFF ^ length ^ mi);
  for (int i = 0; i < dataLength; ++i) expected ^= data[i];
  if (expected != checksum) {
    LogMessage(channel, 2, kLogSerial, "CheckSumm-Err\n");
    addError(port, 0x209);
    return ChkError;  // no NAK: the phone sends the frame again
  }
  ComWriteByte(port, kAck);
  return CmdBlockReceived;
}

int WaitForMessage(int port, LoaderFrame* frame, uint8_t expectedMi, uint32_t timeoutMs) {
  if (!ComPortIndexValid(port)) {
    ComReadByte(port, nullptr);  // records "not open" like every operation on such a port
    addError(port, 0x202);
    return 0;
  }
  LoaderFrame& received = portFrames[port];
  for (;;) {
    if (ReceiveFrame(port, &received, 3, timeoutMs) != CmdBlockReceived) {
      addError(port, 0x202);
      return 0;
    }
    if (received.mi == expectedMi) {
      if (frame) *frame = received;
      return 1;
    }
    if (DispatchFrame(port, received) == 0) return 0;
  }
}

int RegisterHandler(uint8_t mi, FrameHandler handler) {
  handlers[mi].store(handler);
  return 1;
}

int DispatchFrame(int port, const LoaderFrame& frame) {
  FrameHandler handler = handlers[frame.mi].load();
  if (!handler) return 0;
  return handler(port, frame.mi, frame.length, frame.data);
}

}  // namespace dlx
