// Read access to INI-style profile files such as "addifast.ini".
#pragma once

#include <string>

namespace platform {

// Value of `key` in `[section]` of the file at `path` (section and key
// compared without regard to case), at most `maxLength` characters; the
// default when the file, the section or the key is missing.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t maxLength);

// Where "addifast.ini" lives: the file named by UPDATETOOL_ADDIFAST, else
// /etc/addifast.ini.
std::string AddifastPath();

}  // namespace platform
