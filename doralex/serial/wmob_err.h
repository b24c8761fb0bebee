// The phone's error reports (MI 0x18) as library errors.
#pragma once

#include <cstdint>

namespace dlx {

// Always 0, so that the wait that met the report ends.
int MapPhoneError(int port, uint8_t mi, uint8_t length, const uint8_t* data);

}  // namespace dlx
