// HeapLib: where the sections of the read container lie, the heap data (the
// flash-write blocks sent to the phone as they stand) and the heap-error text.
#pragma once

#include <cstdint>

#include "doralex/container.h"

namespace dlx {

// 0 prepared; 3 the XBI header cannot be walked within `length` bytes (or
// S + G + H lies beyond them). The state is left not prepared on failure.
int InitHeapForRead(const uint8_t* container, uint32_t length);

// Verifies that the heap blocks fill the heap length exactly. `afterSignature`
// is the container after its signature section. 0 correct (transfer_length
// set); 1 corrupt (logged, error 0x906 pushed); 2 not prepared; 3 length 0.
int CheckHeapData(uint32_t* transferLength, const uint8_t* afterSignature);

bool HeapPreparedForRead();
// The length the container was prepared with, and the bytes from the XBI
// magic to the end of the container (the parser's limit).
uint32_t HeapTotalLength();
uint32_t HeapBytesFromHeader();

// The library's heap-error text (internal; nothing shows it).
void SetHeapErrorText(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* GetHeapErrorText();

}  // namespace dlx
