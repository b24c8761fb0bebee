// The BFB session's requests to the phone and the rules for their answers.
#include "doralex/engine/bfb_requests.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "doralex/frame/library_state.h"
#include "doralex/frame/log.h"

namespace dlx {
namespace {

constexpr uint8_t kVoltage = 0x02;
constexpr uint8_t kSoftwareVersion = 0x03;
constexpr uint8_t kProductType = 0x07;
constexpr uint8_t kCompileDate = 0x08;
constexpr uint8_t kCustomerReboot = 0x20;
constexpr uint8_t kPutCount = 0x21;

struct PutCountRow {
  const char* prefix;
  uint32_t threshold;
};

constexpr PutCountRow kPutCountTable[] = {
    {"vor2.q7", 7922}, {"vor2", 8465}, {"lim6", 1480},    {"pat4r", 8589},
    {"som3", 1500},    {"pat4hx.q7", 2908}, {"wexa9", 1},
};

// Answer bytes after the sub-code, at most `limit` of them.
std::size_t payloadLength(const BfbInfoAnswer& answer, std::size_t limit) {
  return std::min<std::size_t>(answer.length - 1u, limit);
}

// Copies the answer's characters into a fixed-width field, stopping at a zero.
void copyCharacters(const BfbInfoAnswer& answer, std::size_t width, char* field) {
  std::size_t count = payloadLength(answer, width);
  for (std::size_t i = 0; i < count && answer.data[1 + i] != 0; ++i) {
    field[i] = static_cast<char>(answer.data[1 + i]);
  }
}

int requestCode(WHandle handle, uint8_t code, BfbInfoAnswer* answer) {
  return BfbInfoRequest(handle, &code, 1, answer);
}

// The decimal number in characters at, at + 1 of a date or time text; it ends
// at the first character that is not a digit (or at the end of the text).
template <std::size_t N>
uint8_t twoDigits(const char (&text)[N], std::size_t at) {
  std::size_t length = strnlen(text, N);
  int value = 0;
  for (std::size_t i = at; i < at + 2 && i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) break;
    value = value * 10 + (text[i] - '0');
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

int BfbInfoRequest(WHandle handle, const uint8_t* request, uint8_t count, BfbInfoAnswer* answer) {
  if (!WComWrite(handle, kFrameInfo, count, request)) return 0;
  uint8_t type = 0;
  return WComReceive(handle, kFrameInfo, request[0], &type, &answer->length, answer->data) == 1 &&
                 answer->length > 0
             ? 1
             : 0;
}

uint16_t RequestVoltage(WHandle handle) {
  BfbInfoAnswer answer;
  if (!requestCode(handle, kVoltage, &answer) || answer.length < 3) return 0;
  return static_cast<uint16_t>(answer.data[1] | (answer.data[2] << 8));
}

void ReadPhoneProductInfo(WHandle handle, uint16_t channel, ProductInfo* phone) {
  *phone = ProductInfo{};

  LogMessage(channel, 1, kLogBfb, "BFB : getting SVN\n");
  BfbInfoAnswer answer;
  uint8_t svn = 0;
  if (requestCode(handle, kSoftwareVersion, &answer) && answer.length >= 2) svn = answer.data[1];
  std::snprintf(phone->version, sizeof phone->version, "SVN: %c%c", '0' + (svn >> 4),
                '0' + (svn & 0x0F));

  LogMessage(channel, 1, kLogBfb, "BFB : getting product type\n");
  answer = BfbInfoAnswer{};
  if (requestCode(handle, kProductType, &answer)) {
    copyCharacters(answer, sizeof phone->productType, phone->productType);
  }

  LogMessage(channel, 1, kLogBfb, "BFB : getting compile date\n");
  answer = BfbInfoAnswer{};
  if (requestCode(handle, kCompileDate, &answer)) {
    copyCharacters(answer, 8, phone->compileDate);
  }
}

int RequestPutCount(WHandle handle, PutCount* putCount) {
  BfbInfoAnswer answer;
  *putCount = PutCount{};
  if (!requestCode(handle, kPutCount, &answer) || answer.length < 5) return 0;
  putCount->count = static_cast<uint32_t>(answer.data[1]) |
                    static_cast<uint32_t>(answer.data[2]) << 8 |
                    static_cast<uint32_t>(answer.data[3]) << 16 |
                    static_cast<uint32_t>(answer.data[4]) << 24;
  if (answer.length > 5) {
    std::size_t count = std::min<std::size_t>(answer.length - 5u, 16);
    for (std::size_t i = 0; i < count && answer.data[5 + i] != 0; ++i) {
      putCount->directory[i] = static_cast<char>(answer.data[5 + i]);
    }
  }
  return 1;
}

int PutCountAllowsNewConcept(const PutCount& putCount) {
  char lower[sizeof putCount.directory] = "";
  for (std::size_t i = 0; i + 1 < sizeof lower && putCount.directory[i] != 0; ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(putCount.directory[i])));
  }
  for (const PutCountRow& row : kPutCountTable) {
    if (std::strncmp(lower, row.prefix, std::strlen(row.prefix)) == 0 &&
        putCount.count > row.threshold) {
      return 1;
    }
  }
  return 0;
}

int RequestCustomerReboot(WHandle handle, uint32_t speed) {
  uint8_t request[6] = {kCustomerReboot,
                        0x00,
                        static_cast<uint8_t>(speed & 0xFF),
                        static_cast<uint8_t>(speed >> 8 & 0xFF),
                        static_cast<uint8_t>(speed >> 16 & 0xFF),
                        static_cast<uint8_t>(speed >> 24 & 0xFF)};
  BfbInfoAnswer answer;
  return BfbInfoRequest(handle, request, sizeof request, &answer);
}

void ComposeStatusRecord(const XbiHeaderInfo& header, const uint8_t* previous, uint8_t* record) {
  std::memset(record, 0xFF, 64);
  record[2] = twoDigits(header.status_time, 0);
  record[3] = twoDigits(header.status_time, 3);
  record[4] = twoDigits(header.status_time, 6);
  record[5] = twoDigits(header.status_date, 6);
  record[6] = twoDigits(header.status_date, 3);
  record[7] = twoDigits(header.status_date, 0);
  record[8] = static_cast<uint8_t>(header.svn & 0xFF);
  record[9] = static_cast<uint8_t>(header.status_value >> 8 & 0xFF);
  record[10] = static_cast<uint8_t>(header.status_value & 0xFF);
  record[11] = static_cast<uint8_t>(kLibraryVersionMajor);
  record[12] = static_cast<uint8_t>(kLibraryVersionMinor);
  if (previous) std::memcpy(record + 13, previous + 2, 9);
}

}  // namespace dlx
