// The signature table: per phone key, the ready command frames that carry its
// signature, built once from the container's signature section.
#pragma once

#include <cstdint>

namespace dlx {

// S: when the container begins with the signature magic and its zero byte,
// the offset of the first XBI magic from offset 37 on; otherwise 0. False
// when the signature magic is there but no XBI magic follows.
bool FindSignatureSectionLength(const uint8_t* container, uint32_t length, uint32_t* s);

// Obtains the zero-filled storage block of `size` bytes (the read asks for
// S + S/3) and marks it present; false when it cannot be obtained.
bool AllocateSignatureStorage(uint32_t size);
void FreeSignatureStorage();
bool SignatureStoragePresent();

// Builds the table in the present storage from the section's `length` bytes.
// 0 built; 1 no signature magic and zero byte; 4 the frames would reach the
// entry table; 5 an entry or the end mark runs past the section.
int BuildSignatureTable(const uint8_t* section, uint32_t length);

}  // namespace dlx
