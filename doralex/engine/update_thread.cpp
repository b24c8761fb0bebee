// The update thread: from the loader's first frame to the end of the
// transmission. Every path ends in exactly one success or error callback with
// the port closed.
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "doralex/container.h"
#include "doralex/engine/consistency.h"
#include "doralex/engine/update_sequence.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "doralex/frame/log.h"
#include "doralex/serial/loader_commands.h"
#include "doralex/serial/wmob_err.h"
#include "doralex/serial/wseril1.h"
#include "doralex/serial/wseril2.h"
#include "doralex/serial/wseril3.h"
#include "platform/named_mutex.h"
#include "platform/thread_priority.h"

namespace dlx {
namespace {

// InitLibrary installs the library's own manual port opener; it is known to
// the frame whenever the update sequence is linked in.
const bool manualOpenerRegistered = [] {
  RegisterBuiltinManualPortOpener(&ManualPortOpen);
  return true;
}();

constexpr uint8_t kMiPhoneError = 0x18;
constexpr uint8_t kMiLoaderCalls = 0x31;
constexpr uint8_t kMiFlashCode = 0x33;
constexpr uint8_t kMiFlashSize = 0x22;
constexpr uint8_t kMiSoftwareVersion = 0xC3;
constexpr uint8_t kMiSplitId = 0xC9;
constexpr uint8_t kMiSplitDone = 0xCA;
constexpr uint8_t kMiCompression = 0x81;
constexpr uint8_t kMiLanguageGroup = 0xCF;
constexpr uint8_t kMiNewSplit = 0xB9;
constexpr uint8_t kMiStatData = 0x00;

constexpr uint32_t kAnswerMs = 2000;
constexpr uint32_t kLongAnswerMs = 5000;
constexpr uint32_t kEndOfTransmissionMs = 10000;
constexpr uint32_t kBlockAnswerMs = 5000;
constexpr uint32_t kWaitRebootedMs = 30000;
constexpr uint32_t kWaitManualMs = 3000;

constexpr uint32_t kCompressionWithInfo = 3;

enum FileType : uint32_t {
  kMobSw = 0,
  kCodeOnly = 3,
  kLangOnly = 4,
  kCodeAndLang = 5,
  kDiffFile = 6,
  kExtendedNewSplit = 7,
};

// How the thread ends. Abort sends the switch-off command first; Fail does not.
enum class Ending { Success, SwitchOffAndSuccess, Abort, Fail };

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void ForwardEraseProgress(uint16_t channel, uint16_t total, uint16_t done) {
  const UpdateCallbacks* callbacks = GetUpdateCallbacks();
  if (callbacks && callbacks->eraseProgress) callbacks->eraseProgress(channel, total, done);
}

void ForwardTransferProgress(void* context, uint32_t bytesSent) {
  const uint16_t channel = *static_cast<const uint16_t*>(context);
  const UpdateCallbacks* callbacks = GetUpdateCallbacks();
  if (callbacks && callbacks->transferProgress) callbacks->transferProgress(channel, bytesSent);
}

bool HasFileType(uint32_t fileType, std::initializer_list<uint32_t> types) {
  for (uint32_t type : types) {
    if (fileType == type) return true;
  }
  return false;
}

class UpdateRun {
 public:
  explicit UpdateRun(const StartRecord& start)
      : channel_(start.channel), port_(start.port), speed_(start.speed),
        callbacks_(*GetUpdateCallbacks()), header_(GetXbiHeaderInfo()) {}

  void Run() {
    const Ending ending = Sequence();
    End(ending);
  }

 private:
  Ending Sequence();
  bool Connect(uint32_t* waitMs);
  bool ConnectManually(uint32_t* waitMs);
  Ending CheckFlash();
  Ending CheckSoftware();
  Ending CheckSplit();
  Ending Erase();
  Ending Transfer();
  Ending FinishByFileType();

