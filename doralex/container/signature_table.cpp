#include "doralex/container/signature_table.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstring>

#include "doralex/container.h"
#include "doralex/container/payload_frames.h"
#include "doralex/container/xbi_format.h"

namespace dlx {
namespace {

// The storage block keeps the entry table at its head and the frames at its
// tail. Whether the frames fit is decided with the table's record widths
// (32-bit count, limit and reserved word; 16 bytes per entry), so that the
// same containers fit whatever this machine's pointer width is. The entries
// themselves are kept in a side array sized for the most the block can hold.
constexpr uint64_t kTableHead = 12;
constexpr uint64_t kTableEntry = 16;

struct SignatureTable {
  uint8_t* storage = nullptr;
  uint32_t size = 0;
  uint64_t limit = 0;  // offset of the lowest byte used by frames so far
  SignatureEntry* entries = nullptr;
  uint32_t maxEntries = 0;
  int count = 0;
  bool present = false;
};

SignatureTable table;

}  // namespace

bool FindSignatureSectionLength(const uint8_t* container, uint32_t length, uint32_t* s) {
  *s = 0;
  if (length < kSignatureEntriesOffset ||
      std::memcmp(container, kSignatureMagic, kSignatureMagicLength) != 0 ||
      container[kSignatureMagicLength] != 0) {
    return true;
  }
  // A searcher that skips ahead keeps a hostile section of near-matches linear.
  static const auto* magic = reinterpret_cast<const uint8_t*>(kXbiMagic);
  static const std::boyer_moore_horspool_searcher searcher(magic, magic + kXbiMagicLength);
  const uint8_t* end = container + length;
  const uint8_t* found = std::search(container + kSignatureEntriesOffset, end, searcher);
  if (found == end) return false;
  *s = static_cast<uint32_t>(found - container);
  return true;
}

bool AllocateSignatureStorage(uint32_t size) {
  FreeSignatureStorage();
  uint32_t maxEntries = static_cast<uint32_t>(size / kTableEntry + 1);
  auto* storage = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
  auto* entries = static_cast<SignatureEntry*>(std::calloc(maxEntries, sizeof(SignatureEntry)));
  if (!storage || !entries) {
    std::free(storage);
    std::free(entries);
    return false;
  }
  table.storage = storage;
  table.size = size;
  table.limit = size ? size - 1 : 0;
  table.entries = entries;
  table.maxEntries = maxEntries;
  table.count = 0;
  table.present = true;
  return true;
}

void FreeSignatureStorage() {
  std::free(table.storage);
  std::free(table.entries);
  table = SignatureTable{};
}

bool SignatureStoragePresent() { return table.present; }

int BuildSignatureTable(const uint8_t* section, uint32_t length) {
  if (!table.present) return 4;
  if (length < kSignatureEntriesOffset ||
      std::memcmp(section, kSignatureMagic, kSignatureMagicLength) != 0 ||
      section[kSignatureMagicLength] != 0) {
    return 1;
  }
  uint32_t at = kSignatureEntriesOffset;
  for (;;) {
    if (length - at < 4) return 5;
    uint32_t keyId = ReadBe32(section + at);
    if (keyId == 0) return 0;
    if (length - at < 6) return 5;
    uint16_t n = ReadLe16(section + at + 4);
    at += 6;
    if (length - at < n) return 5;

    uint64_t framesLength = PayloadFramesLength(n);
    uint64_t tableEnd = kTableHead + kTableEntry * (uint64_t(table.count) + 1);
    if (framesLength > table.limit || table.limit - framesLength < tableEnd ||
        uint32_t(table.count) >= table.maxEntries) {
      return 4;
    }
    table.limit -= framesLength;

    SignatureEntry& entry = table.entries[table.count];
    entry.keyId = keyId;
    entry.signatureLength = n;
    entry.framesLength = static_cast<uint32_t>(framesLength);
    entry.frames = table.storage + table.limit;
    WritePayloadFrames(table.storage + table.limit, section + at, n, 3, 4);
    ++table.count;
    at += n;
  }
}

const SignatureEntry* GetSignatureEntry(uint32_t keyId) {
  if (!table.present) return nullptr;
  for (int i = 0; i < table.count; ++i) {
    if (table.entries[i].keyId == keyId) return &table.entries[i];
  }
  return nullptr;
}

int GetSignatureEntryCount() { return table.present ? table.count : 0; }

const SignatureEntry* GetSignatureEntryAt(int index) {
  if (!table.present || index < 0 || index >= table.count) return nullptr;
  return &table.entries[index];
}

}  // namespace dlx
