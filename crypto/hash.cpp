// The hash frame: the block buffer between pieces and the final piece.
#include <algorithm>
#include <cstring>

#include "crypto/codes.h"
#include "crypto/hash.h"
#include "crypto/last_error.h"

int nimbo_HashStart(HashContext* ctx, int argument) {
  if (ctx == nullptr || ctx->init == nullptr) return -1;
  if (ctx->blockLength == 0 || ctx->blockLength > nimbo::kMaxHashBlock) return -1;
  ctx->buffered = 0;
  ctx->init(*ctx, argument);
  return 0;
}

int nimbo_Hash(const uint8_t* data, uint64_t dataBits, uint8_t* digest, HashContext* ctx, int final) {
  if (ctx == nullptr || ctx->block == nullptr || ctx->finish == nullptr) return -1;
  const uint32_t blockLength = ctx->blockLength;
  if (blockLength == 0 || blockLength > nimbo::kMaxHashBlock || ctx->buffered >= blockLength)
    return -1;
  if (dataBits > 0 && data == nullptr) return -1;
  if (final && digest == nullptr) return -1;
  const unsigned strayBits = static_cast<unsigned>(dataBits % 8);
  if (strayBits != 0 && !final) {
    nimbo_SetLastError(nimbo::kCodeLengthRule);
    return -1;
  }
  const uint8_t* in = data;
  uint64_t left = dataBits / 8;
  if (ctx->buffered > 0) {
    const uint64_t take = std::min<uint64_t>(blockLength - ctx->buffered, left);
    if (take > 0) std::memcpy(ctx->blockBuffer + ctx->buffered, in, take);
    ctx->buffered += static_cast<uint32_t>(take);
    in += take;
    left -= take;
    if (ctx->buffered == blockLength) {
      ctx->block(*ctx, ctx->blockBuffer, 1);
      ctx->buffered = 0;
    }
  }
  if (ctx->buffered == 0) {
    const uint64_t blocks = left / blockLength;
    ctx->block(*ctx, in, blocks);
    in += blocks * blockLength;
    left -= blocks * blockLength;
  }
  if (left > 0) std::memcpy(ctx->blockBuffer + ctx->buffered, in, left);
  ctx->buffered += static_cast<uint32_t>(left);
  if (!final) return 0;
  if (strayBits != 0) ctx->blockBuffer[ctx->buffered++] = data[dataBits / 8];
  ctx->finish(*ctx, ctx->buffered, strayBits, digest);
  ctx->buffered = 0;
  return 0;
}
