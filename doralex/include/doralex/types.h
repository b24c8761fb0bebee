// Records and callback types shared between the update library and its host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dlx {

constexpr int kChannelCount = 4;   // update channels 0..3
constexpr int kPortCount = 12;     // COM1..COM12 as port indices 0..11

constexpr uint16_t kInterfaceMajor = 1;
constexpr uint16_t kInterfaceMinor = 29;

// Fixed-width text block describing one software (the container's or the phone's).
struct ProductInfo {
  char productType[16];
  char projectName[16];
  char version[10];
  char compileDate[9];
  char compileTime[9];
  char fileType[20];
  char splitMode[16];
  char splitName[20];
};
static_assert(sizeof(ProductInfo) == 116);

// Version record filled by GetLibraryInfo; the caller sets `size` to 140 first.
struct LibraryInfo {
  uint32_t size;
  char description[100];
  char author[10];
  char buildDate[18];
  uint32_t major;
  uint32_t minor;
};
static_assert(sizeof(LibraryInfo) == 140);
static_assert(offsetof(LibraryInfo, description) == 4);
static_assert(offsetof(LibraryInfo, author) == 104);
static_assert(offsetof(LibraryInfo, buildDate) == 114);
static_assert(offsetof(LibraryInfo, major) == 132);
static_assert(offsetof(LibraryInfo, minor) == 136);

constexpr int kErrorDescriptorSize = 12;
constexpr int kErrorIntSlots = 5;
constexpr int kErrorTextSlots = 5;
constexpr int kErrorTextSize = 2000;  // 1999 characters and the terminating zero

// One coded library error with its typed parameters.
struct LibraryErrorEntry {
  uint32_t code;
  char descriptor[kErrorDescriptorSize];
  int32_t intParams[kErrorIntSlots];
  char textParams[kErrorTextSlots][kErrorTextSize];
};

// Update callbacks, in installation order (slots 1 to 10). Every callback gets
// the update channel first.
using ConnectProgressFn = void (*)(uint16_t channel, int stepsTotal, int stepsDone);
using LoaderStartFn = void (*)(uint16_t channel, uint32_t loaderLength);
using LoaderProgressFn = void (*)(uint16_t channel, uint32_t bytesSent);
using FlashCodeFn = void (*)(uint16_t channel, uint16_t flashCode, const char* description);
using EraseProgressFn = void (*)(uint16_t channel, uint16_t total, uint16_t done);
using TransferStartFn = void (*)(uint16_t channel, uint32_t totalBytes);
using TransferProgressFn = void (*)(uint16_t channel, uint32_t bytesSent);
using SuccessFn = void (*)(uint16_t channel);
using ErrorFn = void (*)(uint16_t channel);
// A non-zero result lets the update go on.
using ConsistencyProblemFn = int (*)(uint16_t channel, const ProductInfo* phone,
                                     const ProductInfo* file, int problemType);

struct UpdateCallbacks {
  ConnectProgressFn connectProgress;
  LoaderStartFn loaderStart;
  LoaderProgressFn loaderProgress;
  FlashCodeFn flashCode;
  EraseProgressFn eraseProgress;
  TransferStartFn transferStart;
  TransferProgressFn transferProgress;
  SuccessFn success;
  ErrorFn error;
  ConsistencyProblemFn consistencyProblem;
};

// BFB session callbacks: (channel, 7, step 1..7) and (channel, 5, step 1..5).
using BfbProgressFn = void (*)(uint16_t channel, int stepsTotal, int step);
using TestProgressFn = void (*)(uint16_t channel, int stepsTotal, int step);

// Information callback: a zero result stops the operation that called it.
using InfoFn = int (*)(uint16_t channel, const ProductInfo* phone, const ProductInfo* file);

// How an update reaches the phone (per channel).
enum PortMode : int32_t {
  kPortModeNotPrepared = 0,
  kPortModeBfbRunning = 1,
  kPortModeRebooted = 2,      // phone restarts into its loader (new concept)
  kPortModeManualStart = 3,   // phone silent in normal mode: the user switches it on
  kPortModeSwitchOnFailed = 4,
};

// Opens the port of a manual start; sets *outcome (3 for a manual start).
using ManualPortOpenerFn = int (*)(int* outcome, uint16_t channel, int port, uint32_t speed,
                                   ConnectProgressFn progress);

}  // namespace dlx
