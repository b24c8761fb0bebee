// AES through libcrypto's EVP interface (AES-NI where the processor has it) and
// the CBC mode routine.
#include <openssl/evp.h>

#include <climits>
#include <cstring>

#include "crypto/cipher.h"
#include "crypto/codes.h"
#include "crypto/last_error.h"

namespace nimbo {
void EvpCipherFree::operator()(evp_cipher_ctx_st* ctx) const { EVP_CIPHER_CTX_free(ctx); }
}  // namespace nimbo

namespace {

const EVP_CIPHER* aesCbcFor(uint32_t keyBits) {
  switch (keyBits) {
    case 128: return EVP_aes_128_cbc();
    case 192: return EVP_aes_192_cbc();
    case 256: return EVP_aes_256_cbc();
    default: return nullptr;
  }
}

nimbo::EvpCipher makeSchedule(const EVP_CIPHER* cipher, const uint8_t* key, int encrypt) {
  nimbo::EvpCipher ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt) != 1) return {};
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);  // padding is the frame's business
  return ctx;
}

}  // namespace

int AesKeySetup(CipherContext& ctx, const uint8_t* key, uint32_t keyBits, uint32_t blockSize) {
  const EVP_CIPHER* cipher = aesCbcFor(keyBits);
  if (blockSize != 16 || cipher == nullptr || key == nullptr) {
    nimbo_SetLastError(nimbo::kCodeKeySetup);
    return -1;
  }
  nimbo::KeySchedule schedule{makeSchedule(cipher, key, 1), makeSchedule(cipher, key, 0)};
  if (!schedule.encrypt || !schedule.decrypt) return -1;
  ctx.schedule = std::move(schedule);
  return 0;
}

int AesBlocks(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks, int direction,
              const uint8_t* chain) {
  EVP_CIPHER_CTX* evp =
      (direction == nimbo::kDecrypt ? ctx.schedule.decrypt : ctx.schedule.encrypt).get();
  if (evp == nullptr) return -1;
  // Restarting with only an IV keeps the expanded key.
  if (EVP_CipherInit_ex(evp, nullptr, nullptr, nullptr, chain, -1) != 1) return -1;
  constexpr size_t kMaxRun = (INT_MAX / 16) * 16;  // EVP counts in int
  size_t remaining = blocks * 16;
  while (remaining > 0) {
    const size_t run = remaining < kMaxRun ? remaining : kMaxRun;
    int written = 0;
    if (EVP_CipherUpdate(evp, out, &written, in, static_cast<int>(run)) != 1 ||
        static_cast<size_t>(written) != run)
      return -1;
    in += run;
    out += run;
    remaining -= run;
  }
  return 0;
}

int CbcMode(CipherContext& ctx, const uint8_t* in, uint8_t* out, size_t blocks, int direction) {
  if (blocks == 0) return 0;
  const uint32_t b = ctx.blockSize;
  constexpr uint32_t kMaxInPlaceBlock = 32;
  if (in == out && b > kMaxInPlaceBlock) {
    nimbo_SetLastError(nimbo::kCodeInPlaceBlockSize);
    return -1;
  }
  // The next chaining block is the last ciphertext block. When decrypting in
  // place it is about to be overwritten, so it is saved first: the only
  // temporary storage of the mode.
  uint8_t nextChain[kMaxInPlaceBlock];
  const size_t last = (blocks - 1) * b;
  const bool savePrevious = direction == nimbo::kDecrypt && in == out;
  if (savePrevious) std::memcpy(nextChain, in + last, b);
  if (ctx.block(ctx, in, out, blocks, direction, ctx.chain) != 0) return -1;
  if (direction == nimbo::kDecrypt) std::memcpy(ctx.chain, savePrevious ? nextChain : in + last, b);
  else std::memcpy(ctx.chain, out + last, b);
  return 0;
}
