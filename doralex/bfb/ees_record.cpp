// The 64-byte record in block 5163: a marker in byte 1 and a check byte in
// byte 63 that makes the XOR of all 64 bytes zero.
#include "doralex/bfb/ees.h"

namespace dlx {
namespace {

uint8_t xorOf(const uint8_t* bytes, std::size_t count) {
  uint8_t check = 0;
  for (std::size_t i = 0; i < count; ++i) check ^= bytes[i];
  return check;
}

}  // namespace

int EesWriteRecord(WHandle handle, uint8_t* record) {
  if (!record) return 0;
  record[1] = kEesRecordMarker;
  record[kEesRecordSize - 1] = xorOf(record, kEesRecordSize - 1);
  return EesWriteBlock(handle, kEesRecordBlock, kEesRecordSize, record[0], record);
}

int EesReadRecord(WHandle handle, uint8_t* record) {
  if (!record) return 0;
  uint16_t size = 0;
  uint8_t mode = 0;
  // A block of another size is no record of ours; a larger one would not fit.
  if (!EesReadBlock(handle, kEesRecordBlock, &size, &mode, record, kEesRecordSize) ||
      size != kEesRecordSize) {
    return 0;
  }
  return record[1] == kEesRecordMarker && xorOf(record, kEesRecordSize) == 0 ? 1 : 0;
}

}  // namespace dlx
