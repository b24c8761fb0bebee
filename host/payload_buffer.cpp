#include "host/payload_buffer.h"

#include <sys/mman.h>

#include <new>

namespace {
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
}

std::unique_ptr<uint8_t[]> allocatePayloadBuffer(size_t bytes) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]);
  if (!buffer || bytes < 2 * kHugePage) return buffer;
  // Advice only: the whole huge pages inside the buffer, nothing beyond it.
  const uintptr_t start = (reinterpret_cast<uintptr_t>(buffer.get()) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer.get()) + bytes) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  return buffer;
}
