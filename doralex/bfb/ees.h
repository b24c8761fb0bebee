// Access to the phone's emulated EEPROM blocks over BFB frames of type 0x14,
// and the 64-byte record kept in block 5163.
#pragma once

#include <cstddef>
#include <cstdint>

#include "doralex/bfb/bfb_link.h"

namespace dlx {

constexpr uint16_t kEesRecordBlock = 5163;
constexpr std::size_t kEesRecordSize = 64;
constexpr uint8_t kEesRecordMarker = 0xA7;
constexpr std::size_t kEesChunkSize = 20;

// Status of the last exchange: 0 accepted, 4 no valid answer, otherwise the
// phone's refusal mapped to 0..10.
int EesLastStatus();

int EesWriteBlock(WHandle handle, uint16_t block, uint16_t size, uint8_t mode,
                  const uint8_t* data);
// Refuses a block larger than `capacity` without reading it.
int EesReadBlock(WHandle handle, uint16_t block, uint16_t* size, uint8_t* mode, uint8_t* data,
                 std::size_t capacity);

// Sets the marker (byte 1) and the check byte (byte 63) in `record`, then
// writes it to block 5163 with byte 0 as the block's mode.
int EesWriteRecord(WHandle handle, uint8_t* record);
// 1 when block 5163 was read whole, is 64 bytes long and carries the marker
// and a valid check byte.
int EesReadRecord(WHandle handle, uint8_t* record);

// --- Single exchanges (ees_exchange.cpp) -------------------------------------
struct EesAnswer {
  uint8_t length = 0;  // answer bytes without the trailing check byte
  uint8_t data[kBfbMaxData] = {};
};

// Sends one request (its check byte is added here) and waits for the phone's
// answer, with the retry and busy rules of the request's command. 1 when the
// phone accepted; EesLastStatus tells why not.
int EesExchange(WHandle handle, const uint8_t* request, std::size_t count, EesAnswer* answer);

}  // namespace dlx
