// Whole EEPROM blocks: open, chunks, close for writing; information and
// chunks for reading.
#include <algorithm>
#include <cstring>

#include "doralex/bfb/ees.h"

namespace dlx {
namespace {

constexpr uint8_t kOpenForWrite = 0x11;
constexpr uint8_t kWriteChunk = 0x12;
constexpr uint8_t kClose = 0x13;
constexpr uint8_t kReadChunk = 0x14;
constexpr uint8_t kInformation = 0x15;

void putU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value & 0xFF);
  at[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t getU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

bool writeChunk(WHandle handle, uint16_t block, uint16_t offset, const uint8_t* data,
                std::size_t count) {
  uint8_t request[5 + kEesChunkSize];
  request[0] = kWriteChunk;
  putU16(request + 1, block);
  putU16(request + 3, offset);
  std::memcpy(request + 5, data, count);
  EesAnswer answer;
  return EesExchange(handle, request, 5 + count, &answer) == 1;
}

bool readChunk(WHandle handle, uint16_t block, uint16_t offset, uint8_t* data,
               std::size_t count) {
  uint8_t request[7];
  request[0] = kReadChunk;
  putU16(request + 1, block);
  putU16(request + 3, offset);
  putU16(request + 5, static_cast<uint16_t>(count));
  EesAnswer answer;
  // A short answer does not fill the chunk: the block is not read whole.
  if (!EesExchange(handle, request, sizeof request, &answer) || answer.length < 1 + count) {
    return false;
  }
  std::memcpy(data, answer.data + 1, count);
  return true;
}

}  // namespace

int EesWriteBlock(WHandle handle, uint16_t block, uint16_t size, uint8_t mode,
                  const uint8_t* data) {
  if (!data && size > 0) return 0;
  uint8_t open[6];
  open[0] = kOpenForWrite;
  putU16(open + 1, block);
  putU16(open + 3, size);
  open[5] = mode;
  EesAnswer answer;
  if (!EesExchange(handle, open, sizeof open, &answer)) return 0;

  bool written = true;
  for (std::size_t offset = 0; offset < size && written; offset += kEesChunkSize) {
    std::size_t count = std::min<std::size_t>(kEesChunkSize, size - offset);
    written = writeChunk(handle, block, static_cast<uint16_t>(offset), data + offset, count);
  }

  // The block is closed even after a failed chunk, so the phone does not keep it open.
  uint8_t close[3];
  close[0] = kClose;
  putU16(close + 1, block);
  bool closed = EesExchange(handle, close, sizeof close, &answer) == 1;
  return written && closed ? 1 : 0;
}

int EesReadBlock(WHandle handle, uint16_t block, uint16_t* size, uint8_t* mode, uint8_t* data,
                 std::size_t capacity) {
  if (!size || !mode || !data) return 0;
  uint8_t info[3];
  info[0] = kInformation;
  putU16(info + 1, block);
  EesAnswer answer;
  if (!EesExchange(handle, info, sizeof info, &answer) || answer.length < 4) return 0;
  *size = getU16(answer.data + 1);
  *mode = answer.data[3];
  if (*size > capacity) return 0;

  for (std::size_t offset = 0; offset < *size; offset += kEesChunkSize) {
    std::size_t count = std::min<std::size_t>(kEesChunkSize, *size - offset);
    if (!readChunk(handle, block, static_cast<uint16_t>(offset), data + offset, count)) return 0;
  }
  return 1;
}

}  // namespace dlx
