#include "platform/profile_file.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <strings.h>

namespace platform {
namespace {

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool sameText(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A value in matching single or double quotes loses them, as profile readers do.
std::string unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t maxLength) {
  std::string value = defaultValue;
  std::ifstream file(path);
  std::string line;
  bool inSection = false;
  while (std::getline(file, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      inSection = close != std::string::npos && sameText(trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos || !sameText(trim(line.substr(0, equals)), key)) continue;
    value = unquote(trim(line.substr(equals + 1)));
    break;
  }
  if (value.size() > maxLength) value.resize(maxLength);
  return value;
}

std::string AddifastPath() {
  const char* file = std::getenv("UPDATETOOL_ADDIFAST");
  return file && *file ? file : "/etc/addifast.ini";
}

}  // namespace platform
