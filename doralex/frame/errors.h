// The library's two failure records: the port error record of each COM port
// and the coded error list of each update channel.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "doralex/doralex.h"

namespace dlx {

// Source modules recorded with every port error number.
enum class Module { swupwork, wbfbstat, wseril1, wseril2, wseril3, wmob_err };
const char* ModuleName(Module module);

constexpr int kAdditionalTextSize = 1000;  // 999 characters and the terminating zero
constexpr int kErrorListSlots = 50;        // slots 0..48 take entries, 49 is the overflow slot
constexpr int kErrorListCapacity = 49;
constexpr uint32_t kOverflowCode = 0xFFF;

struct PortErrorRecord {
  int32_t number;
  const char* module;
  int32_t line;
  char additionalText[kAdditionalTextSize];
  int32_t hasAdditionalText;
};

struct LibraryErrorList {
  uint8_t count;
  bool overflowed;
  LibraryErrorEntry slots[kErrorListSlots];
};

// One parameter value of a library error. The descriptor letter decides what
// is stored: an integer letter takes an integer value, a text letter a text;
// a value of the other kind is stored as 0 or as an empty text.
class ErrorArg {
 public:
  ErrorArg(int32_t value) : isText_(false), int_(value) {}           // NOLINT: implicit by design
  ErrorArg(uint32_t value) : isText_(false), int_(static_cast<int32_t>(value)) {}  // NOLINT
  ErrorArg(const char* text) : isText_(true), text_(text ? text : "") {}           // NOLINT
  ErrorArg(const std::string& text) : isText_(true), text_(text.c_str()) {}        // NOLINT

  bool isText() const { return isText_; }
  int32_t intValue() const { return isText_ ? 0 : int_; }
  const char* textValue() const { return isText_ ? text_ : ""; }

 private:
  bool isText_;
  int32_t int_ = 0;
  const char* text_ = "";
};

// Channel of the update that serves a port: the first channel whose key is the
// port, 0 when none is (and for ports outside 0..11).
uint16_t FindChannel(int port);
// Ports outside 0..11 and channels outside 0..3 are ignored.
void RegisterChannel(int port, uint16_t channel);

// Ports outside 0..11 have no record: the calls below do nothing for them.
void SetErrorNumber(int port, int32_t number, Module module, int32_t line);
void SetAdditionalErrorInfo(int port, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
const PortErrorRecord* GetPortErrorRecord(int port);  // nullptr outside 0..11

// Appends a coded error to the channel's list (channels outside 0..3 are
// ignored). Values are taken in descriptor order; missing ones stay zero.
void AddLibraryError(uint16_t channel, uint32_t code, const char* descriptor = "",
                     std::initializer_list<ErrorArg> values = {});
// Appends a copy of an entry (as AddLibraryError does, overflow included).
void AppendLibraryErrorEntry(uint16_t channel, const LibraryErrorEntry& entry);
void AddLibraryErrorToAll(uint32_t code, const char* descriptor = "",
                          std::initializer_list<ErrorArg> values = {});
// An always-empty list for channels outside 0..3.
const LibraryErrorList& GetLibraryErrorList(uint16_t channel);

}  // namespace dlx

// Records a port error number with the calling module and line.
#define DLX_SET_ERROR(port, number, module) \
  ::dlx::SetErrorNumber((port), (number), ::dlx::Module::module, __LINE__)
