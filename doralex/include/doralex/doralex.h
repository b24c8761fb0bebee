// The update library's interface to its host. The host includes this header
// (and container.h for the read container's description) and nothing else of
// the library.
#pragma once

#include <cstdint>

#include "doralex/types.h"

namespace dlx {

// --- Start, versions, modes, callbacks -------------------------------------
int InitLibrary(uint16_t major, uint16_t minor);
int GetLibraryInfo(LibraryInfo* record, int part);
int SetUpdateMode(int32_t mode);
int32_t GetUpdateMode();
int UsesNewConcept(uint16_t channel);
void InstallBfbCallbacks(BfbProgressFn bfbProgress, TestProgressFn testProgress);
void InstallInfoCallback(InfoFn info, int timingFlag);
void InstallUpdateCallbacks(const UpdateCallbacks& callbacks);

// --- Update container ------------------------------------------------------
// The container stays in the caller's buffer, unchanged and alive, until
// ReleaseXbiContainer: the library works on it in place.
int ReadXbiContainer(ProductInfo* info, const uint8_t* container, uint32_t length);
int ReleaseXbiContainer();

// --- Phone -----------------------------------------------------------------
int ProbeComPort(int port, uint32_t speed);
int BfbPrepareUpdate(uint16_t channel, int port, uint16_t* voltageMv, uint32_t speed);
int StartUpdate(uint16_t channel, int port, uint32_t speed);
int BfbTestNewSoftware(uint16_t channel, int port);

// --- Errors ----------------------------------------------------------------
int32_t GetErrorNumber(int port);
// The port's additional error text, or an empty text when none is flagged.
const char* GetAdditionalErrorText(int port);
const LibraryErrorEntry& GetLatestLibraryError(uint16_t channel);
// The entries of a channel's error list in the order they were added (0 to
// 49 entries; the overflow entry is not among them), for tools that show the
// whole list. nullptr outside the list.
int GetLibraryErrorCount(uint16_t channel);
const LibraryErrorEntry* GetLibraryErrorAt(uint16_t channel, int index);
bool LibraryErrorListOverflowed(uint16_t channel);

struct ErrorTextRow {
  uint32_t code;
  uint32_t alternateCode;  // 0 or one of 0xF00..0xF07, 0xFFF
  const char* message;     // printf-style template filled from the entry's parameters
};
// The row of a library error code, or nullptr for an unknown code.
const ErrorTextRow* FindErrorText(uint32_t code);

}  // namespace dlx
