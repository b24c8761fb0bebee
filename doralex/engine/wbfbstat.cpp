// The BFB session: prepares the phone in its normal software for the update
// (BfbPrepareUpdate) and finds it alive again afterwards (BfbTestNewSoftware).
#include <ctime>

#include "doralex/bfb/bfb_link.h"
#include "doralex/bfb/ees.h"
#include "doralex/bfb/wait.h"
#include "doralex/container.h"
#include "doralex/doralex.h"
#include "doralex/engine/bfb_requests.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"
#include "doralex/frame/log.h"

// Records the failing step on the port and its library error on the channel.
#define BFB_FAIL(session, number, code)                  \
  do {                                                   \
    DLX_SET_ERROR((session).port, (number), wbfbstat);   \
    ::dlx::AddLibraryError((session).channel, (code));   \
  } while (0)

namespace dlx {
namespace {

constexpr uint32_t kBfbSpeed = 57600;
constexpr int kPrepareSteps = 7;
constexpr int kTestSteps = 5;
// A phone that keeps answering pings after the switch-off request is given
// this many rounds of 500 ms, so the session cannot hang on it.
constexpr int kSwitchOffRounds = 40;

enum class State {
  Open = 0,
  Ping = 1,
  NextPing = 2,
  ThirdPing = 3,
  SwitchOn = 4,
  Voltage = 5,
  AwaitOff = 6,
  Failed = 7,
  Ready = 8,
  Settle = 9,
};

struct Session {
  uint16_t channel;
  int port;
  WHandle handle = kInvalidWHandle;
  BfbProgressFn progress = nullptr;

