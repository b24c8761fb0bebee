#include "host/payload_handover.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "doralex/doralex.h"

bool handOverPayload(std::unique_ptr<uint8_t[]> loaded, size_t length, dlx::ProductInfo* info,
                     std::unique_ptr<uint8_t[]>* containerBlock) {
  if (containerBlock == nullptr) return false;
  // The library takes a 32-bit length; a longer container cannot be handed over.
  std::unique_ptr<uint8_t[]> copy(length <= UINT32_MAX ? new (std::nothrow) uint8_t[length] : nullptr);
  if (!copy) {
    std::printf("\nCould not allocate %lu Bytes for XBI-File", static_cast<unsigned long>(length));
    std::fflush(stdout);
    return false;
  }
  if (length > 0) std::memcpy(copy.get(), loaded.get(), length);
  loaded.reset();
  *containerBlock = std::move(copy);
  return dlx::ReadXbiContainer(info, containerBlock->get(), static_cast<uint32_t>(length)) == 1;
}
