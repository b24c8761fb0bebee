#include "tools/mkpayload/file_bytes.h"

#include <cstdio>
#include <memory>

namespace mkpayload {

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  struct Close {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Close> file(std::fopen(path.c_str(), "rb"));
  bytes.clear();
  if (file) {
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    if (!std::ferror(file.get())) return true;
  }
  error = "cannot read " + path;
  return false;
}

}  // namespace mkpayload
