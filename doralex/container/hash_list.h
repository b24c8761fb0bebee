// The hash list: the hash area's numbers and its list bytes cut into ready
// command frames, built once at read time.
#pragma once

#include <cstdint>

namespace dlx {

// Obtains the zero-filled storage block of `size` bytes and marks it present.
bool AllocateHashListStorage(uint32_t size);
void FreeHashListStorage();
bool HashListStoragePresent();

// Builds the hash list from the hash area (`listLength` = H - 30 list bytes
// after its 30-byte head) into the present storage. 0 built; 1 no magic and
// zero byte, or an empty list.
int BuildHashList(const uint8_t* area, uint32_t listLength);

}  // namespace dlx
