// Information and control requests of the BFB session (frames of type 0x0E)
// and the rules it applies to their answers.
#pragma once

#include <cstdint>

#include "doralex/bfb/bfb_link.h"
#include "doralex/container.h"
#include "doralex/types.h"

namespace dlx {

struct BfbInfoAnswer {
  uint8_t length = 0;  // data bytes, the sub-code included
  uint8_t data[kBfbMaxData] = {};
};

// Sends the request and waits for a type-0x0E frame that starts with the
// request's sub-code. 1 when it came.
int BfbInfoRequest(WHandle handle, const uint8_t* request, uint8_t count, BfbInfoAnswer* answer);

// Battery voltage in mV; 0 without a usable answer.
uint16_t RequestVoltage(WHandle handle);

// The phone's software as the early check shows it: product type, "SVN: "
// with the two digits of its SVN byte, and compile date; fields without an
// answer stay empty (the SVN byte counts as 0).
void ReadPhoneProductInfo(WHandle handle, uint16_t channel, ProductInfo* phone);

struct PutCount {
  uint32_t count = 0;
  char directory[17] = "";  // at most 16 characters
};
int RequestPutCount(WHandle handle, PutCount* putCount);

// 1 when the lower-cased directory begins with a known prefix and the put
// count is above that row's threshold.
int PutCountAllowsNewConcept(const PutCount& putCount);

// Asks the phone to restart into its loader at `speed`.
int RequestCustomerReboot(WHandle handle, uint32_t speed);

// The status record left in the phone for the update: dates and versions of
// the container, bytes 2..10 of the phone's previous record (nullptr: none
// valid), 0xFF elsewhere. Bytes 1 and 63 are set when it is written.
void ComposeStatusRecord(const XbiHeaderInfo& header, const uint8_t* previous, uint8_t* record);

}  // namespace dlx
