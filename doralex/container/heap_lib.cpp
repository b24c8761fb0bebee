#include "doralex/container/heap_lib.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "doralex/container/signature_table.h"
#include "doralex/container/xbi_format.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"

namespace dlx {
namespace {

constexpr uint32_t kPrepared = 2;
constexpr uint32_t kBlockOverhead = 5;  // address, n and checksum

struct HeapState {
  uint32_t totalLength;
  uint32_t heapLength;
  uint32_t headerLength;    // G
  uint32_t hashAreaLength;  // H
  uint32_t signatureLength; // S
  uint32_t heapOffset;      // G + H, from the XBI header
  uint32_t state;
  const uint8_t* heap;      // still unsent heap data
  const uint8_t* heapEnd;
};

HeapState heapState{};
uint32_t transferLength = 0;
char heapErrorText[200] = "";

// Walks the header records without interpreting them. Returns G, or 0 when
// the header is broken; *hashAreaLength takes the value of record 86.
uint32_t walkHeader(const uint8_t* header, uint32_t available, uint32_t* hashAreaLength) {
  uint32_t length = kXbiPreambleLength;
  for (;;) {
    HeaderRecord record;
    if (!ReadHeaderRecord(header + length, available - length, &record)) return 0;
    length += record.size;
    if (record.type == 86) {
      // Read like the parser does: bytes beyond a short record count as 0.
      uint8_t d[4] = {};
      std::memcpy(d, record.data, record.dataLength < 4 ? record.dataLength : 4);
      *hashAreaLength = DecodeHashAreaLength(d);
    }
    if (record.type == kEndRecordType) return length;
  }
}

// A block of the heap data starting at `p` with `left` bytes left in the
// heap: its size, or 0 when it does not end within them or its checksum is
// wrong.
uint32_t checkedBlockSize(const uint8_t* p, uint32_t left) {
  if (left < kBlockOverhead) return 0;
  uint32_t size = p[3] + kBlockOverhead;
  if (size > left) return 0;
  uint8_t sum = 0;
  for (uint32_t i = 0; i < size - 1; ++i) sum ^= p[i];
  return sum == p[size - 1] ? size : 0;
}

}  // namespace

int InitHeapForRead(const uint8_t* container, uint32_t length) {
  heapState = HeapState{};
  heapState.totalLength = length;
  transferLength = 0;  // set again by the heap check of this container
  if (!container) return 3;

  uint32_t s = 0;
  if (!FindSignatureSectionLength(container, length, &s)) return 3;
  if (!HasXbiPreamble(container, length, s)) return 3;

  uint32_t h = 0;
  uint32_t g = walkHeader(container + s, length - s, &h);
  if (g == 0) return 3;
  // S + G is within the length after the walk; the hash area must be too.
  if (h > length - s - g) return 3;

  heapState.signatureLength = s;
  heapState.headerLength = g;
  heapState.hashAreaLength = h;
  heapState.heapLength = length - s - g - h;
  heapState.heapOffset = g + h;
  heapState.heap = container + s + g + h;
  heapState.heapEnd = container + length;
  heapState.state = kPrepared;
  return 0;
}

int CheckHeapData(uint32_t* transfer, const uint8_t* afterSignature) {
  if (heapState.state != kPrepared) return 2;
  if (heapState.totalLength == 0) return 3;

  const uint8_t* heap = afterSignature + heapState.heapOffset;
  const uint32_t heapLength = heapState.heapLength;
  uint32_t offset = 0;
  // An empty heap holds no block that could end within it: corrupt at 0.
  for (;;) {
    uint32_t size = checkedBlockSize(heap + offset, heapLength - offset);
    if (size == 0) break;
    offset += size;
    if (offset == heapLength) {
      transferLength = offset;
      if (transfer) *transfer = offset;
      return 0;
    }
  }
  LogMessage(0, 2, kLogContainer, "heap data corrupt at location %d", static_cast<int>(offset));
  SetHeapErrorText("\nheap data corrupt at location %d", static_cast<int>(offset));
  AddLibraryErrorToAll(0x906, "d", {offset});
  return 1;
}

const uint8_t* GetHeapData() { return heapState.state == kPrepared ? heapState.heap : nullptr; }

uint32_t GetTransferLength() { return transferLength; }

int SkipCommandBlocks() {
  if (heapState.state != kPrepared) return 0;
  for (;;) {
    const uint8_t* p = heapState.heap;
    uint32_t left = static_cast<uint32_t>(heapState.heapEnd - p);
    if (left < kBlockOverhead || p[0] != 0xFF || p[1] != 0xFF || p[2] != 0xFF) break;
    uint32_t size = p[3] + kBlockOverhead;
    if (size > left || size > transferLength) break;
    transferLength -= size;
    heapState.heap += size;
  }
  return 1;
}

HeapLayout GetHeapLayout() {
  return HeapLayout{heapState.totalLength,   heapState.signatureLength, heapState.headerLength,
                    heapState.hashAreaLength, heapState.heapLength,     heapState.state == kPrepared};
}

bool HeapPreparedForRead() { return heapState.state == kPrepared; }
uint32_t HeapTotalLength() { return heapState.totalLength; }
uint32_t HeapBytesFromHeader() { return heapState.totalLength - heapState.signatureLength; }

void SetHeapErrorText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(heapErrorText, sizeof heapErrorText, format, args);
  va_end(args);
}

const char* GetHeapErrorText() { return heapErrorText; }

}  // namespace dlx
