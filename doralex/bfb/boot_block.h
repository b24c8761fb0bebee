// The small program that WMobileOn hands to the phone's boot ROM.
#pragma once

#include <array>
#include <cstdint>

namespace dlx {

constexpr std::size_t kBootBlockSize = 104;  // sent after its length byte 0x68

// Offsets of the parameter bytes patched before sending.
constexpr std::size_t kBootParamOffsets[4] = {0x32, 0x46, 0x4E, 0x56};

// The process-wide boot block; its parameter bytes keep the last patched values.
std::array<uint8_t, kBootBlockSize>& BootBlock();

}  // namespace dlx
