// Start of the library, its version records, the update mode and the host's
// callbacks.
#include <atomic>
#include <cstring>

#include "doralex/doralex.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "doralex/frame/log.h"

namespace dlx {
namespace {

struct VersionRecord {
  const char* description;
  const char* author;
  const char* buildDate;
  uint32_t major;
  uint32_t minor;
};

constexpr VersionRecord kWholeLibrary{"Main-DLL for SW-Update", "doralex", "Nov 18 2002",
                                      kLibraryVersionMajor, kLibraryVersionMinor};
constexpr VersionRecord kSerialLayer{"Serial Low-DLL", "dlxupser", "Nov 18 2002", 1, 35};

std::atomic<bool> started{false};
std::atomic<int32_t> updateMode{0};
std::atomic<int32_t> portModes[kChannelCount];
std::atomic<bool> fallbackFlags[kChannelCount];

std::atomic<bool> updateCallbacksInstalled{false};
UpdateCallbacks updateCallbacks{};
BfbProgressFn bfbProgress = nullptr;
TestProgressFn testProgress = nullptr;
InfoFn infoCallback = nullptr;
int infoTiming = 0;

constinit ManualPortOpenerFn builtinManualOpener = nullptr;
std::atomic<ManualPortOpenerFn> manualOpener{nullptr};

bool validChannel(uint16_t channel) { return channel < kChannelCount; }

void fill(LibraryInfo* record, const VersionRecord& version) {
  std::strncpy(record->description, version.description, sizeof record->description - 1);
  std::strncpy(record->author, version.author, sizeof record->author - 1);
  std::strncpy(record->buildDate, version.buildDate, sizeof record->buildDate - 1);
  record->major = version.major;
  record->minor = version.minor;
}

}  // namespace

bool LibraryStarted() { return started.load(); }

void RecordNotStarted() {
  for (int port = 0; port < kPortCount; ++port) DLX_SET_ERROR(port, 600, swupwork);
  AddLibraryErrorToAll(0x617);
}

int InitLibrary(uint16_t major, uint16_t minor) {
  ConfigureLogFromEnvironment();
  if (major != kInterfaceMajor || minor != kInterfaceMinor) {
    started = false;
    return 0;
  }
  started = true;
  InstallBuiltinManualPortOpener();
  for (uint16_t channel = 0; channel < kChannelCount; ++channel) portModes[channel] = 0;
  // The boot-core loader path is not bound in this system: there are no
  // loader parameters to clear.
  return 1;
}

int GetLibraryInfo(LibraryInfo* record, int part) {
  if (!started) {
    RecordNotStarted();
    return 0;
  }
  if (!record) return 0;
  switch (part) {
    case 0:
      if (record->size != sizeof(LibraryInfo)) return 0;
      fill(record, kWholeLibrary);
      return 1;
    case 1:
      if (record->size != sizeof(LibraryInfo)) {
        AddLibraryErrorToAll(0x200);
        return 0;
      }
      fill(record, kSerialLayer);
      return 1;
    default:
      // Parts 2 and 3 describe an external boot-core loader that is not bound.
      return 0;
  }
}

int SetUpdateMode(int32_t mode) {
  updateMode = mode;
  return 1;
}

int32_t GetUpdateMode() { return updateMode; }

int UsesNewConcept(uint16_t channel) {
  switch (updateMode.load()) {
    case 1:
      return 1;
    case 2:
      return validChannel(channel) && fallbackFlags[channel] ? 0 : 1;
    default:
      return 0;
  }
}

int32_t GetPortMode(uint16_t channel) { return validChannel(channel) ? portModes[channel].load() : 0; }

void SetPortMode(uint16_t channel, int32_t mode) {
  if (validChannel(channel)) portModes[channel] = mode;
}

bool GetFallbackFlag(uint16_t channel) {
  return validChannel(channel) && fallbackFlags[channel].load();
}

void SetFallbackFlag(uint16_t channel, bool on) {
  if (validChannel(channel)) fallbackFlags[channel] = on;
}

void InstallUpdateCallbacks(const UpdateCallbacks& callbacks) {
  updateCallbacks = callbacks;
  updateCallbacksInstalled = true;
}

const UpdateCallbacks* GetUpdateCallbacks() {
  return updateCallbacksInstalled ? &updateCallbacks : nullptr;
}

void InstallBfbCallbacks(BfbProgressFn bfb, TestProgressFn test) {
  bfbProgress = bfb;
  testProgress = test;
}

BfbProgressFn GetBfbProgressCallback() { return bfbProgress; }
TestProgressFn GetTestProgressCallback() { return testProgress; }

void InstallInfoCallback(InfoFn info, int timingFlag) {
  infoCallback = info;
  infoTiming = timingFlag;
}

InfoFn GetInfoCallback() { return infoCallback; }
int GetInfoCallbackTiming() { return infoTiming; }

void RegisterBuiltinManualPortOpener(ManualPortOpenerFn opener) { builtinManualOpener = opener; }
void InstallBuiltinManualPortOpener() { manualOpener = builtinManualOpener; }
ManualPortOpenerFn GetManualPortOpener() { return manualOpener; }

}  // namespace dlx
