// Codes the crypto module leaves as the calling thread's last-error value when
// an operation fails on a bad argument.
#pragma once

#include <cstdint>

namespace nimbo {

constexpr uint32_t kCodeLengthRule = 0x60380;       // not a block multiple, empty final piece, stray bits
constexpr uint32_t kCodeOutputTooSmall = 0x60301;   // the needed size is stored in the length
constexpr uint32_t kCodeBadPadding = 0x60300;
constexpr uint32_t kCodeInPlaceBlockSize = 0x60501; // in-place chaining not possible
constexpr uint32_t kCodeKeySetup = 0x61C80;         // block size or key length the cipher lacks
constexpr uint32_t kCodeNumberTooLong = 0x21E01;    // more than 512 significant bytes
constexpr uint32_t kCodeNumberDoesNotFit = 0x21F01;
constexpr uint32_t kCodeZeroModulus = 0x21805;
constexpr uint32_t kCodeBitLengthOfZero = 0x21003;

}  // namespace nimbo
