#include "host/program_path.h"

#include <unistd.h>

#include <cctype>
#include <climits>

std::string ownProgramFile() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return {};
  return std::string(path, static_cast<size_t>(length));
}

namespace {

// Every mixture of upper and lower case counts as the extension.
bool containsExeExtension(std::string_view text) {
  constexpr std::string_view kExtension = ".exe";
  for (size_t at = 0; at + kExtension.size() <= text.size(); ++at) {
    bool match = true;
    for (size_t i = 0; match && i < kExtension.size(); ++i)
      match = std::tolower(static_cast<unsigned char>(text[at + i])) == kExtension[i];
    if (match) return true;
  }
  return false;
}

}  // namespace

std::string programPathFromCommandLine(std::string_view commandLine) {
  std::string path(commandLine);
  if (!path.empty() && path.front() == '"') {
    path.erase(path.rfind('"'));
    path.erase(0, 1);
  }
  if (!containsExeExtension(path)) path += ".exe";
  return path;
}
