// Signature negotiation with the phone's loader (module wseril3): the loader
// names the key it trusts, the PC sends the signature made with that key and
// then the hash list, and the loader verifies both before the transfer.
#include <cstdint>

#include "doralex/container.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/loader_commands.h"
#include "doralex/serial/wseril2.h"
#include "doralex/serial/wseril3.h"

namespace dlx {
namespace {

constexpr uint8_t kAnswerMi = 0x61;
constexpr uint32_t kInitAnswerMs = 100;
constexpr uint32_t kFrameAnswerMs = 5000;
constexpr uint32_t kSignatureAnswerMs = 6000;
constexpr uint32_t kHashListAnswerMs = 10000;

constexpr uint8_t kNeedsNoSignature = 1;
constexpr uint8_t kSignatureRequested = 2;
constexpr uint8_t kSignatureUnsupported = 3;
constexpr uint8_t kSignatureAccepted = 4;
constexpr uint8_t kSignatureRejected = 5;
constexpr uint8_t kHashListAccepted = 6;
constexpr uint8_t kHashListRejected = 7;
constexpr uint8_t kHashListVerified = 8;

constexpr uint32_t kNegotiationFailure = 0x309;

struct StreamProgress {
  uint16_t channel;
  uint32_t total;
  const char* what;  // "Signature" or "HashList"
};

void LogStreamProgress(void* context, uint32_t bytesSent) {
  const auto* stream = static_cast<const StreamProgress*>(context);
  const uint32_t left = bytesSent < stream->total ? stream->total - bytesSent : 0;
  LogMessage(stream->channel, 1, kLogUpdate, "%s progress: %u Bytes To Transfer \n", stream->what, left);
}

}  // namespace

int NegotiateSignature(int port, int* negotiationState) {
  const uint16_t channel = FindChannel(port);
  *negotiationState = 0;
  LogMessage(channel, 1, kLogUpdate, "Sign. Negotiation Init\n");

  const HashList* hashList = GetHashList();
  if (!hashList) {
    LogMessage(channel, 1, kLogUpdate, "Attention No Hash Data\n");
    *negotiationState = 1;
    return 1;
  }

  const uint8_t init[6] = {0x01,
                           hashList->hashByte1,
                           static_cast<uint8_t>(hashList->hashNumber2 & 0xFF),
                           static_cast<uint8_t>(hashList->hashNumber2 >> 8),
                           static_cast<uint8_t>(hashList->hashNumber1 & 0xFF),
                           static_cast<uint8_t>(hashList->hashNumber1 >> 8)};
  if (!SendSignatureCommand(port, init, sizeof init)) {
    // An older loader without the exchange: the update goes on unsigned.
    AddLibraryError(channel, kNegotiationFailure, "X", {0xF0});
    return 1;
  }

  *negotiationState = 1;
  LogMessage(channel, 1, kLogUpdate, "Signature requested ? \n");
  LoaderFrame answer{};
  if (!WaitForMessage(port, &answer, kAnswerMi, kInitAnswerMs)) {
    DLX_SET_ERROR(port, 50, wseril3);
    AddLibraryError(channel, kNegotiationFailure, "X", {0xF1});
    return 0;
  }

  switch (answer.data[0]) {
    case kNeedsNoSignature:
      *negotiationState = 2;
      return 1;
    case kSignatureUnsupported:
      AddLibraryError(channel, 0x306);
      *negotiationState = 3;
      return 0;
    case kSignatureRequested:
      break;
    default:
      LogMessage(channel, 1, kLogUpdate, "Wrong result after Signature request");
      SetAdditionalErrorInfo(port, "Wrong result after Signature request");
      AddLibraryError(channel, kNegotiationFailure, "X", {static_cast<int32_t>(answer.data[0])});
      return 0;
  }

  *negotiationState = 3;
  const uint8_t* key = answer.data + 2;
  LogMessage(channel, 1, kLogUpdate, "Signature requested KeyID: %02x-%02x-%02x-%02x \n", key[0], key[1],
             key[2], key[3]);
  LogMessage(channel, 1, kLogUpdate, "Signature selection \n");
  const uint32_t keyId = static_cast<uint32_t>(key[0]) << 24 | static_cast<uint32_t>(key[1]) << 16 |
                         static_cast<uint32_t>(key[2]) << 8 | key[3];
  const SignatureEntry* entry = GetSignatureEntry(keyId);
  if (!entry) {
    LogMessage(channel, 1, kLogUpdate, "No Signature for requested key found !\n");
    SetAdditionalErrorInfo(port, "No Signature Available");
    AddLibraryError(channel, 0x307);
    const uint8_t noSignature[2] = {0x02, 0x00};
    SendSignatureCommand(port, noSignature, sizeof noSignature);
    return 0;
  }

  LogMessage(channel, 1, kLogUpdate, "Signature transmission \n");
  const uint8_t select[8] = {0x02,   0x01,   key[0], key[1], key[2], key[3],
                             static_cast<uint8_t>(entry->signatureLength & 0xFF),
                             static_cast<uint8_t>(entry->signatureLength >> 8)};
  if (!SendSignatureCommand(port, select, sizeof select)) {
    SetAdditionalErrorInfo(port, "Signature trasmission start failed ");
    AddLibraryError(channel, kNegotiationFailure, "X", {0xF3});
    return 0;
  }

  StreamProgress signatureProgress{channel, entry->framesLength, "Signature"};
  if (!TransmitBlocks(port, entry->frames, entry->framesLength, kFrameAnswerMs, &signatureProgress,
                      &LogStreamProgress)) {
    SetAdditionalErrorInfo(port, "Signature transmission aborted");
    AddLibraryError(channel, kNegotiationFailure, "X", {0xF4});
    return 0;
  }

  if (!WaitForMessage(port, &answer, kAnswerMi, kSignatureAnswerMs)) {
    SetAdditionalErrorInfo(port, "No Acknowledge after signature transmission");
    DLX_SET_ERROR(port, 50, wseril3);
    AddLibraryError(channel, kNegotiationFailure, "X", {0xF5});
    return 0;
  }
  if (answer.data[0] == kSignatureRejected) {
    AddLibraryError(channel, 0x308);
    SetAdditionalErrorInfo(port, "Signature rejected");
    return 0;
  }
  if (answer.data[0] != kSignatureAccepted) {
    AddLibraryError(channel, kNegotiationFailure, "X", {answer.data[0] + 0x20});
    SetAdditionalErrorInfo(port, "Wrong response after signature transmission");
    return 0;
  }

  LogMessage(channel, 1, kLogUpdate, "Signature accepted \n");
  LogMessage(channel, 1, kLogUpdate, "Hashlist transmission \n");
  StreamProgress hashProgress{channel, hashList->framesLength, "HashList"};
  if (!TransmitBlocks(port, hashList->frames, hashList->framesLength, kFrameAnswerMs, &hashProgress,
                      &LogStreamProgress)) {
    SetAdditionalErrorInfo(port, "Hash list transmission aborted");
    return 0;
  }

  if (!WaitForMessage(port, &answer, kAnswerMi, kHashListAnswerMs)) {
    SetAdditionalErrorInfo(port, "No Acknowledge after hashlist transmission");
    DLX_SET_ERROR(port, 50, wseril3);
    AddLibraryError(channel, 0x602);
    return 0;
  }
  if (answer.data[0] == kHashListRejected) {
    AddLibraryError(channel, 0x308);
    SetAdditionalErrorInfo(port, "Hashlist rejected");
    return 0;
  }
  if (answer.data[0] != kHashListAccepted && answer.data[0] != kHashListVerified) {
    AddLibraryError(channel, kNegotiationFailure, "X", {answer.data[0] + 0x40});
    SetAdditionalErrorInfo(port, "Wrong response after hashlist transmission ");
    return 0;
  }

  LogMessage(channel, 1, kLogUpdate, "Hashlist accepted, verification successfully done \n");
  *negotiationState = 4;
  LogMessage(channel, 1, kLogUpdate, "Signature negotiated\n");
  return 1;
}

}  // namespace dlx
