// Consistency checks between the phone's software and the container's: the
// flash-size rule, the product/date/version rules put to the host, the
// difference-update rule and the split-ID rule. Each check records its own
// refusal (port error number, additional text, library error) and returns 0
// for a refusal, 1 to go on. The checks talk to the phone only through the
// hooks, so their decisions can be exercised without a port.
#pragma once

#include <cstdint>
#include <functional>

#include "doralex/container.h"
#include "doralex/types.h"

namespace dlx {

// Compile date of a block as calendar values (year with its century).
struct BlockDate {
  int year;
  int month;
  int day;
};

// The number formed by the decimal digits after "SVN: " in the version field
// (the hexadecimal text of an SVN such as 0x52 reads as 52).
uint16_t VersionNumber(const ProductInfo& block);
// Characters 0-1 day, 3-4 month, 6-7 year; a year of 90 or more is in the 1900s.
BlockDate ReadBlockDate(const ProductInfo& block);
bool IsEarlier(const BlockDate& a, const BlockDate& b);

// The phone's block from its software-version answer (message 0xC3): date,
// time, product type and "SVN: %X" of byte 32. Bytes beyond `length` count as 0.
ProductInfo PhoneProductInfo(const uint8_t* data, uint8_t length);

// Problem types passed to the consistency-problem callback.
constexpr int kProblemProduct = 1;
constexpr int kProblemVersion = 2;
constexpr int kProblemDate = 4;
constexpr int kProblemDateAndVersion = 6;

struct ConsistencyHooks {
  // Sends the phone's block time-out command (0xD0) with the given one-byte value.
  std::function<void(uint8_t value)> sendBlockTimeOut;
  // The host's consistency-problem callback; non-zero lets the update go on.
  std::function<int(const ProductInfo& phone, const ProductInfo& file, int problemType)> askHost;
  // The information callback installed with timing flag 1, or empty.
  std::function<int(const ProductInfo& phone, const ProductInfo& file)> inform;
};

int CheckFlashSize(int port, uint16_t channel, uint16_t flashMbit, uint32_t swSize);

// Product, date and version rules (every file type except 6), preceded by the
// information call when one is installed.
int CheckSoftwareRules(int port, uint16_t channel, const ProductInfo& phone,
                       const ProductInfo& file, const ConsistencyHooks& hooks);

// File type 6: the phone must run exactly the software the difference was
// made from (date/time pair 59).
int CheckDifferenceUpdate(int port, uint16_t channel, const ProductInfo& phone,
                          const DateTimePair& madeFrom);

// File types 4, 5 and 7: bytes 4..7 of the 0xC9 answer, big-endian.
int CheckSplitId(int port, uint16_t channel, const uint8_t* splitAnswer, uint32_t containerSplitId);

}  // namespace dlx
