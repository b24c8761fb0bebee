// Cipher frame of the crypto module: a block cipher driven through a mode
// routine, with padding on the final piece. Lengths of input are in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct evp_cipher_ctx_st;

namespace nimbo {

constexpr uint32_t kMaxBlockSize = 64;
constexpr uint32_t kFlagPadding = 1u << 0;  // pad when encrypting, strip when decrypting (final piece)
constexpr uint32_t kFlagUsesIv = 1u << 2;   // the start copies the IV into the chaining block
constexpr int kEncrypt = 0;
constexpr int kDecrypt = 1;

struct EvpCipherFree {
  void operator()(evp_cipher_ctx_st* ctx) const;
};
using EvpCipher = std::unique_ptr<evp_cipher_ctx_st, EvpCipherFree>;

// Expanded key: libcrypto holds the encryption and decryption schedules.
struct KeySchedule {
  EvpCipher encrypt;
  EvpCipher decrypt;
};

}  // namespace nimbo

struct CipherContext;

// Runs `blocks` whole blocks from `in` to `out` (which may be `in`) and keeps
// the context's chaining block current.
using ModeRoutine = int (*)(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks,
                            int direction);
using KeySetupRoutine = int (*)(CipherContext& ctx, const uint8_t* key, uint32_t keyBits,
                                uint32_t blockSize);
// Runs `blocks` whole blocks chained from `chain` (CBC order); `chain` itself is
// left alone, the mode routine owns it.
using BlockRoutine = int (*)(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks,
                             int direction, const uint8_t* chain);

int AesKeySetup(CipherContext& ctx, const uint8_t* key, uint32_t keyBits, uint32_t blockSize);
int AesBlocks(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks, int direction,
              const uint8_t* chain);
int CbcMode(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks, int direction);

// One context per en- or decryption; the defaults are AES-CBC with PKCS #7
// padding and an IV, as the payload uses.
struct CipherContext {
  uint32_t blockSize = 16;
  uint32_t ivLength = 16;
  uint8_t partial[nimbo::kMaxBlockSize] = {};
  uint32_t buffered = 0;
  uint32_t flags = nimbo::kFlagPadding | nimbo::kFlagUsesIv;
  uint8_t chain[nimbo::kMaxBlockSize] = {};
  nimbo::KeySchedule schedule;
  ModeRoutine mode = CbcMode;
  KeySetupRoutine keySetup = AesKeySetup;
  BlockRoutine block = AesBlocks;
};

// Expands the key (blockSize is the block size asked of the key setup) and,
// with kFlagUsesIv, copies ivLength bytes of `iv` into the chaining block.
int nimbo_CryptStart(const uint8_t* key, uint32_t keyBits, const uint8_t* iv, CipherContext* ctx,
                     uint32_t blockSize);

// Processes one piece of sourceBits bits. `dest` may equal `source` (in place)
// when nothing is buffered from an earlier piece. Without `dest` only the
// needed size is stored in *destLength. Otherwise *destLength is the capacity
// on entry and the bytes written on return. direction: 0 encrypt, 1 decrypt.
int nimbo_Crypt(const uint8_t* source, uint64_t sourceBits, uint8_t* dest, size_t* destLength,
                int direction, CipherContext* ctx, int final);
