// The XBI header parser and the library-wide XbiHeaderInfo it fills.
#pragma once

#include <cstdint>

#include "doralex/container.h"

namespace dlx {

XbiHeaderInfo& MutableXbiHeaderInfo();

// Parses the header at `xbi` (the XBI magic inside the container HeapLib was
// prepared with) into `info`, with the two-pass descrambling rule.
// 0 parsed (*headerLength = G); 1 magic, 0x1A or a record wrong; 2 HeapLib
// not prepared; 3 prepared with length 0; 7 a list or buffer cannot be built.
// On a failure the lists and buffers built so far are freed again.
int ParseXbiHeader(uint32_t* headerLength, XbiHeaderInfo* info, const uint8_t* xbi);

}  // namespace dlx
