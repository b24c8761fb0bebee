// Composite flash-loader exchanges: streaming the transfer image, erasing by
// block list or by the phone's own routine, hashing start and the additional
// information.
#include "doralex/serial/wseril3.h"

#include <atomic>
#include <new>

#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/loader_commands.h"
#include "doralex/serial/wseril1.h"
#include "doralex/serial/wseril2.h"

namespace dlx {
namespace {

constexpr uint32_t kProgressStep = 0x1000;
constexpr uint32_t kEraseAreaAnswerMs = 1000;
constexpr uint32_t kEraseBlockAnswerMs = 10000;
constexpr uint32_t kEraseNewConceptAnswerMs = 500000;
constexpr uint8_t kAdditionalInfoChunk = 62;
constexpr int kNegotiated = 4;
constexpr int kHashingStarted = 5;

// The erase progress of the new concept: one function for the process, the
// error channel per port (the handler only learns the port).
std::atomic<EraseProgressFn> eraseProgress{nullptr};
std::atomic<uint16_t> eraseChannel[kPortCount];

int eraseProgressHandler(int port, uint8_t /*mi*/, uint8_t /*length*/, const uint8_t* data) {
  EraseProgressFn progress = eraseProgress.load();
  if (progress && ComPortIndexValid(port)) progress(eraseChannel[port].load(), data[0], data[1]);
  return 1;  // progress never ends the wait
}

}  // namespace

int TransmitBlocks(int port, const uint8_t* image, uint32_t length, uint32_t answerTimeoutMs,
                   void* context, TransmitProgressFn progress) {
  const uint16_t channel = FindChannel(port);
  LogMessage(channel, 1, kLogUpdate, "Starting Data-Transmission\n");
  int result = 1;
  uint32_t offset = 0;
  uint32_t reported = 0;
  while (offset < length) {
    const uint32_t left = length - offset;
    // A block must lie wholly inside the image: a cut-off image is refused
    // before its last block is read past the end.
    if (left < 4 || left < image[offset + 3] + 5u) {
      AddLibraryError(channel, 0x909);
      result = 0;
      break;
    }
    uint32_t sent = 0;
    result = SendBlock(port, image + offset, answerTimeoutMs, &sent);
    if (!result) break;
    offset += sent;
    if (offset - reported > kProgressStep) {
      reported = offset;
      if (progress) progress(context, offset);
    }
  }
  LogMessage(channel, 1, kLogUpdate, "Data-Transmission finished\n");
  if (progress) progress(context, offset);
  return result;
}

int EraseAreas(int port, std::vector<Range>* blockRanges, const std::vector<Range>& addressRanges,
               uint16_t* total) {
  const uint16_t channel = FindChannel(port);
  *total = 0;
  blockRanges->clear();
  for (const Range& area : addressRanges) {
    try {
      blockRanges->push_back(Range{0, 0});
    } catch (const std::bad_alloc&) {
      DLX_SET_ERROR(port, 202, wseril3);
      AddLibraryError(channel, 0x303);
      blockRanges->clear();
      return 0;
    }
    DLX_SET_ERROR(port, 203, wseril3);
    RequestEraseBlocks(port, area.first, area.last);
    LoaderFrame answer{};
    if (!WaitForMessage(port, &answer, 0x54, kEraseAreaAnswerMs)) {
      blockRanges->clear();
      AddLibraryError(channel, 0x305);
      return 0;
    }
    if (answer.data[0] == 0x00) {
      Range& blocks = blockRanges->back();
      blocks.first = answer.data[1];
      blocks.last = answer.data[2];
      // A range the phone gives backwards holds no block (and must not wrap the total).
      if (blocks.last >= blocks.first) {
        *total = static_cast<uint16_t>(*total + blocks.last - blocks.first + 1);
      }
      continue;
    }
    blockRanges->clear();
    if (answer.data[0] == 0xFF) {
      DLX_SET_ERROR(port, 204, wseril3);
      SetAdditionalErrorInfo(port, "Wrong Erase-Adress, not possible from %lXh to %lXh",
                             static_cast<unsigned long>(area.first),
                             static_cast<unsigned long>(area.last));
      AddLibraryError(channel, 0x302, "xx", {area.first, area.last});
    } else {
      DLX_SET_ERROR(port, 205, wseril3);
      AddLibraryError(channel, 0x304);
    }
    return 0;
  }
  return 1;
}

int EraseBlocks(int port, const std::vector<Range>& blockRanges, uint16_t channel, uint16_t total,
                EraseProgressFn progress) {
  uint16_t done = 0;
  for (const Range& range : blockRanges) {
    // 64-bit, so that a range ending at the largest block number still ends.
    for (uint64_t block = range.first; block <= range.last; ++block) {
      LogMessage(channel, 2, kLogUpdate, "Sending Erase-Block: %d \n", static_cast<int>(block));
      if (!EraseFlashBlock(port, static_cast<uint8_t>(block))) {
        DLX_SET_ERROR(port, 201, wseril3);
        AddLibraryError(channel, 0x301);
        return 0;
      }
      LoaderFrame answer{};
      if (!WaitForMessage(port, &answer, 0x56, kEraseBlockAnswerMs)) {
        DLX_SET_ERROR(port, 200, wseril3);
        AddLibraryError(channel, 0x300);
        return 0;
      }
      ++done;
      if (progress) progress(channel, total, done);
    }
  }
  return 1;
}

int EraseNewConcept(int port, uint16_t channel, EraseProgressFn progress) {
  eraseProgress.store(progress);
  if (ComPortIndexValid(port)) eraseChannel[port].store(channel);
  RegisterHandler(0x5A, eraseProgressHandler);

  SendEraseNewConcept(port);  // the answer frame decides
  LoaderFrame answer{};
  if (!WaitForMessage(port, &answer, 0x5B, kEraseNewConceptAnswerMs)) {
    DLX_SET_ERROR(port, 200, wseril3);
    AddLibraryError(channel, 0x300);
    return 0;
  }
  return answer.data[0] == 0xAA ? 0 : 1;  // 0xAA: the phone did not erase
}

int StartHashing(int port, int* negotiationState) {
  if (*negotiationState != kNegotiated) return 1;
  *negotiationState = kHashingStarted;
  LogMessage(FindChannel(port), 1, kLogUpdate, "Sending Start-Hashing-Message\n");
  const uint8_t startHashing = 0x07;
  return SendSignatureCommand(port, &startHashing, 1);
}

int SendAdditionalInfo(int port, const uint8_t* data, uint16_t length) {
  if (!SendAdditionalInfoLength(port, length)) return 0;
  for (uint32_t offset = 0; offset < length; offset += kAdditionalInfoChunk) {
    const uint32_t left = length - offset;
    const uint8_t count = static_cast<uint8_t>(left < kAdditionalInfoChunk ? left : kAdditionalInfoChunk);
    if (!SendAdditionalInfoChunk(port, data + offset, count)) return 0;
  }
  return SendAdditionalInfoEnd(port);
}

}  // namespace dlx
