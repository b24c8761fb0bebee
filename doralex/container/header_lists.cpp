#include "doralex/container/header_lists.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace dlx {
namespace {

// Remembered tails, so that appending stays constant-time however many
// records a header holds. A tail counts only while its list head is the
// one it was found for.
template <typename Element>
struct Tail {
  Element* head = nullptr;
  Element* tail = nullptr;

  void append(Element*& listHead, Element* element) {
    if (!listHead) {
      listHead = element;
    } else {
      if (head != listHead || !tail) {
        tail = listHead;
        while (tail->next) tail = tail->next;
      }
      tail->next = element;
    }
    head = listHead;
    tail = element;
  }
};

template <typename Element>
void freeList(Element*& head) {
  while (head) {
    Element* next = head->next;
    delete head;
    head = next;
  }
}

Tail<SplitElement> splitTail;
Tail<EraseArea> eraseAreaTail;
Tail<EraseInfoElement> eraseInfoTail;
Tail<LocaterEntry> locaterTail;
LocaterEntry* pendingLocaters = nullptr;
uint32_t auxAllocated = 0;

}  // namespace

int SplitElementInsert(XbiHeaderInfo* info, const SplitElement& element) {
  auto* copy = new (std::nothrow) SplitElement(element);
  if (!copy) return 1;
  copy->next = nullptr;
  splitTail.append(info->split_list, copy);
  return 0;
}

int AppendEraseArea(XbiHeaderInfo* info, uint32_t start, uint32_t end) {
  auto* area = new (std::nothrow) EraseArea{start, end, nullptr};
  if (!area) return 1;
  eraseAreaTail.append(info->erase_area_list, area);
  return 0;
}

EraseInfoElement* AppendEraseInfoElement(XbiHeaderInfo* info) {
  auto* element = new (std::nothrow) EraseInfoElement{};
  if (element) eraseInfoTail.append(info->erase_info_list, element);
  return element;
}

bool AppendLocaterEntry(const uint32_t values[4]) {
  auto* entry = new (std::nothrow) LocaterEntry{{values[0], values[1], values[2], values[3]}, nullptr};
  if (!entry) return false;
  locaterTail.append(pendingLocaters, entry);
  return true;
}

void AttachLocaterList(XbiHeaderInfo* info) { info->locater_list = pendingLocaters; }

void CreateAuxBuffer(XbiHeaderInfo* info, uint32_t capacity, uint32_t bytesAvailable) {
  std::free(info->aux_data);
  uint32_t size = capacity < bytesAvailable ? capacity : bytesAvailable;
  info->aux_data = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
  auxAllocated = info->aux_data ? size : 0;
  info->aux_data_capacity = info->aux_data ? capacity : 0;
}

void AppendAuxChunk(XbiHeaderInfo* info, const uint8_t* chunk, uint32_t length) {
  uint64_t filled = uint64_t{info->aux_data_filled} + length;
  if (filled > info->aux_data_capacity || filled > auxAllocated || length == 0) return;
  std::memcpy(info->aux_data + info->aux_data_filled, chunk, length);
  info->aux_data_filled = static_cast<uint32_t>(filled);
}

bool CreateMapInfo(XbiHeaderInfo* info, uint16_t size) {
  std::free(info->map_info);
  info->map_info = nullptr;
  info->map_info_size = size;
  info->map_info_received = 0;
  if (size == 0) return true;
  info->map_info = static_cast<uint8_t*>(std::calloc(size, 1));
  return info->map_info != nullptr;
}

bool AppendMapInfo(XbiHeaderInfo* info, const uint8_t* chunk, uint32_t length) {
  if (uint64_t{info->map_info_received} + length > info->map_info_size) return false;
  if (length == 0) return true;
  if (!info->map_info) return false;
  std::memcpy(info->map_info + info->map_info_received, chunk, length);
  info->map_info_received += length;
  return true;
}

void ReleaseHeaderLists(XbiHeaderInfo* info) {
  std::free(info->aux_data);
  info->aux_data = nullptr;
  info->aux_data_capacity = 0;
  info->aux_data_filled = 0;
  auxAllocated = 0;
  std::free(info->map_info);
  info->map_info = nullptr;
  info->map_info_received = 0;
  freeList(info->erase_area_list);
  freeList(info->erase_info_list);
  freeList(info->split_list);
  // locater_list is the pending list (or empty): free that chain once.
  info->locater_list = nullptr;
  freeList(pendingLocaters);
  splitTail = {};
  eraseAreaTail = {};
  eraseInfoTail = {};
  locaterTail = {};
}

}  // namespace dlx
