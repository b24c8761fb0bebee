// The phone's flash as the loader wrote it. Erased or never written bytes
// read 0xFF. The image file is flat: byte n of the file is flash address n,
// from address 0 up to the end of the highest byte ever written.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace phonesim {

// Lower-case hexadecimal SHA-256 of the bytes.
std::string Sha256Hex(const uint8_t* data, size_t length);

class FlashImage {
 public:
  void Write(uint32_t address, const uint8_t* data, size_t length);
  void Erase(uint32_t first, uint32_t length);  // back to 0xFF; the extent stays
  void EraseAll();

  // The flat image (address 0 up to the highest written byte).
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Written ranges, merged where they touch: address -> length.
  const std::map<uint32_t, uint32_t>& ranges() const { return ranges_; }
  uint8_t At(uint32_t address) const { return address < bytes_.size() ? bytes_[address] : 0xFF; }
  std::string Sha256Hex() const;
  bool SaveFile(const std::string& path, std::string* error) const;

 private:
  std::vector<uint8_t> bytes_;
  std::map<uint32_t, uint32_t> ranges_;
};

}  // namespace phonesim
