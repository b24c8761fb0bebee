// Consistency checks of the update sequence (module swupwork).
#include "doralex/engine/consistency.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"

namespace dlx {
namespace {

constexpr uint64_t kBytesPerMbit = 131072;
constexpr size_t kVersionPrefixLength = 5;  // "SVN: "

// A fixed-width field as text: up to its first zero, never past its end.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// The value of up to two leading decimal digits, as a two-character atoi would read them.
int TwoDigits(const char* text) {
  int value = 0;
  for (int i = 0; i < 2 && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

uint16_t VersionNumber(const ProductInfo& block) {
  uint32_t value = 0;
  for (size_t i = kVersionPrefixLength; i < sizeof block.version; ++i) {
    const char c = block.version[i];
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return static_cast<uint16_t>(value);
}

BlockDate ReadBlockDate(const ProductInfo& block) {
  const char* date = block.compileDate;
  const int yearOfCentury = TwoDigits(date + 6);
  return BlockDate{yearOfCentury >= 90 ? 1900 + yearOfCentury : 2000 + yearOfCentury,
                   TwoDigits(date + 3), TwoDigits(date)};
}

bool IsEarlier(const BlockDate& a, const BlockDate& b) {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}

ProductInfo PhoneProductInfo(const uint8_t* data, uint8_t length) {
  uint8_t answer[64] = {};
  std::memcpy(answer, data, length < sizeof answer ? length : sizeof answer);
  ProductInfo info{};
  std::memcpy(info.compileDate, answer, 8);
  std::memcpy(info.compileTime, answer + 8, 8);
  std::memcpy(info.productType, answer + 16, 16);
  std::snprintf(info.version, sizeof info.version, "SVN: %X", answer[32]);
  return info;
}

int CheckFlashSize(int port, uint16_t channel, uint16_t flashMbit, uint32_t swSize) {
  // Wide enough for the largest size a phone can report (65535 Mbit).
  const uint64_t flashBytes = flashMbit * kBytesPerMbit;
  if (flashBytes >= swSize) return 1;
  DLX_SET_ERROR(port, 55, swupwork);
  SetAdditionalErrorInfo(port,
                         "Error : you are trying to update a SW for %ld Bytes into a Mobile with "
                         "only space for %ld Bytes !",
                         static_cast<long>(swSize), static_cast<long>(flashBytes));
  AddLibraryError(channel, 0x608, "dd",
                  {static_cast<int32_t>(swSize), static_cast<int32_t>(flashBytes)});
  return 0;
}

int CheckSoftwareRules(int port, uint16_t channel, const ProductInfo& phone,
                       const ProductInfo& file, const ConsistencyHooks& hooks) {
  if (hooks.inform && !hooks.inform(phone, file)) return 0;

  auto ask = [&](int problemType) { return hooks.askHost ? hooks.askHost(phone, file, problemType) : 0; };
  auto blockTimeOut = [&](uint16_t value) {
    // The command carries one byte: 2000 goes out as its low byte, 208.
    if (hooks.sendBlockTimeOut) hooks.sendBlockTimeOut(static_cast<uint8_t>(value & 0xFF));
  };

  const std::string phoneProduct = FieldText(phone.productType);
  const std::string fileProduct = FieldText(file.productType);
  if (phoneProduct != fileProduct) {
    blockTimeOut(2000);
    if (!ask(kProblemProduct)) {
      SetAdditionalErrorInfo(port, "Error : Update of %s SW not possible into a %s !",
                             fileProduct.c_str(), phoneProduct.c_str());
      AddLibraryError(channel, 0x60A, "ss", {fileProduct, phoneProduct});
      return 0;
    }
  }

  const uint16_t phoneVersion = VersionNumber(phone);
  const uint16_t fileVersion = VersionNumber(file);
  const std::string phoneVersionText = FieldText(phone.version);
  const std::string fileVersionText = FieldText(file.version);

  if (IsEarlier(ReadBlockDate(file), ReadBlockDate(phone))) {
    blockTimeOut(200);
    if (!ask(fileVersion < phoneVersion ? kProblemDateAndVersion : kProblemDate)) {
      const std::string phoneDate = FieldText(phone.compileDate);
      const std::string fileDate = FieldText(file.compileDate);
      SetAdditionalErrorInfo(port,
                             "Error : SW-Date and Version are incompatible, Mobile: %s Date: %s <=> "
                             "File: %s Date: %s  !",
                             phoneVersionText.c_str(), phoneDate.c_str(), fileVersionText.c_str(),
                             fileDate.c_str());
      AddLibraryError(channel, 0x60B, "ssss", {phoneVersionText, phoneDate, fileVersionText, fileDate});
      return 0;
    }
    return 1;  // the host accepted the older software: the version rule does not apply
  }

  if (fileVersion < phoneVersion) {
    blockTimeOut(200);
    if (!ask(kProblemVersion)) {
      SetAdditionalErrorInfo(port, "Error : SW-Version is incompatible, Mobile: %s <=> File: %s !",
                             phoneVersionText.c_str(), fileVersionText.c_str());
      AddLibraryError(channel, 0x60C, "ss", {phoneVersionText, fileVersionText});
      return 0;
    }
  }
  return 1;
}

int CheckDifferenceUpdate(int port, uint16_t channel, const ProductInfo& phone,
                          const DateTimePair& madeFrom) {
  const std::string phoneDate = FieldText(phone.compileDate);
  const std::string fromDate = FieldText(madeFrom.date);
  LogMessage(channel, 1, kLogUpdate, "SW in Mobile, Time : %s XBI-Info-Old-Date : %s \n",
             phoneDate.c_str(), fromDate.c_str());

  static constexpr uint8_t kNoDate[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  if (std::memcmp(phone.compileDate, kNoDate, 8) == 0) {
    DLX_SET_ERROR(port, 500, swupwork);
    SetAdditionalErrorInfo(port, "No Date/Time-Info available, impossible to DIFF-Swup");
    AddLibraryError(channel, 0x600);
    return 0;
  }
  if (std::memcmp(phone.compileDate, madeFrom.date, 8) != 0) {
    DLX_SET_ERROR(port, 501, swupwork);
    SetAdditionalErrorInfo(port, "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Mobile");
    AddLibraryError(channel, 0x601);
    return 0;
  }
  if (std::memcmp(phone.compileTime, madeFrom.time, 8) != 0) {
    DLX_SET_ERROR(port, 501, swupwork);
    SetAdditionalErrorInfo(port, "Wrong Date/Time for DIFF-SWUP ! XDI must fit exactly to SW in Moibile");
    AddLibraryError(channel, 0x601);
    return 0;
  }
  return 1;
}

int CheckSplitId(int port, uint16_t channel, const uint8_t* splitAnswer, uint32_t containerSplitId) {
  const uint32_t phoneSplitId = static_cast<uint32_t>(splitAnswer[4]) << 24 |
                                static_cast<uint32_t>(splitAnswer[5]) << 16 |
                                static_cast<uint32_t>(splitAnswer[6]) << 8 | splitAnswer[7];
  if (phoneSplitId == containerSplitId) return 1;
  LogMessage(channel, 1, kLogUpdate, "SW in Mobile, Split-ID %08X  ID in Header %08X\n", phoneSplitId,
             containerSplitId);
  DLX_SET_ERROR(port, 63, swupwork);
  AddLibraryError(channel, 0x60E);
  return 0;
}

}  // namespace dlx
