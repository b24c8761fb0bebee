#include "doralex/container/xbi_header.h"

#include <algorithm>
#include <cstring>

#include "doralex/container/header_lists.h"
#include "doralex/container/heap_lib.h"
#include "doralex/container/scramble.h"
#include "doralex/container/xbi_format.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/log.h"

namespace dlx {
namespace {

constexpr uint16_t kFullDescramblingVersion = 95;

XbiHeaderInfo headerInfo{};

enum class Pass { first, second };
enum class Scrambling { none, pass, full };

struct ParseState {
  EraseInfoElement* currentEraseInfo;  // the element a record 46 completes
};

Scrambling scramblingOf(uint8_t type) {
  switch (type) {
    case 18: case 19: case 22: case 23: case 26: case 32: case 40: case 41: case 42:
      return Scrambling::pass;
    case 45: case 46: case 59: case 60: case 61: case 62: case 84:
      return Scrambling::full;
    default:
      return Scrambling::none;
  }
}

// Everything except the fields that keep their value from pass to pass
// (and from read to read): record 112 and the records 59 to 62.
void resetHeaderInfo(XbiHeaderInfo* info) {
  XbiHeaderInfo kept = *info;
  *info = XbiHeaderInfo{};
  std::memcpy(info->text112, kept.text112, sizeof info->text112);
  info->byte112 = kept.byte112;
  info->pair59 = kept.pair59;
  info->pair60 = kept.pair60;
  std::memcpy(info->text61, kept.text61, sizeof info->text61);
  std::memcpy(info->text62, kept.text62, sizeof info->text62);
  info->required_library_version = 9999;
  info->split_id = 0xFFFFFFFF;
  info->split_address = 0x7FFE0;
  info->transfer_setup_value = 1;
  info->compression_p3 = 2;
  info->compression_p4 = 2;
}

// The record data as characters, cut to the field's capacity.
template <std::size_t N>
void copyText(char (&field)[N], const uint8_t* data, uint32_t length) {
  uint32_t n = std::min<uint32_t>(length, N - 1);
  std::memcpy(field, data, n);
  field[n] = '\0';
}

// 17 bytes: 8 characters, a separator, 8 characters.
void copyDateTime(char (&date)[9], char (&time)[9], const uint8_t* data) {
  copyText(date, data, 8);
  copyText(time, data + 9, 8);
}

int listFailure(uint32_t code, const char* logText, const char* heapText) {
  LogMessage(0, 2, kLogContainer, "%s", logText);
  if (heapText) SetHeapErrorText("%s", heapText);
  AddLibraryErrorToAll(code);
  return 7;
}

// Applies one record. `data` is a zero-padded copy of the record data,
// already descrambled; numbers beyond a short record's data read as 0.
// Returns 0 or 7.
int applyRecord(XbiHeaderInfo* info, ParseState* state, uint8_t type, const uint8_t* data,
                uint32_t length) {
  switch (type) {
    case 16: info->header_version = static_cast<uint16_t>(100 * data[0] + data[1]); break;
    case 17: info->required_library_version = static_cast<uint16_t>(100 * data[0] + data[1]); break;
    case 18: copyDateTime(info->compile_date, info->compile_time, data); break;
    case 19: copyDateTime(info->status_date, info->status_time, data); break;
    case 20: {
      uint32_t values[4] = {ReadBe16(data), ReadBe16(data + 2), ReadBe16(data + 4), ReadBe16(data + 6)};
      if (!AppendLocaterEntry(values)) {
        return listFailure(0x904, "error mallocing heap for locater entry!",
                           "\nerror mallocing heap for locater entry!");
      }
      break;
    }
    case 21: AttachLocaterList(info); break;
    case 22: copyText(info->text22, data, length); break;
    case 23: copyText(info->project_name, data, length); break;
    case 26: copyText(info->text26, data, length); break;
    case 27: info->status_value = ReadBe32(data); break;
    case 29: info->svn = ReadBe16(data); break;
    case 32: AppendAuxChunk(info, data, length); break;
    case 33: info->aux_data_length = info->aux_data_filled; break;
    case 34: CreateAuxBuffer(info, ReadBe32(data), HeapBytesFromHeader()); break;
    case 35: info->sw_size = ReadBe32(data); break;
    case 36: info->value36 = ReadBe16(data); break;
    case 37: info->bgj_address = ReadBe32(data); break;
    case 39: info->value39 = ReadBe32(data); break;
    case 40: copyText(info->product_type, data, length); break;
    case 41: copyText(info->text41, data, length); break;
    case 42: copyText(info->text42, data, length); break;
    case 45: {
      EraseInfoElement* element = AppendEraseInfoElement(info);
      if (!element) {
        return listFailure(0x900, "can't add element for erase info!",
                           "\ncould not add element to list!");
      }
      std::memcpy(element->firstPart, data, std::min<uint32_t>(length, sizeof element->firstPart));
      state->currentEraseInfo = element;
      break;
    }
    case 46:
      if (!state->currentEraseInfo) {
        return listFailure(0x901, "could not copy element to list!",
                           "\ncould not copy element to list!");
      }
      std::memcpy(state->currentEraseInfo->secondPart, data,
                  std::min<uint32_t>(length, sizeof state->currentEraseInfo->secondPart));
      break;
    case 48:
      if (AppendEraseArea(info, ReadBe32(data), ReadBe32(data + 4)) != 0) {
        return listFailure(0x900, "can't add element for erase info!",
                           "\n can't add element to list");
      }
      break;
    case 49: info->value49 = data[0]; break;
    case 50: info->flash_code_request_value = data[0]; break;
    case 51: info->value51 = ReadBe16(data); break;
    case 52: info->project_type = data[0]; break;
    case 53: info->value53 = data[0]; break;
    case 54:
      for (int i = 0; i < 4; ++i) info->language_group[i] = ReadBe32(data + 4 * i);
      break;
    case 55:
      info->split_address = ReadBe32(data);
      info->split_id = ReadBe32(data + 4);
      break;
    case 56: info->transfer_setup_value = ReadBe16(data); break;
    case 57: info->compression_mode = data[0]; break;
    case 58:
      info->compression_p1 = ReadBe16(data);
      info->compression_p2 = ReadBe16(data + 2);
      info->compression_p3 = data[4];
      info->compression_p4 = data[5];
      info->compression_p5 = ReadBe16(data + 6);
      info->compression_p6 = ReadBe16(data + 8);
      info->compression_p7 = ReadBe16(data + 10);
      break;
    case 59: copyDateTime(info->pair59.date, info->pair59.time, data); break;
    case 60: copyDateTime(info->pair60.date, info->pair60.time, data); break;
    case 61: copyText(info->text61, data, length); break;
    case 62: copyText(info->text62, data, length); break;
    case 64: info->file_type = data[0]; break;
    case 80:
      if (!CreateMapInfo(info, ReadBe16(data))) {
        return listFailure(0x902, "can't malloc heap for add. map info!",
                           "\nerror malloc heap for map-info !");
      }
      break;
    case 81:
      if (!AppendMapInfo(info, data, length)) {
        return listFailure(0x903, "more map info in xbi header as expected!",
                           "\nmore map info in xbi header as expected!!");
      }
      break;
    case 82:
      if (info->map_info_received != info->map_info_size) {
        return listFailure(0x903, "more map info in xbi header as expected!",
                           "\nmore map info in xbi header as expected!!");
      }
      info->map_info_complete = 1;
      break;
    case 83: {
      SplitElement element{};
      element.start = ReadBe32(data);
      element.end = ReadBe32(data + 4);
      element.splitParameter = ReadBe32(data + 8);
      element.splitNumber = ReadBe16(data + 12);
      element.kind = ReadBe16(data + 14);
      if (SplitElementInsert(info, element) != 0) {
        return listFailure(0x905, "SplitElementInsert returns error!",
                           "\nSplitElementInsert returns error!");
      }
      break;
    }
    case 84:
      if (info->split_list) {
        SplitElement* last = info->split_list;
        while (last->next) last = last->next;
        copyText(last->name, data, length);
      }
      break;
    case 86: info->hash_area_length = DecodeHashAreaLength(data); break;
    case 112:
      info->byte112 = data[0];
      copyText(info->text112, data + 1, length ? length - 1 : 0);
      break;
    default:
      break;  // record 4 ends the header; other types carry nothing for us
  }
  return 0;
}

// One pass over the header. 0 parsed (*headerLength set), 1 or 7.
int parsePass(uint32_t* headerLength, XbiHeaderInfo* info, const uint8_t* xbi, uint32_t available,
              Pass pass) {
  ReleaseHeaderLists(info);
  resetHeaderInfo(info);
  ParseState state{nullptr};
  if (!HasXbiPreamble(xbi, available, 0)) return 1;

  uint32_t length = kXbiPreambleLength;
  for (;;) {
    HeaderRecord record;
    if (!ReadHeaderRecord(xbi + length, available - length, &record)) return 1;
    length += record.size;

    // The container's bytes are never written: descramble a copy, padded
    // with zeros so that a short record's missing bytes read as 0.
    uint8_t data[kMaxRecordLength] = {};
    std::memcpy(data, record.data, record.dataLength);
    switch (scramblingOf(record.type)) {
      case Scrambling::pass:
        if (pass == Pass::first) {
          DescrambleFull(data, record.dataLength);
        } else {
          DescrambleHalf(data, record.dataLength);
        }
        break;
      case Scrambling::full: DescrambleFull(data, record.dataLength); break;
      case Scrambling::none: break;
    }
    if (applyRecord(info, &state, record.type, data, record.dataLength) != 0) return 7;
    if (record.type == kEndRecordType) {
      *headerLength = length;
      return 0;
    }
  }
}

}  // namespace

XbiHeaderInfo& MutableXbiHeaderInfo() { return headerInfo; }
const XbiHeaderInfo& GetXbiHeaderInfo() { return headerInfo; }

int ParseXbiHeader(uint32_t* headerLength, XbiHeaderInfo* info, const uint8_t* xbi) {
  if (!HeapPreparedForRead()) return 2;
  if (HeapTotalLength() == 0) return 3;
  const uint32_t available = HeapBytesFromHeader();

  uint32_t length = 0;
  int result = parsePass(&length, info, xbi, available, Pass::first);
  // Older headers scramble their texts over the first half only; that is
  // known only once the whole header (and its record 16) has been read.
  if (result == 0 && info->header_version < kFullDescramblingVersion) {
    result = parsePass(&length, info, xbi, available, Pass::second);
  }
  if (result != 0) {
    ReleaseHeaderLists(info);
    return result;
  }
  *headerLength = length;
  return 0;
}

}  // namespace dlx
