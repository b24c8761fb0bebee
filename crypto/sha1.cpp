// SHA-1 routines of the hash frame. The compression of whole blocks is
// libcrypto's (SHA extensions where the processor has them); the count, the
// padding of a bit-exact final piece and the digest are ours.

// libcrypto 3 marks the low-level SHA-1 calls deprecated; they are the only way
// to run its compression on chaining words we keep ourselves.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstring>

#include "crypto/hash.h"

void Sha1Init(HashContext& ctx, int /*argument*/) {
  static constexpr uint32_t kInitial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                           0xC3D2E1F0};
  std::memcpy(ctx.state.words, kInitial, sizeof kInitial);
  ctx.state.bitCount = 0;
}

void Sha1Blocks(HashContext& ctx, const uint8_t* data, size_t blocks) {
  if (blocks == 0) return;
  SHA_CTX sha{};
  sha.h0 = ctx.state.words[0];
  sha.h1 = ctx.state.words[1];
  sha.h2 = ctx.state.words[2];
  sha.h3 = ctx.state.words[3];
  sha.h4 = ctx.state.words[4];
  // With nothing buffered and whole blocks, SHA1_Update compresses them all in
  // one run straight from `data`.
  constexpr size_t kMaxRun = size_t{1} << 30;
  size_t bytes = blocks * 64;
  while (bytes > 0) {
    const size_t run = bytes < kMaxRun ? bytes : kMaxRun;
    SHA1_Update(&sha, data, run);
    data += run;
    bytes -= run;
  }
  ctx.state.words[0] = sha.h0;
  ctx.state.words[1] = sha.h1;
  ctx.state.words[2] = sha.h2;
  ctx.state.words[3] = sha.h3;
  ctx.state.words[4] = sha.h4;
  ctx.state.bitCount += uint64_t{512} * blocks;
}

void Sha1Final(HashContext& ctx, uint32_t bytes, unsigned strayBits, uint8_t* digest) {
  uint8_t* buf = ctx.blockBuffer;
  const uint64_t messageBits = ctx.state.bitCount + uint64_t{8} * bytes -
                               (strayBits != 0 ? 8 - strayBits : 0);
  // The 1 bit goes right behind the last message bit.
  if (strayBits != 0) {
    const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - strayBits));
    buf[bytes - 1] = static_cast<uint8_t>((buf[bytes - 1] & keep) | (0x80 >> strayBits));
  } else {
    buf[bytes++] = 0x80;
  }
  if (bytes > 56) {
    std::memset(buf + bytes, 0, 64 - bytes);
    Sha1Blocks(ctx, buf, 1);
    bytes = 0;
  }
  std::memset(buf + bytes, 0, 56 - bytes);
  for (int i = 0; i < 8; ++i) buf[56 + i] = static_cast<uint8_t>(messageBits >> (56 - 8 * i));
  Sha1Blocks(ctx, buf, 1);
  for (int w = 0; w < 5; ++w)
    for (int i = 0; i < 4; ++i)
      digest[4 * w + i] = static_cast<uint8_t>(ctx.state.words[w] >> (24 - 8 * i));
  std::memset(buf, 0, sizeof ctx.blockBuffer);
}
