// The read container as the engine, the host's tools and the tests see it:
// the header record, its lists, the heap data and the signature material.
// Valid from a successful ReadXbiContainer until ReleaseXbiContainer.
#pragma once

#include <cstdint>

#include "doralex/types.h"

namespace dlx {

struct EraseArea {
  uint32_t start;
  uint32_t end;
  EraseArea* next;
};

struct SplitElement {
  uint32_t start;
  uint32_t end;
  uint32_t splitParameter;
  uint16_t splitNumber;
  uint32_t kind;  // 0 split only, 1 split and rest
  char name[20];  // 19 characters and the terminating zero
  SplitElement* next;
};

struct EraseInfoElement {
  uint8_t firstPart[48];
  uint8_t secondPart[32];
  EraseInfoElement* next;
};

struct LocaterEntry {
  uint32_t value[4];
  LocaterEntry* next;
};

struct DateTimePair {
  char date[9];
  char time[9];
};

// The library-wide record parsed from the container's header records.
struct XbiHeaderInfo {
  char compile_date[9];
  char compile_time[9];
  char status_date[9];
  char status_time[9];
  char project_name[9];
  char text22[45];
  char text26[17];
  char product_type[17];
  char text41[17];
  char text42[19];
  uint32_t file_type;
  uint16_t svn;
  uint32_t status_value;
  uint32_t value39;
  uint32_t bgj_address;
  uint16_t value36;
  uint32_t sw_size;
  LocaterEntry* locater_list;
  uint16_t required_library_version;
  char text112[17];   // not reset between passes
  uint8_t byte112;    // not reset between passes
  uint16_t header_version;
  uint8_t* aux_data;  // owned buffer
  uint32_t aux_data_capacity;
  uint32_t aux_data_filled;
  uint32_t aux_data_length;
  EraseArea* erase_area_list;
  EraseInfoElement* erase_info_list;
  uint32_t value49;
  uint32_t flash_code_request_value;
  uint16_t value51;
  uint32_t project_type;
  uint32_t value53;
  uint32_t language_group[4];
  uint32_t split_id;
  uint32_t split_address;
  uint32_t transfer_setup_value;
  uint32_t compression_mode;
  uint32_t compression_p1, compression_p2;
  uint16_t compression_p5, compression_p6, compression_p7;
  uint32_t compression_p3, compression_p4;
  DateTimePair pair59;  // not reset between passes
  DateTimePair pair60;  // not reset between passes
  char text61[9];       // not reset between passes
  char text62[11];      // not reset between passes
  uint16_t map_info_size;
  uint8_t* map_info;    // owned buffer
  uint32_t map_info_received;
  uint32_t map_info_complete;
  SplitElement* split_list;
  uint32_t hash_area_length;
};

// Sections of the container found by the reader.
struct HeapLayout {
  uint32_t totalLength;
  uint32_t signatureLength;  // S
  uint32_t headerLength;     // G
  uint32_t hashAreaLength;   // H
  uint32_t heapLength;
  bool prepared;
};

struct SignatureEntry {
  uint32_t keyId;
  uint16_t signatureLength;
  uint32_t framesLength;
  const uint8_t* frames;  // ready MI 0x60 command frames, sub-codes 3 and 4
};

struct HashList {
  uint8_t hashByte1;
  uint8_t hashByte2;
  uint16_t hashNumber1;
  uint16_t hashNumber2;
  uint32_t framesLength;
  const uint8_t* frames;  // ready MI 0x60 command frames, sub-codes 5 and 6
};

const XbiHeaderInfo& GetXbiHeaderInfo();
HeapLayout GetHeapLayout();
void FormatProductInfo(ProductInfo* info);

// Heap data still to send (advanced by SkipCommandBlocks), or nullptr when
// no container is prepared; and the number of its bytes the engine sends.
const uint8_t* GetHeapData();
uint32_t GetTransferLength();
int SkipCommandBlocks();

// Signature material; nullptr outside a read container or for an unknown key.
const SignatureEntry* GetSignatureEntry(uint32_t keyId);
int GetSignatureEntryCount();
const SignatureEntry* GetSignatureEntryAt(int index);
const HashList* GetHashList();

}  // namespace dlx
