// Hash frame of the crypto module: any iterated hash driven through its init,
// block and final routines. Lengths of input are in bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nimbo {
constexpr uint32_t kMaxHashBlock = 64;
}

// Chaining words and message bit count of an iterated hash (SHA-1 uses five).
struct HashState {
  uint32_t words[5];
  uint64_t bitCount;
};

struct HashContext;
using HashInitRoutine = void (*)(HashContext& ctx, int argument);
// Compresses `blocks` whole blocks, adding their bits to the count.
using HashBlockRoutine = void (*)(HashContext& ctx, const uint8_t* data, size_t blocks);
// Pads the `bytes` buffered bytes, of which the last holds only `strayBits`
// bits when that is non-zero, compresses and writes the digest.
using HashFinalRoutine = void (*)(HashContext& ctx, uint32_t bytes, unsigned strayBits,
                                  uint8_t* digest);

void Sha1Init(HashContext& ctx, int argument);
void Sha1Blocks(HashContext& ctx, const uint8_t* data, size_t blocks);
void Sha1Final(HashContext& ctx, uint32_t bytes, unsigned strayBits, uint8_t* digest);

// One context per hash; the defaults are SHA-1.
struct HashContext {
  uint32_t digestLength = 20;
  uint32_t blockLength = 64;
  uint8_t blockBuffer[nimbo::kMaxHashBlock] = {};
  uint32_t buffered = 0;
  HashState state = {};
  HashInitRoutine init = Sha1Init;
  HashBlockRoutine block = Sha1Blocks;
  HashFinalRoutine finish = Sha1Final;
};

int nimbo_HashStart(HashContext* ctx, int argument);

// Feeds dataBits bits; a length that is not a whole number of bytes is
// accepted on the final piece only, whose digest goes to `digest`.
int nimbo_Hash(const uint8_t* data, uint64_t dataBits, uint8_t* digest, HashContext* ctx, int final);
