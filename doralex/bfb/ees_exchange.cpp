// One EEPROM request and its answer. Both carry a trailing XOR of their bytes.
#include <atomic>
#include <cstring>

#include "doralex/bfb/ees.h"

namespace dlx {
namespace {

constexpr uint8_t kOpenForWrite = 0x11;
constexpr uint8_t kBusy = 0x50;
constexpr uint32_t kBusyTimeoutMs = 5000;
constexpr int kAnswerReads = 6;
constexpr int kStatusNoAnswer = 4;

std::atomic<int> lastStatus{0};

int statusOfRefusal(uint8_t code) {
  switch (code) {
    case 0x20: return 3;
    case 0x30: return 0;
    case 0x31: return 1;
    case 0x32: return 2;
    case 0x33: return 9;
    case 0x34: return 10;
    case 0x35: return 7;
    case 0x36: return 5;
    case 0x37: return 6;
    default: return 8;
  }
}

uint8_t xorOf(const uint8_t* bytes, std::size_t count) {
  uint8_t check = 0;
  for (std::size_t i = 0; i < count; ++i) check ^= bytes[i];
  return check;
}

// Up to `reads` frame reads until a type-0x14 frame arrives whose check byte
// holds. False when none did.
bool readAnswer(WHandle handle, int reads, EesAnswer* answer) {
  for (int i = 0; i < reads; ++i) {
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t data[kBfbMaxData];
    if (!WComRead(handle, &type, &length, data)) continue;
    if (type != kFrameEes || length < 2) return false;
    if (xorOf(data, length - 1u) != data[length - 1]) return false;
    answer->length = static_cast<uint8_t>(length - 1);
    std::memcpy(answer->data, data, answer->length);
    return true;
  }
  return false;
}

// The phone may be busy opening a block; it answers again when it is done.
bool readAnswerAfterBusy(WHandle handle, EesAnswer* answer) {
  uint32_t remembered = 0;
  WComGetTimeOut(handle, &remembered);
  WComSetTimeOut(handle, kBusyTimeoutMs);
  bool answered = readAnswer(handle, 1, answer);
  WComSetTimeOut(handle, remembered);
  return answered;
}

// One request and its answer; returns the status of the exchange.
int exchangeOnce(WHandle handle, const uint8_t* frame, std::size_t frameLength,
                 EesAnswer* answer) {
  uint8_t command = frame[0];
  if (!WComWrite(handle, kFrameEes, static_cast<uint8_t>(frameLength), frame)) {
    return kStatusNoAnswer;
  }
  if (!readAnswer(handle, kAnswerReads, answer)) return kStatusNoAnswer;
  if (command == kOpenForWrite && answer->data[0] == kBusy &&
      !readAnswerAfterBusy(handle, answer)) {
    return kStatusNoAnswer;
  }
  return answer->data[0] == command ? 0 : statusOfRefusal(answer->data[0]);
}

}  // namespace

int EesLastStatus() { return lastStatus.load(); }

int EesExchange(WHandle handle, const uint8_t* request, std::size_t count, EesAnswer* answer) {
  // The request and its check byte must fit one frame.
  if (!request || !answer || count == 0 || count + 1 > kBfbMaxData) {
    lastStatus = kStatusNoAnswer;
    return 0;
  }
  uint8_t frame[kBfbMaxData];
  std::memcpy(frame, request, count);
  frame[count] = xorOf(request, count);

  // Opening is tried once; the other commands once more when the phone was
  // silent or not ready (status 4 or 3).
  int attempts = request[0] == kOpenForWrite ? 1 : 2;
  int status = kStatusNoAnswer;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    *answer = EesAnswer{};
    status = exchangeOnce(handle, frame, count + 1, answer);
    if (status != 3 && status != kStatusNoAnswer) break;
  }
  lastStatus = status;
  return status == 0 && answer->data[0] == request[0] ? 1 : 0;
}

}  // namespace dlx
