#include "phonesim/flash_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <openssl/evp.h>

namespace phonesim {

void FlashImage::Write(uint32_t address, const uint8_t* data, size_t length) {
  if (length == 0) return;
  const size_t end = static_cast<size_t>(address) + length;
  if (bytes_.size() < end) bytes_.resize(end, 0xFF);
  std::memcpy(bytes_.data() + address, data, length);

  // Merge [address, end) into the range list.
  uint32_t start = address;
  size_t stop = end;
  auto it = ranges_.upper_bound(address);
  if (it != ranges_.begin()) {
    auto prev = std::prev(it);
    if (static_cast<size_t>(prev->first) + prev->second >= address) it = prev;
  }
  while (it != ranges_.end() && it->first <= stop) {
    start = std::min(start, it->first);
    stop = std::max(stop, static_cast<size_t>(it->first) + it->second);
    it = ranges_.erase(it);
  }
  ranges_[start] = static_cast<uint32_t>(stop - start);
}

void FlashImage::Erase(uint32_t first, uint32_t length) {
  const size_t end = std::min(static_cast<size_t>(first) + length, bytes_.size());
  for (size_t a = first; a < end; ++a) bytes_[a] = 0xFF;
  // Cut the erased span out of the written ranges.
  const size_t cut_end = static_cast<size_t>(first) + length;
  std::map<uint32_t, uint32_t> kept;
  for (const auto& [start, len] : ranges_) {
    const size_t stop = static_cast<size_t>(start) + len;
    if (stop <= first || start >= cut_end) {
      kept[start] = len;
      continue;
    }
    if (start < first) kept[start] = first - start;
    if (stop > cut_end) kept[static_cast<uint32_t>(cut_end)] = static_cast<uint32_t>(stop - cut_end);
  }
  ranges_ = std::move(kept);
}

void FlashImage::EraseAll() {
  std::fill(bytes_.begin(), bytes_.end(), 0xFF);
  ranges_.clear();
}

std::string FlashImage::Sha256Hex() const { return phonesim::Sha256Hex(bytes_.data(), bytes_.size()); }

std::string Sha256Hex(const uint8_t* data, size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_len = 0;
  EVP_Digest(data, length, digest, &digest_len, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < digest_len; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

bool FlashImage::SaveFile(const std::string& path, std::string* error) const {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = bytes_.empty() || std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
  const bool closed = std::fclose(f) == 0;
  if (!(ok && closed) && error) *error = "cannot write " + path;
  return ok && closed;
}

}  // namespace phonesim
