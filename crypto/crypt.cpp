// The cipher frame: length rules, the partial block, the held-back block of a
// padded decryption, and PKCS #7 padding on the final piece.
#include <algorithm>
#include <cstring>

#include "crypto/cipher.h"
#include "crypto/codes.h"
#include "crypto/last_error.h"

namespace {

int fail(uint32_t code) {
  nimbo_SetLastError(code);
  return -1;
}

void clearPartial(CipherContext& ctx) {
  std::memset(ctx.partial, 0, sizeof ctx.partial);
  ctx.buffered = 0;
}

// Size of the output of one piece and how many whole blocks go straight
// through the mode routine; false when the length rules are broken.
struct Plan {
  uint64_t size = 0;
  uint64_t blocks = 0;
};

bool planPiece(uint64_t total, uint32_t b, bool encrypting, bool padding, bool final, Plan& plan) {
  if (!final) {
    plan.size = total / b * b;
    // A padded decryption holds its last whole block back: it may carry the padding.
    if (!encrypting && padding && total > 0 && total % b == 0) plan.size -= b;
    plan.blocks = plan.size / b;
    return true;
  }
  if (encrypting && padding) {
    plan.size = (total / b + 1) * b;
    plan.blocks = total / b;
    return true;
  }
  if (total % b != 0) return false;
  if (!encrypting && padding) {
    if (total == 0) return false;
    plan.size = total;
    plan.blocks = total / b - 1;
    return true;
  }
  plan.size = total;
  plan.blocks = total / b;
  return true;
}

}  // namespace

int nimbo_CryptStart(const uint8_t* key, uint32_t keyBits, const uint8_t* iv, CipherContext* ctx,
                     uint32_t blockSize) {
  if (ctx == nullptr || ctx->keySetup == nullptr) return -1;
  if (ctx->keySetup(*ctx, key, keyBits, blockSize) != 0) return -1;
  ctx->blockSize = blockSize;
  if (ctx->flags & nimbo::kFlagUsesIv) {
    if (iv == nullptr || ctx->ivLength > nimbo::kMaxBlockSize) return -1;
    std::memcpy(ctx->chain, iv, ctx->ivLength);
  }
  clearPartial(*ctx);
  return 0;
}

int nimbo_Crypt(const uint8_t* source, uint64_t sourceBits, uint8_t* dest, size_t* destLength,
                int direction, CipherContext* ctx, int final) {
  if (ctx == nullptr || destLength == nullptr || ctx->mode == nullptr) return -1;
  if (direction != nimbo::kEncrypt && direction != nimbo::kDecrypt) return -1;
  if (sourceBits > 0 && source == nullptr) return -1;
  const uint32_t b = ctx->blockSize;
  if (b == 0 || b > nimbo::kMaxBlockSize || ctx->buffered > b) return -1;

  const bool encrypting = direction == nimbo::kEncrypt;
  const bool padding = (ctx->flags & nimbo::kFlagPadding) != 0;
  const uint64_t wholeBytes = sourceBits / 8;
  const unsigned strayBits = static_cast<unsigned>(sourceBits % 8);
  // A piece that ends inside a byte can only be the last one encrypted; its
  // stray bits are taken as one more byte, the unused low bits cleared.
  if (strayBits != 0 && !(final && encrypting)) return fail(nimbo::kCodeLengthRule);
  const uint64_t total = ctx->buffered + wholeBytes + (strayBits != 0 ? 1 : 0);

  Plan plan;
  if (!planPiece(total, b, encrypting, padding, final != 0, plan)) return fail(nimbo::kCodeLengthRule);
  if (dest == nullptr) {
    *destLength = plan.size;
    return 0;
  }
  if (*destLength < plan.size) {
    *destLength = plan.size;
    return fail(nimbo::kCodeOutputTooSmall);
  }
  // In place the output would run ahead of the input by the buffered bytes.
  if (dest == source && ctx->buffered != 0 && wholeBytes > 0) return fail(nimbo::kCodeInPlaceBlockSize);

  size_t written = 0;
  uint64_t blocksLeft = plan.blocks;
  const uint8_t* in = source;
  uint64_t inLeft = wholeBytes;
  auto emitPartialWhenFull = [&]() -> bool {
    if (ctx->buffered != b || blocksLeft == 0) return true;
    if (ctx->mode(*ctx, ctx->partial, dest + written, 1, direction) != 0) return false;
    written += b;
    --blocksLeft;
    ctx->buffered = 0;
    return true;
  };

  if (ctx->buffered > 0) {
    const uint64_t take = std::min<uint64_t>(b - ctx->buffered, inLeft);
    if (take > 0) std::memcpy(ctx->partial + ctx->buffered, in, take);
    ctx->buffered += static_cast<uint32_t>(take);
    in += take;
    inLeft -= take;
    if (!emitPartialWhenFull()) return -1;
  }
  if (ctx->buffered == 0) {
    const uint64_t run = std::min<uint64_t>(blocksLeft, inLeft / b);
    if (ctx->mode(*ctx, in, dest + written, run, direction) != 0) return -1;
    written += run * b;
    in += run * b;
    inLeft -= run * b;
    blocksLeft -= run;
  }
  if (ctx->buffered + inLeft > b) return -1;
  if (inLeft > 0) std::memcpy(ctx->partial + ctx->buffered, in, inLeft);
  ctx->buffered += static_cast<uint32_t>(inLeft);
  if (strayBits != 0) {
    ctx->partial[ctx->buffered++] = source[wholeBytes] & static_cast<uint8_t>(0xFF << (8 - strayBits));
    if (!emitPartialWhenFull()) return -1;
  }
  if (blocksLeft != 0) return -1;

  if (final && padding && !encrypting) {
    // The held-back block: decrypt it where it is and check its padding. A last
    // byte of 0 cannot come from padding and is refused like any bad value.
    if (ctx->buffered != b || ctx->mode(*ctx, ctx->partial, ctx->partial, 1, direction) != 0) {
      clearPartial(*ctx);
      return -1;
    }
    const uint32_t pad = ctx->partial[b - 1];
    bool good = pad >= 1 && pad <= b;
    for (uint32_t i = b - std::min(pad, b); good && i < b - 1; ++i) good = ctx->partial[i] == pad;
    if (!good) {
      clearPartial(*ctx);
      *destLength = written;
      return fail(nimbo::kCodeBadPadding);
    }
    if (pad < b) std::memcpy(dest + written, ctx->partial, b - pad);
    written += b - pad;
  } else if (final && padding) {
    const uint32_t pad = b - ctx->buffered;
    std::memset(ctx->partial + ctx->buffered, static_cast<int>(pad), pad);
    if (ctx->mode(*ctx, ctx->partial, dest + written, 1, direction) != 0) return -1;
    written += b;
  }
  if (final) clearPartial(*ctx);
  *destLength = written;
  return 0;
}
