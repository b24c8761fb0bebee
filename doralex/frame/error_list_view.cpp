// Read access to a whole error list for the host's tools.
#include "doralex/doralex.h"
#include "doralex/frame/errors.h"

namespace dlx {

int GetLibraryErrorCount(uint16_t channel) { return GetLibraryErrorList(channel).count; }

const LibraryErrorEntry* GetLibraryErrorAt(uint16_t channel, int index) {
  const LibraryErrorList& list = GetLibraryErrorList(channel);
  if (index < 0 || index >= list.count) return nullptr;
  return &list.slots[index];
}

bool LibraryErrorListOverflowed(uint16_t channel) { return GetLibraryErrorList(channel).overflowed; }

}  // namespace dlx
