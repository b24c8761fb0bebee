// Descrambling of header record data. The key is the XBI magic text with its
// terminating zero, walked backwards from the zero byte.
#pragma once

#include <cstdint>

namespace dlx {

// byte[i] ^= K[30 - (i mod 31)] for every byte.
void DescrambleFull(uint8_t* data, uint32_t length);
// The full rule over the first half (rounded up) only; older headers use it.
void DescrambleHalf(uint8_t* data, uint32_t length);

}  // namespace dlx
