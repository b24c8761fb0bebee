// The link's fixed waits (settling times and the phone's reaction times).
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace dlx {

inline void WaitMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace dlx
