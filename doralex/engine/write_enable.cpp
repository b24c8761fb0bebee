// Block-by-block write enabling for a new-split update: only the flash blocks
// the split list touches are opened for writing.
#include <array>
#include <new>
#include <strings.h>

#include "doralex/container.h"
#include "doralex/engine/update_sequence.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"
#include "doralex/serial/loader_commands.h"

namespace dlx {
namespace {

// Projects whose loaders enable whole 64 KiB blocks only.
constexpr std::array<const char*, 8> kAlignedProjects = {
    "kq71mu", "rq71mu", "kq71zo", "rq71zo", "kq71mua", "rq71mua", "kq88w", "rq88w"};

}  // namespace

bool UsesBlockAlignment(const char* projectName) {
  for (const char* project : kAlignedProjects) {
    if (strcasecmp(project, projectName) == 0) return true;
  }
  return false;
}

std::vector<Range> SplitEnableRanges(const SplitElement* splitList, const char* projectName) {
  const bool aligned = UsesBlockAlignment(projectName);
  std::vector<Range> ranges;
  for (const SplitElement* element = splitList; element; element = element->next) {
    Range range{element->start, element->end};
    if (aligned) {
      range.first &= 0xFFFF0000u;
      range.last |= 0x0000FFFFu;
    }
    ranges.push_back(range);
  }
  return ranges;
}

int EnableWriteBlockByBlock(int port, uint16_t channel) {
  const XbiHeaderInfo& header = GetXbiHeaderInfo();
  std::vector<Range> addressRanges;
  try {
    addressRanges = SplitEnableRanges(header.split_list, header.project_name);
  } catch (const std::bad_alloc&) {
    LogMessage(channel, 3, kLogUpdate, "malloc error...");
    AddLibraryError(channel, 0x60F);
    return 0;
  }

  std::vector<Range> blockRanges;
  uint16_t total = 0;
  if (!EraseAreas(port, &blockRanges, addressRanges, &total)) return 0;

  for (const Range& blocks : blockRanges) {
    for (uint32_t block = blocks.first; block <= blocks.last; ++block) {
      LogMessage(channel, 1, kLogUpdate, "Sending Update-Block: %d \n", static_cast<int>(block));
      if (!EnableFlashWriteBlock(port, static_cast<uint16_t>(block))) {
        DLX_SET_ERROR(port, 206, swupwork);
        AddLibraryError(channel, 0x610);
        return 0;
      }
    }
  }
  return 1;
}

}  // namespace dlx
