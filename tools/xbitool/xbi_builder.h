// Writes XBI containers from a JSON description (docs/xbitool.md). This is
// the writer's side of the format and shares no code with the library's
// reader, so that a misreading on either side shows up in the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace xbitool {

// A description that cannot be built (unknown field value, bad hex, ...).
class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct BuiltContainer {
  std::vector<uint8_t> bytes;
  uint32_t signatureLength = 0;  // S
  uint32_t headerLength = 0;     // G
  uint32_t hashAreaLength = 0;   // H
  std::vector<uint32_t> recordOffsets;  // each header record, from the container start
  std::vector<uint32_t> blockOffsets;   // each heap block, from the container start
};

// `baseDir` resolves relative image file names.
BuiltContainer BuildContainer(const nlohmann::json& description,
                              const std::filesystem::path& baseDir = {});

}  // namespace xbitool
