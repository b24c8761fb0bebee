// Composite flash-loader exchanges: block streaming with progress, erasing by
// block list or by the phone's own routine, hashing start, additional
// information, and the signature negotiation.
#pragma once

#include <cstdint>
#include <vector>

#include "doralex/types.h"

namespace dlx {

// An address range (first and last byte address) or a block range (first and
// last block number), inclusive.
struct Range {
  uint32_t first;
  uint32_t last;
};

using TransmitProgressFn = void (*)(void* context, uint32_t bytesSent);

int TransmitBlocks(int port, const uint8_t* image, uint32_t length, uint32_t answerTimeoutMs,
                   void* context, TransmitProgressFn progress);
// Translates address ranges into block ranges (0x53/0x54); *total counts the blocks.
int EraseAreas(int port, std::vector<Range>* blockRanges, const std::vector<Range>& addressRanges,
               uint16_t* total);
int EraseBlocks(int port, const std::vector<Range>& blockRanges, uint16_t channel, uint16_t total,
                EraseProgressFn progress);
// 1: the phone erased its flash itself; 0: not erased by it (0xAA) or no answer.
int EraseNewConcept(int port, uint16_t channel, EraseProgressFn progress);
int StartHashing(int port, int* negotiationState);
// 0x94 with the length, 0x95 chunks of at most 62 bytes, 0x96.
int SendAdditionalInfo(int port, const uint8_t* data, uint16_t length);

// Negotiation state: 0 not started / init not taken, 1 no hash data or answer
// pending, 2 no signature needed, 3 signature requested, 4 negotiated, 5 hashing.
int NegotiateSignature(int port, int* negotiationState);

}  // namespace dlx
