// The lists and buffers the XBI header describes, owned by XbiHeaderInfo:
// erase areas, split elements, erase-info elements, locater entries, the map
// information and the auxiliary data. All lists are appended at the tail.
#pragma once

#include <cstdint>

#include "doralex/container.h"

namespace dlx {

// 0 appended (a copy of `element`, its link cleared); 1 no memory.
int SplitElementInsert(XbiHeaderInfo* info, const SplitElement& element);
// 0 appended; 1 no memory.
int AppendEraseArea(XbiHeaderInfo* info, uint32_t start, uint32_t end);
// A new zeroed erase-info element at the tail, or nullptr without memory.
EraseInfoElement* AppendEraseInfoElement(XbiHeaderInfo* info);

// Locater entries go to a pending list; AttachLocaterList lets
// `locater_list` refer to it (entries appended later belong to it too).
bool AppendLocaterEntry(const uint32_t values[4]);
void AttachLocaterList(XbiHeaderInfo* info);

// Record 34: a new auxiliary buffer for `capacity` bytes, of which at most
// `bytesAvailable` (what the header can still supply) are obtained at once.
// On failure the capacity becomes 0.
void CreateAuxBuffer(XbiHeaderInfo* info, uint32_t capacity, uint32_t bytesAvailable);
// Record 32: appends when the chunk fits the capacity; drops it otherwise.
void AppendAuxChunk(XbiHeaderInfo* info, const uint8_t* chunk, uint32_t length);

// Record 80: a new map-info buffer of `size` bytes; false without memory.
bool CreateMapInfo(XbiHeaderInfo* info, uint16_t size);
// Record 81: false when the chunk would exceed the announced size.
bool AppendMapInfo(XbiHeaderInfo* info, const uint8_t* chunk, uint32_t length);

// Frees every list and buffer (the pending locater entries included) and
// clears their fields. Safe to call on a record that holds none.
void ReleaseHeaderLists(XbiHeaderInfo* info);

}  // namespace dlx
