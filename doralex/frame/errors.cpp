#include "doralex/frame/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "doralex/frame/log.h"

namespace dlx {
namespace {

struct ChannelEntry {
  int32_t portKey;
};

ChannelEntry channelTable[kChannelCount];
PortErrorRecord portErrors[kPortCount];
LibraryErrorList errorLists[kChannelCount];
const LibraryErrorList emptyList{};
const LibraryErrorEntry emptyEntry{};

bool validPort(int port) { return port >= 0 && port < kPortCount; }
bool validChannel(uint16_t channel) { return channel < kChannelCount; }

bool isIntegerLetter(char c) {
  switch (c) {
    case 'd': case 'i': case 'o': case 'u': case 'x':
    case 'D': case 'I': case 'O': case 'U': case 'X':
      return true;
    default:
      return false;
  }
}

bool isTextLetter(char c) { return c == 's' || c == 'S'; }

// Copies at most size - 1 characters and always terminates.
void copyText(char* dest, std::size_t size, const char* src) {
  std::size_t n = strnlen(src, size - 1);
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

}  // namespace

const char* ModuleName(Module module) {
  switch (module) {
    case Module::swupwork: return "swupwork";
    case Module::wbfbstat: return "wbfbstat";
    case Module::wseril1: return "wseril1";
    case Module::wseril2: return "wseril2";
    case Module::wseril3: return "wseril3";
    case Module::wmob_err: return "wmob_err";
  }
  return "";
}

uint16_t FindChannel(int port) {
  for (uint16_t channel = 0; channel < kChannelCount; ++channel) {
    if (channelTable[channel].portKey == port) return channel;
  }
  return 0;
}

void RegisterChannel(int port, uint16_t channel) {
  if (!validPort(port) || !validChannel(channel)) return;
  channelTable[channel].portKey = port;
}

void SetErrorNumber(int port, int32_t number, Module module, int32_t line) {
  if (!validPort(port)) return;
  PortErrorRecord& record = portErrors[port];
  record.number = number;
  record.module = ModuleName(module);
  record.line = line;
  record.hasAdditionalText = 0;
  LogMessage(FindChannel(port), 2, kLogUpdate, "Setting Error Number %d\n", number);
}

void SetAdditionalErrorInfo(int port, const char* format, ...) {
  if (!validPort(port)) return;
  PortErrorRecord& record = portErrors[port];
  va_list args;
  va_start(args, format);
  std::vsnprintf(record.additionalText, sizeof record.additionalText, format, args);
  va_end(args);
  record.hasAdditionalText = 1;
  LogMessage(FindChannel(port), 2, kLogUpdate, "Setting Additional Error Info %s\n",
             record.additionalText);
}

const PortErrorRecord* GetPortErrorRecord(int port) {
  return validPort(port) ? &portErrors[port] : nullptr;
}

int32_t GetErrorNumber(int port) { return validPort(port) ? portErrors[port].number : 0; }

const char* GetAdditionalErrorText(int port) {
  if (!validPort(port) || !portErrors[port].hasAdditionalText) return "";
  return portErrors[port].additionalText;
}

void AddLibraryError(uint16_t channel, uint32_t code, const char* descriptor,
                     std::initializer_list<ErrorArg> values) {
  if (!validChannel(channel)) return;
  LibraryErrorList& list = errorLists[channel];
  if (list.count >= kErrorListCapacity) {
    LibraryErrorEntry& overflow = list.slots[kErrorListSlots - 1];
    overflow = LibraryErrorEntry{};
    overflow.code = kOverflowCode;
    list.overflowed = true;
    return;
  }
  LibraryErrorEntry& entry = list.slots[list.count++];
  entry = LibraryErrorEntry{};
  entry.code = code;
  copyText(entry.descriptor, sizeof entry.descriptor, descriptor ? descriptor : "");

  const ErrorArg* next = values.begin();
  int ints = 0;
  int texts = 0;
  // At most ten letters are looked at; each parameter letter takes the next value.
  for (int i = 0; i < 10 && entry.descriptor[i] != '\0'; ++i) {
    char letter = entry.descriptor[i];
    bool integer = isIntegerLetter(letter);
    if (!integer && !isTextLetter(letter)) continue;
    if (next == values.end()) break;
    const ErrorArg& value = *next++;
    if (integer) {
      if (ints < kErrorIntSlots) entry.intParams[ints++] = value.intValue();
    } else if (texts < kErrorTextSlots) {
      copyText(entry.textParams[texts++], kErrorTextSize, value.textValue());
    }
  }
}

void AppendLibraryErrorEntry(uint16_t channel, const LibraryErrorEntry& entry) {
  if (!validChannel(channel)) return;
  LibraryErrorList& list = errorLists[channel];
  if (list.count >= kErrorListCapacity) {
    AddLibraryError(channel, entry.code);  // takes the overflow path
    return;
  }
  list.slots[list.count++] = entry;
}

void AddLibraryErrorToAll(uint32_t code, const char* descriptor,
                          std::initializer_list<ErrorArg> values) {
  for (uint16_t channel = 0; channel < kChannelCount; ++channel) {
    AddLibraryError(channel, code, descriptor, values);
  }
}

const LibraryErrorList& GetLibraryErrorList(uint16_t channel) {
  return validChannel(channel) ? errorLists[channel] : emptyList;
}

const LibraryErrorEntry& GetLatestLibraryError(uint16_t channel) {
  if (!validChannel(channel)) return emptyEntry;
  const LibraryErrorList& list = errorLists[channel];
  if (list.overflowed) return list.slots[kErrorListSlots - 1];
  if (list.count == 0) return list.slots[0];
  return list.slots[list.count - 1];
}

}  // namespace dlx
