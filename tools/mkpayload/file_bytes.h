// Whole-file reads of the tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkpayload {
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
}
