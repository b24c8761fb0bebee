// Line speed of a terminal device in baud, any value (standard or not). Kept
// apart from serial_device.cpp: the kernel's termios2 header cannot share a
// translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace platform {

// Programs input and output speed; false when the driver refuses.
bool SetLineSpeed(int fd, uint32_t speed);
// The output speed the driver holds, 0 when it cannot be read.
uint32_t GetLineSpeed(int fd);

}  // namespace platform
