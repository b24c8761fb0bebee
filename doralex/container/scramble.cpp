#include "doralex/container/scramble.h"

#include "doralex/container/xbi_format.h"

namespace dlx {

void DescrambleFull(uint8_t* data, uint32_t length) {
  constexpr uint32_t keyLength = kXbiMagicLength + 1;  // the zero byte is part of the key
  for (uint32_t i = 0; i < length; ++i) {
    data[i] ^= static_cast<uint8_t>(kXbiMagic[kXbiMagicLength - i % keyLength]);
  }
}

void DescrambleHalf(uint8_t* data, uint32_t length) { DescrambleFull(data, (length + 1) / 2); }

}  // namespace dlx
