// The container's ProductInfo: fixed-width, zero-padded text fields.
#include <cstdio>
#include <cstring>

#include "doralex/container.h"

namespace dlx {
namespace {

// Copies at most the field's width; shorter texts are zero-padded. A text
// that fills the field (a 16-character product type) has no terminating
// zero inside it: readers take the field with its width.
template <std::size_t N>
void putField(char (&field)[N], const char* text) {
  std::size_t n = strnlen(text, N);
  std::memset(field, 0, N);
  std::memcpy(field, text, n);
}

const char* fileTypeName(uint32_t fileType) {
  static const char* const names[] = {"MobSw",     "Eesimu",        "Voice Memo", "Code Only",
                                      "Lang Only", "Code and Lang", "DiffFile",   "Extended New Split"};
  return fileType < 8 ? names[fileType] : nullptr;
}

}  // namespace

void FormatProductInfo(ProductInfo* out) {
  if (!out) return;
  const XbiHeaderInfo& info = GetXbiHeaderInfo();
  putField(out->productType, info.product_type);
  putField(out->projectName, info.project_name);
  char version[sizeof out->version];
  std::snprintf(version, sizeof version, "SVN: %X", static_cast<unsigned>(info.svn));
  putField(out->version, version);
  putField(out->compileDate, info.compile_date);
  putField(out->compileTime, info.compile_time);
  // Values without a name leave the field as it was.
  if (const char* name = fileTypeName(info.file_type)) putField(out->fileType, name);

  const SplitElement* first = info.split_list;
  if (!first) {
    putField(out->splitMode, "No Split File");
    putField(out->splitName, "No Split File");
    return;
  }
  if (first->kind == 0) putField(out->splitMode, "Split Only");
  if (first->kind == 1) putField(out->splitMode, "Split and Rest");
  putField(out->splitName, first->name);
}

}  // namespace dlx
