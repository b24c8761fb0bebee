// ReadXbiContainer and ReleaseXbiContainer: find the sections, parse the
// header, build the signature table and the hash list, check the heap data,
// fill the caller's ProductInfo and apply the acceptance tests.
#include "doralex/engine/xbi_read.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "doralex/container.h"
#include "doralex/container/hash_list.h"
#include "doralex/container/header_lists.h"
#include "doralex/container/heap_lib.h"
#include "doralex/container/payload_frames.h"
#include "doralex/container/signature_table.h"
#include "doralex/container/xbi_format.h"
#include "doralex/container/xbi_header.h"
#include "doralex/doralex.h"
#include "doralex/frame/errors.h"
#include "doralex/frame/library_state.h"

namespace dlx {
namespace {

constexpr uint16_t kOwnLibraryVersion = 230;  // 2.30

bool fileRead = false;
char readErrorText[300] = "";

// Pushes `code` to all error lists, keeps the formatted text, returns 0.
int refuse(uint32_t code, const char* descriptor, std::initializer_list<ErrorArg> values,
           const char* format, ...) __attribute__((format(printf, 4, 5)));

int refuse(uint32_t code, const char* descriptor, std::initializer_list<ErrorArg> values,
           const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(readErrorText, sizeof readErrorText, format, args);
  va_end(args);
  AddLibraryErrorToAll(code, descriptor, values);
  return 0;
}

bool acceptedProjectType(uint32_t type) { return type == 3 || type == 5 || type == 6; }

}  // namespace

const char* GetReadErrorText() { return readErrorText; }
bool XbiFileRead() { return fileRead; }

int ReadXbiContainer(ProductInfo* productInfo, const uint8_t* container, uint32_t length) {
  if (!LibraryStarted()) {
    return refuse(0x800, "", {}, "%s",
                  "Library and Executable have different Interface-Versions, Executable must be "
                  "compiled new !");
  }
  if (fileRead) return refuse(0x801, "", {}, "%s", "Alread a file read ! Please release first ! ");
  // Storage left by an earlier refused read belongs to no container any more.
  FreeSignatureStorage();
  FreeHashListStorage();

  int code = InitHeapForRead(container, length);
  if (code != 0) {
    return refuse(0x802, "d", {code}, "Error occured Initialization for READ : %d", code);
  }
  const HeapLayout layout = GetHeapLayout();
  const uint32_t s = layout.signatureLength;

  if (s > 0) {
    uint64_t size = uint64_t{s} + s / 3;
    if (size > UINT32_MAX || !AllocateSignatureStorage(static_cast<uint32_t>(size))) {
      uint32_t shown = static_cast<uint32_t>(size);
      return refuse(0x80F, "u", {shown}, "Could not allocate %lu Bytes for Signature",
                    static_cast<unsigned long>(size));
    }
    int result = BuildSignatureTable(container, s);
    if (result != 0) return refuse(0x809, "d", {result}, "%s", "Problem on reading Key File");
  }

  XbiHeaderInfo& info = MutableXbiHeaderInfo();
  uint32_t headerLength = 0;
  switch (int result = ParseXbiHeader(&headerLength, &info, container + s)) {
    case 0: break;
    case 1: return refuse(0x803, "", {}, "%s", "ChecksummError in HEADER of XBI-File !");
    case 2: return refuse(0x804, "", {}, "%s", "HeapLib not initialized ! ");
    case 3: return refuse(0x805, "", {}, "%s", "data len in heap zero, HeapLib initialized ?");
    default:
      return refuse(0x806, "d", {result}, "Strange Error :-)) Number %d !", result);
  }

  fileRead = true;

  if (!acceptedProjectType(info.project_type)) {
    return refuse(0x807, "", {}, "%s", "Current only RAVED-Projects supported ! ");
  }
  if (GetUpdateMode() != 1) return refuse(0x808, "", {}, "%s", "No Update-SW found !");
  InstallBuiltinManualPortOpener();

  const uint32_t h = info.hash_area_length;
  if (h != 0) {
    // The section walk placed the hash area within the container; an area
    // too short to hold its own head is refused before anything is built.
    if (h <= kHashAreaHeadLength || h != layout.hashAreaLength) {
      return refuse(0x809, "d", {1}, "%s", "Problem on reading Hash clusters");
    }
    const uint32_t listLength = h - kHashAreaHeadLength;
    uint64_t size = PayloadFramesLength(listLength);
    if (size > UINT32_MAX || !AllocateHashListStorage(static_cast<uint32_t>(size))) {
      return refuse(0x80F, "u", {listLength}, "Could not allocate %lu Bytes for Hash",
                    static_cast<unsigned long>(h));
    }
    int result = BuildHashList(container + s + headerLength, listLength);
    if (result != 0) return refuse(0x809, "d", {result}, "%s", "Problem on reading Hash clusters");
  }

  uint32_t transferLength = 0;
  if (int result = CheckHeapData(&transferLength, container + s); result != 0) {
    return refuse(0x809, "d", {result}, "Some Error : %d occured on reading XBI-Data", result);
  }

  FormatProductInfo(productInfo);

  if (info.required_library_version > kOwnLibraryVersion) {
    return refuse(0x80A, "", {}, "%s",
                  "Your version of DORALEX/LIBRARY is outdated !\n\rSoftware-Update not possible "
                  "!\n\rGet a new version !");
  }
  return 1;
}

int ReleaseXbiContainer() {
  // Lists and buffers are freed whether or not the header was fully read: a
  // refused parse leaves none behind, and freeing none is harmless.
  ReleaseHeaderLists(&MutableXbiHeaderInfo());
  fileRead = false;
  FreeSignatureStorage();
  FreeHashListStorage();
  return 1;
}

}  // namespace dlx
