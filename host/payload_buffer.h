// The buffer the payload is read into: owned by the caller, released with
// delete[].
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A buffer of `bytes` bytes, or none when memory is short. Buffers of many
// megabytes are backed by huge pages where the system offers them, which
// spares the read thousands of page faults.
std::unique_ptr<uint8_t[]> allocatePayloadBuffer(size_t bytes);