  bool Wait(LoaderFrame* frame, uint8_t mi, uint32_t timeoutMs) {
    return WaitForMessage(port_, frame, mi, timeoutMs) == 1;
  }

  // The step's error is recorded after the switch-off command: a phone that
  // fell silent makes that command fail too, and its transmission errors must
  // not hide the reason the update stopped.
  Ending AbortWith(uint32_t code) {
    abortCode_ = code;
    return Ending::Abort;
  }

  // The switch-off on the way out goes to a phone that may have fallen
  // silent: its transmission errors must not hide why the update stopped, so
  // the reason is recorded after it (the step's own error, or again the entry
  // that was latest before the switch-off).
  void SwitchOffKeepingReason() {
    const LibraryErrorList& list = GetLibraryErrorList(channel_);
    const uint8_t countBefore = list.count;
    const bool overflowedBefore = list.overflowed;
    const LibraryErrorEntry reason = GetLatestLibraryError(channel_);
    SendSwitchOff(port_);
    if (abortCode_) return;
    const bool switchOffFailed = list.count != countBefore || list.overflowed != overflowedBefore;
    if (switchOffFailed && reason.code != 0) AppendLibraryErrorEntry(channel_, reason);
  }

  void End(Ending ending) {
    if (ending == Ending::Abort) SwitchOffKeepingReason();
    if (ending == Ending::SwitchOffAndSuccess) SendSwitchOff(port_);
    if (abortCode_) AddLibraryError(channel_, abortCode_);
    // Closing a port this thread never opened would only put "ComPort is not
    // open" over the error that explains the failure.
    if (portOpen_) ComClose(port_);
    const bool success = ending == Ending::Success || ending == Ending::SwitchOffAndSuccess;
    if (success) {
      if (callbacks_.success) callbacks_.success(channel_);
    } else if (callbacks_.error) {
      callbacks_.error(channel_);
    }
  }

