#include "doralex/container/hash_list.h"

#include <cstdlib>
#include <cstring>

#include "doralex/container.h"
#include "doralex/container/payload_frames.h"
#include "doralex/container/xbi_format.h"

namespace dlx {
namespace {

HashList hashList{};
uint8_t* storage = nullptr;
uint64_t storageSize = 0;
bool present = false;
bool built = false;

}  // namespace

bool AllocateHashListStorage(uint32_t size) {
  FreeHashListStorage();
  storage = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
  if (!storage) return false;
  storageSize = size;
  present = true;
  return true;
}

void FreeHashListStorage() {
  std::free(storage);
  storage = nullptr;
  storageSize = 0;
  present = false;
  built = false;
  hashList = HashList{};
}

bool HashListStoragePresent() { return present; }

int BuildHashList(const uint8_t* area, uint32_t listLength) {
  if (std::memcmp(area, kHashAreaMagic, kHashAreaMagicLength) != 0 ||
      area[kHashAreaMagicLength] != 0 || listLength == 0) {
    return 1;
  }
  // The read sizes the storage for exactly these frames.
  if (!present || PayloadFramesLength(listLength) > storageSize) return 1;
  hashList.hashByte1 = area[24];
  hashList.hashByte2 = area[25];
  hashList.hashNumber1 = ReadLe16(area + 26);
  hashList.hashNumber2 = ReadLe16(area + 28);
  WritePayloadFrames(storage, area + kHashAreaHeadLength, listLength, 5, 6);
  hashList.framesLength = static_cast<uint32_t>(PayloadFramesLength(listLength));
  hashList.frames = storage;
  built = true;
  return 0;
}

const HashList* GetHashList() { return present && built ? &hashList : nullptr; }

}  // namespace dlx