  void step(int number) const { progress(channel, kPrepareSteps, number); }
  void log(const char* line) const { LogMessage(channel, 1, kLogBfb, "%s", line); }
};

void logBanner(uint16_t channel) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const char* rule = "********************************************************\n";
  LogMessage(channel, 2, kLogBfb, "%s", rule);
  LogMessage(channel, 2, kLogBfb, "Starting new Update \n");
  LogMessage(channel, 2, kLogBfb, "on : %02d.%02d.%04d , %02d:%02d:%02d\n", local.tm_mday,
             local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  LogMessage(channel, 2, kLogBfb, "%s", rule);
}

// The host compares the phone's software with the file's; 0 refuses.
bool earlyCheckAccepts(const Session& s, InfoFn info) {
  ProductInfo file{};
  FormatProductInfo(&file);
  ProductInfo phone{};
  ReadPhoneProductInfo(s.handle, s.channel, &phone);
  return info(s.channel, &phone, &file) != 0;
}

// Whether the phone's software may take the new concept in update mode 2.
int putCountResult(const Session& s) {
  PutCount putCount;
  if (!RequestPutCount(s.handle, &putCount)) {
    AddLibraryError(s.channel, 0x508);
    return 0;
  }
  LogMessage(s.channel, 1, kLogBfb, "BFB : Directory: %s putcount : %ld\n", putCount.directory,
             static_cast<long>(putCount.count));
  return PutCountAllowsNewConcept(putCount);
}

// Leaves the status record for the loader and restarts the phone into it.
State newConceptStep(const Session& s, uint32_t speed) {
  s.log("BFB : starting new Update-Concept\n");
  uint8_t previous[kEesRecordSize] = {};
  bool valid = EesReadRecord(s.handle, previous) == 1;
  if (valid && EesLastStatus() != 0) {
    BFB_FAIL(s, 104, 0x505);
    return State::Failed;
  }
  uint8_t record[kEesRecordSize];
  ComposeStatusRecord(GetXbiHeaderInfo(), valid ? previous : nullptr, record);
  if (!EesWriteRecord(s.handle, record)) {
    BFB_FAIL(s, 104, 0x505);
    return State::Failed;
  }
  if (!RequestCustomerReboot(s.handle, speed)) {
    AddLibraryError(s.channel, 0x507);
    BFB_FAIL(s, 104, 0x505);
    return State::Failed;
  }
  SetPortMode(s.channel, kPortModeRebooted);
  s.step(7);
  SetFallbackFlag(s.channel, false);
  return State::Ready;
}

State voltageState(const Session& s, uint16_t* voltageMv, uint32_t speed) {
  s.log("BFB : getting voltage\n");
  s.step(5);
  uint16_t voltage = RequestVoltage(s.handle);
  if (voltageMv) *voltageMv = voltage;

  InfoFn info = GetInfoCallback();
  if (info && GetInfoCallbackTiming() == 0) {
    s.log("BFB : early consistence check\n");
    s.step(6);
    if (!earlyCheckAccepts(s, info)) return State::Failed;
  }

  int allowed = GetUpdateMode() == 2 ? putCountResult(s) : 1;
  if (UsesNewConcept(s.channel)) {
    if (allowed == 1) return newConceptStep(s, speed);
    SetFallbackFlag(s.channel, true);
    if (UsesNewConcept(s.channel)) {
      BFB_FAIL(s, 104, 0x505);
      return State::Failed;
    }
    WMobileOff(s.handle);
    return State::AwaitOff;
  }
  s.log("BFB : switching mobile off\n");
  WMobileOff(s.handle);
  return State::AwaitOff;
}

State runPrepare(Session& s, uint16_t* voltageMv, uint32_t speed) {
  State state = State::Open;
  int offRounds = 0;
  while (state != State::Ready && state != State::Failed) {
    switch (state) {
      case State::Open:
        s.log("BFB : opening comport\n");
        s.handle = WComOpen(s.port, kBfbSpeed);
        if (s.handle == kInvalidWHandle) {
          BFB_FAIL(s, 101, 0x501);
          state = State::Failed;
        } else {
          s.step(1);
          state = State::Ping;
        }
        break;
      case State::Ping:
        s.log("BFB : pinging mobile\n");
        if (WPingMobile(s.handle)) {
          state = State::Settle;
        } else {
          s.log("BFB : setting BFB-Mode\n");
          WSetBfbMode(s.handle);
          state = State::NextPing;
        }
        break;
      case State::NextPing:
        s.log("BFB : next ping \n");
        s.step(2);
        if (WPingMobile(s.handle)) {
          state = State::Settle;
        } else if (UsesNewConcept(s.channel)) {
          SetPortMode(s.channel, kPortModeManualStart);
          BFB_FAIL(s, 102, 0x503);
          state = State::Failed;
        } else {
          state = State::SwitchOn;
        }
        break;
      case State::SwitchOn:
        s.log("BFB : switching on mobile\n");
        s.step(3);
        if (WMobileOn(s.handle)) {
          state = State::ThirdPing;
        } else {
          SetPortMode(s.channel, kPortModeSwitchOnFailed);
          BFB_FAIL(s, 103, 0x502);
          state = State::Failed;
        }
        break;
      case State::ThirdPing:
        s.log("BFB : 3d ping\n");
        s.step(4);
        if (WPingMobile(s.handle)) {
          state = State::Settle;
          break;
        }
        s.log("BFB : setting BFB-Mode\n");
        WSetBfbMode(s.handle);
        if (WPingMobile(s.handle)) {
          state = State::Settle;
        } else {
          BFB_FAIL(s, 102, 0x503);
          state = State::Failed;
        }
        break;
      case State::Settle:
        WaitMs(1500);
        state = State::Voltage;
        break;
      case State::Voltage:
        state = voltageState(s, voltageMv, speed);
        break;
      case State::AwaitOff:
        s.log("BFB : pinging and waiting for switching off\n");
        if (!WPingMobile(s.handle)) {
          s.log("BFB : now ready\n");
          s.step(7);
          SetPortMode(s.channel, kPortModeRebooted);
          state = State::Ready;
        } else if (++offRounds == kSwitchOffRounds) {
          BFB_FAIL(s, 104, 0x506);
          state = State::Failed;
        } else {
          WaitMs(500);
        }
        break;
      case State::Failed:
      case State::Ready:
        break;
    }
  }
  return state;
}

}  // namespace

int BfbPrepareUpdate(uint16_t channel, int port, uint16_t* voltageMv, uint32_t speed) {
  if (voltageMv) *voltageMv = 0;
  Session s{channel, port};
  s.progress = GetBfbProgressCallback();
  if (!s.progress) {
    BFB_FAIL(s, 100, 0x500);
    return 0;
  }
  SetPortMode(channel, kPortModeBfbRunning);
  logBanner(channel);

  SetFallbackFlag(channel, false);
  uint32_t fileType = GetXbiHeaderInfo().file_type;
  if (fileType != 0 && fileType != 3) {  // neither "MobSw" nor "Code Only"
    if (GetUpdateMode() == 1) {
      BFB_FAIL(s, 105, 0x504);
      return 0;
    }
    if (GetUpdateMode() == 2) SetFallbackFlag(channel, true);
  }

  State end = runPrepare(s, voltageMv, speed);
  if (s.handle != kInvalidWHandle) {
    s.log("BFB : Closing comport\n");
    WComClose(s.handle);
  }
  s.log(end == State::Ready ? "BFB : ready and true\n" : "BFB : ready and false\n");
  return end == State::Ready ? 1 : 0;
}

int BfbTestNewSoftware(uint16_t channel, int port) {
  Session s{channel, port};
  TestProgressFn progress = GetTestProgressCallback();
  if (!progress) {
    BFB_FAIL(s, 100, 0x500);
    return 0;
  }

  bool success = false;
  s.handle = WComOpen(port, kBfbSpeed);
  if (s.handle == kInvalidWHandle) {
    BFB_FAIL(s, 101, 0x501);
  } else {
    progress(channel, kTestSteps, 1);
    int state = UsesNewConcept(channel) ? 1 : 4;
    bool running = true;
    while (running) {
      switch (state) {
        case 1:
          WaitMs(300);
          progress(channel, kTestSteps, 2);
          if (WPingMobile(s.handle)) {
            state = 6;
          } else {
            WSetBfbMode(s.handle);
            state = 2;
          }
          break;
        case 2:
          WaitMs(300);
          progress(channel, kTestSteps, 3);
          if (WPingMobile(s.handle)) {
            state = 6;
          } else {
            BFB_FAIL(s, 102, 0x503);
            running = false;
          }
          break;
        case 4:
          if (WMobileOn(s.handle)) {
            state = 1;
          } else {
            BFB_FAIL(s, 103, 0x502);
            running = false;
          }
          break;
        default:  // 6: the phone answers; switch it off
          WaitMs(300);
          progress(channel, kTestSteps, 4);
          WMobileOff(s.handle);
          success = true;
          running = false;
          break;
      }
    }
  }

  progress(channel, kTestSteps, 5);
  if (s.handle != kInvalidWHandle) WComClose(s.handle);
  return success ? 1 : 0;
}

}  // namespace dlx