  const uint16_t channel_;
  const int port_;
  const uint32_t speed_;
  const UpdateCallbacks callbacks_;
  const XbiHeaderInfo& header_;
  bool portOpen_ = false;
  std::mutex* updateMutex_ = nullptr;
  int negotiationState_ = 0;
  uint32_t abortCode_ = 0;
};

Ending UpdateRun::Sequence() {
  if (GetTransferLength() == 0) {
    // Nothing to send means no usable container: never report that as an update.
    AddLibraryError(channel_, 0x61A);
    return Ending::Fail;
  }

  RegisterChannel(port_, channel_);
  SetAdditionalErrorInfo(port_, "Error opening Mutex");
  updateMutex_ = platform::OpenNamedMutex(kUpdateMutexName);
  if (!updateMutex_) {
    AddLibraryError(channel_, 0x618, "d", {port_ + 1});
    return Ending::Fail;
  }

  RegisterHandler(kMiPhoneError, &MapPhoneError);

  DLX_SET_ERROR(port_, 51, swupwork);
  SetAdditionalErrorInfo(port_, "Cant connect to Mobile with BootstrapLoader on Com %d", port_ + 1);
  uint32_t waitMs = 0;
  if (!Connect(&waitMs)) return Ending::Fail;

  LoaderFrame frame{};
  if (!Wait(&frame, kMiLoaderCalls, waitMs)) {
    AddLibraryError(channel_, 0x61B);
    return Ending::Fail;
  }

  Pause(10);
  if (header_.map_info_complete && header_.map_info) {
    SendAdditionalInfo(port_, header_.map_info, header_.map_info_size);
  }
  Pause(10);

  if (!NegotiateSignature(port_, &negotiationState_)) return Ending::Abort;

  Ending ending = CheckFlash();
  if (ending == Ending::Success) ending = CheckSoftware();
  if (ending != Ending::Success) return ending;

  LogMessage(channel_, 1, kLogUpdate, "Sending Block-Timeout-Val %d \n", 200);
  SendBlockTimeOut(port_, 200);
  LogMessage(channel_, 1, kLogUpdate, "Sending Byte-Timeout-Val %d \n", 30);
  SendByteTimeOut(port_, 30);
  Pause(10);

  ending = CheckSplit();
  if (ending == Ending::Success) ending = Erase();
  if (ending == Ending::Success) ending = Transfer();
  if (ending == Ending::Success) ending = FinishByFileType();
  return ending;
}

// Opens the port and chooses how long to wait for the loader's call. false
// after recording why the phone cannot be reached.
bool UpdateRun::Connect(uint32_t* waitMs) {
  if (!UsesNewConcept(channel_)) {
    // The boot-core loader path needs an external connect routine and loader
    // image; none is bound in this library.
    AddLibraryError(channel_, 0x616, "d", {port_ + 1});
    return false;
  }
  if (GetPortMode(channel_) != kPortModeRebooted) return ConnectManually(waitMs);

  LogMessage(channel_, 2, kLogSerial, "Opening Comport %d with Speed %ld\n", port_ + 1,
             static_cast<long>(speed_));
  *waitMs = kWaitRebootedMs;
  if (!ComOpen(port_, speed_, 0)) {
    LogMessage(channel_, 2, kLogSerial, "Not possible to open Comport\n");
    DLX_SET_ERROR(port_, 1, swupwork);
    SetAdditionalErrorInfo(port_, "Opening Comport %d with Speed %d Baud not possible", port_ + 1,
                           static_cast<int>(speed_));
    AddLibraryError(channel_, 0x604, "dd", {port_ + 1, speed_});
    return false;
  }
  portOpen_ = true;
  return true;
}

bool UpdateRun::ConnectManually(uint32_t* waitMs) {
  platform::SetCurrentThreadPriority(platform::ThreadPriority::Highest);
  int outcome = 0;
  int opened = 0;
  {
    std::lock_guard<std::mutex> connectionStep(*updateMutex_);
    const ManualPortOpenerFn opener = GetManualPortOpener();
    if (opener) opened = opener(&outcome, channel_, port_, speed_, callbacks_.connectProgress);
  }
  platform::SetCurrentThreadPriority(platform::ThreadPriority::AboveNormal);
  if (!opened) {
    AddLibraryError(channel_, 0x616, "d", {port_ + 1});
    return false;
  }
  portOpen_ = true;
  switch (outcome) {
    case 1:
      *waitMs = kWaitManualMs;
      return true;
    case 3:
      *waitMs = kWaitRebootedMs;
      return true;
    case 2:
      AddLibraryError(channel_, 0x61F);
      return false;
    case 0:
      AddLibraryError(channel_, 0x61E);
      return false;
    default:
      AddLibraryError(channel_, 0x616, "d", {port_ + 1});
      return false;
  }
}

// Flash code and flash size.
Ending UpdateRun::CheckFlash() {
  LoaderFrame frame{};
  LogMessage(channel_, 2, kLogUpdate, "Requesting Flash-Code\n");
  RequestFlashCode(port_, static_cast<uint8_t>(header_.flash_code_request_value));
  DLX_SET_ERROR(port_, 53, swupwork);
  if (!Wait(&frame, kMiFlashCode, kAnswerMs)) return AbortWith(0x605);

  LogMessage(channel_, 1, kLogUpdate, "Received Flash-Code %02X%02X\n", frame.data[2], frame.data[1]);
  if (frame.data[0] != 1) {
    DLX_SET_ERROR(port_, 59, swupwork);
    SetAdditionalErrorInfo(port_, "Unknown Flashcode %02X%02X", frame.data[2], frame.data[1]);
    AddLibraryError(channel_, 0x606, "XX", {frame.data[2], frame.data[1]});
    return Ending::Abort;
  }
  const auto flashCode = static_cast<uint16_t>(frame.data[1] | frame.data[2] << 8);
  if (callbacks_.flashCode) callbacks_.flashCode(channel_, flashCode, "");

  LogMessage(channel_, 1, kLogUpdate, "Requesting Flash-Size\n");
  RequestFlashSize(port_);
  if (!Wait(&frame, kMiFlashSize, kAnswerMs)) {
    DLX_SET_ERROR(port_, 54, swupwork);
    return AbortWith(0x607);
  }
  const auto flashMbit = static_cast<uint16_t>(frame.data[0] | frame.data[1] << 8);
  LogMessage(channel_, 1, kLogUpdate, "Received Flash-Size :%d MBit \n", flashMbit);
  if (!CheckFlashSize(port_, channel_, flashMbit, header_.sw_size)) return Ending::Abort;
  return Ending::Success;
}

// The phone's software version against the container's.
Ending UpdateRun::CheckSoftware() {
  LoaderFrame frame{};
  LogMessage(channel_, 1, kLogUpdate, "Requesting SW-Version\n");
  RequestSoftwareVersion(port_);
  if (!Wait(&frame, kMiSoftwareVersion, kAnswerMs)) return AbortWith(0x61D);
  LogMessage(channel_, 1, kLogUpdate, "Received SW-Version-Data : %.*s\n", static_cast<int>(frame.length),
             reinterpret_cast<const char*>(frame.data));
  const ProductInfo phone = PhoneProductInfo(frame.data, frame.length);

  if (header_.file_type == kDiffFile) {
    return CheckDifferenceUpdate(port_, channel_, phone, header_.pair59) ? Ending::Success : Ending::Abort;
  }

  ProductInfo file{};
  FormatProductInfo(&file);
  ConsistencyHooks hooks;
  hooks.sendBlockTimeOut = [this](uint8_t value) { SendBlockTimeOut(port_, value); };
  hooks.askHost = [this](const ProductInfo& phoneInfo, const ProductInfo& fileInfo, int type) {
    return callbacks_.consistencyProblem ? callbacks_.consistencyProblem(channel_, &phoneInfo, &fileInfo, type)
                                         : 0;
  };
  const InfoFn info = GetInfoCallback();
  if (info && GetInfoCallbackTiming() == 1) {
    hooks.inform = [this, info](const ProductInfo& phoneInfo, const ProductInfo& fileInfo) {
      return info(channel_, &phoneInfo, &fileInfo);
    };
  }
  return CheckSoftwareRules(port_, channel_, phone, file, hooks) ? Ending::Success : Ending::Abort;
}

// Split check and write enabling for language and split updates.
Ending UpdateRun::CheckSplit() {
  if (!HasFileType(header_.file_type, {kLangOnly, kCodeAndLang, kExtendedNewSplit})) return Ending::Success;

  const uint32_t address = header_.split_address - header_.sw_size + 0x1000000;
  SendSplitInfo(port_, address, address + 4);
  LoaderFrame splitId{};
  LoaderFrame done{};
  if (!Wait(&splitId, kMiSplitId, kLongAnswerMs) || !Wait(&done, kMiSplitDone, kLongAnswerMs)) {
    DLX_SET_ERROR(port_, 62, swupwork);
    return AbortWith(0x60D);
  }
  if (!CheckSplitId(port_, channel_, splitId.data, header_.split_id)) return Ending::Abort;

  if (header_.file_type == kExtendedNewSplit && !header_.erase_area_list) {
    if (!EnableWriteBlockByBlock(port_, channel_)) return Ending::Abort;
  } else {
    EnableFlashWriteAll(port_);
  }
  return Ending::Success;
}

// BGJ invalidation and erasing.
Ending UpdateRun::Erase() {
  if (HasFileType(header_.file_type, {kMobSw, kCodeOnly}) && negotiationState_ <= 2) {
    if (!InvalidateBgj(port_, header_.project_type)) {
      LogMessage(channel_, 1, kLogUpdate, "Can not invalidate BGJ");
      DLX_SET_ERROR(port_, 66, swupwork);
      return AbortWith(0x61C);
    }
  }
  if (header_.file_type == kLangOnly) return Ending::Success;

  // The connection step refused every path but the new concept, so the phone
  // erases with its own routine.
  const LibraryErrorList& errors = GetLibraryErrorList(channel_);
  const uint8_t entriesBefore = errors.count;
  const bool overflowBefore = errors.overflowed;
  if (EraseNewConcept(port_, channel_, &ForwardEraseProgress)) {
    SkipCommandBlocks();
  } else if (errors.count != entriesBefore || errors.overflowed != overflowBefore) {
    // Not the phone's "not erased by me" (0xAA) but a phone error or no
    // answer: writing over flash in an unknown state would be reported as a
    // successful update.
    return Ending::Abort;
  }
  return Ending::Success;
}

// Transfer setup, compression, hashing and the heap data.
Ending UpdateRun::Transfer() {
  Pause(100);
  SendTransferSetup(port_, static_cast<uint16_t>(header_.transfer_setup_value));

  if (header_.compression_mode == kCompressionWithInfo) {
    SendCompressionInfo(port_, static_cast<uint16_t>(header_.compression_p1),
                        static_cast<uint8_t>(header_.compression_p3),
                        static_cast<uint8_t>(header_.compression_p4), header_.compression_p5,
                        header_.compression_p6, header_.compression_p7);
    LoaderFrame frame{};
    if (!Wait(&frame, kMiCompression, kLongAnswerMs)) {
      DLX_SET_ERROR(port_, 60, swupwork);
      return AbortWith(0x611);
    }
    if (frame.data[0] != 1) {
      DLX_SET_ERROR(port_, 61, swupwork);
      AddLibraryError(channel_, 0x619);
      return Ending::Fail;
    }
  }

  DLX_SET_ERROR(port_, 56, swupwork);
  const uint32_t length = GetTransferLength();
  if (callbacks_.transferStart) callbacks_.transferStart(channel_, length);
  LogMessage(channel_, 3, kLogUpdate, "Starting SW-Transmittion\n");
  const uint8_t* heap = GetHeapData();
  if (!heap) return AbortWith(0x61A);

  if (!StartHashing(port_, &negotiationState_)) return Ending::Abort;
  uint16_t progressChannel = channel_;
  if (!TransmitBlocks(port_, heap, length, kBlockAnswerMs, &progressChannel, &ForwardTransferProgress)) {
    return Ending::Abort;
  }
  return Ending::Success;
}

Ending UpdateRun::FinishByFileType() {
  LoaderFrame frame{};
  switch (header_.file_type) {
    case kLangOnly:
    case kCodeAndLang:
      SendLanguageGroupInfo(port_, header_.language_group);
      if (!Wait(&frame, kMiLanguageGroup, kLongAnswerMs)) {
        DLX_SET_ERROR(port_, 64, swupwork);
        return AbortWith(0x612);
      }
      return Ending::Success;
    case kExtendedNewSplit:
      for (const SplitElement* element = header_.split_list; element; element = element->next) {
        SendNewSplitInfo(port_, element->start, element->end, element->splitParameter);
        if (!Wait(&frame, kMiNewSplit, kLongAnswerMs)) {
          DLX_SET_ERROR(port_, 65, swupwork);
          return AbortWith(0x613);
        }
      }
      return Ending::SwitchOffAndSuccess;
    default:
      SendEndOfTransmission(port_);
      DLX_SET_ERROR(port_, 57, swupwork);
      if (!Wait(&frame, kMiStatData, kEndOfTransmissionMs)) return AbortWith(0x614);
      return Ending::Success;
  }
}

}  // namespace

void UpdateThread(StartRecord start) {
  (void)manualOpenerRegistered;
  UpdateRun(start).Run();
}

}  // namespace dlx
