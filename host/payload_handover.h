// Hands the plain container from the payload loader to the update library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "doralex/types.h"

// Copies the container into a block of exactly `length` bytes, releases the
// loader's buffer and lets the library read the block (ReadXbiContainer). The
// library works on the block in place: *containerBlock must stay alive and
// unchanged until the container is released. True when the library accepted it.
bool handOverPayload(std::unique_ptr<uint8_t[]> loaded, size_t length, dlx::ProductInfo* info,
                     std::unique_ptr<uint8_t[]>* containerBlock);
