#include "crypto/last_error.h"

namespace {
thread_local uint32_t lastError = 0;
}

uint32_t nimbo_GetLastError() { return lastError; }

void nimbo_SetLastError(uint32_t code) { lastError = code; }
