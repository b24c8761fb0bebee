// The crypto module's last-error value: one per thread, like the system's own
// last-error value, so concurrent callers never see each other's codes.
#pragma once

#include <cstdint>

uint32_t nimbo_GetLastError();
void nimbo_SetLastError(uint32_t code);
