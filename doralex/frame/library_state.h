// Library-wide state behind the host interface: the started flag, the update
// mode, the per-channel port modes and fallback flags, and the installed
// callbacks. The host writes it from one thread at a time before the threads
// that read it start (or after they reported back), so plain values would do;
// the per-channel values are atomics because the BFB session and the update
// thread hand them to each other.
#pragma once

#include <cstdint>

#include "doralex/types.h"

namespace dlx {

bool LibraryStarted();

int32_t GetPortMode(uint16_t channel);          // 0 for channels outside 0..3
void SetPortMode(uint16_t channel, int32_t mode);
bool GetFallbackFlag(uint16_t channel);
void SetFallbackFlag(uint16_t channel, bool on);

const UpdateCallbacks* GetUpdateCallbacks();    // nullptr until installed
BfbProgressFn GetBfbProgressCallback();
TestProgressFn GetTestProgressCallback();
InfoFn GetInfoCallback();
int GetInfoCallbackTiming();

// The manual port opener: InitLibrary (and ReadXbiContainer in update mode 1)
// install the library's own ManualPortOpen, which the update sequence
// registers here when it is linked in.
void RegisterBuiltinManualPortOpener(ManualPortOpenerFn opener);
void InstallBuiltinManualPortOpener();
ManualPortOpenerFn GetManualPortOpener();

// Refusal of an operation that needs the started library: port error number
// 600 on all twelve ports and error 0x617 on all four lists.
void RecordNotStarted();

constexpr uint32_t kLibraryVersionMajor = 2;
constexpr uint32_t kLibraryVersionMinor = 30;

}  // namespace dlx
