// Process-wide named mutexes: created once by name, opened again by name
// anywhere in the process, never destroyed while the program runs.
#pragma once

#include <mutex>
#include <string>

namespace platform {

// Creates the mutex `name` unless it exists (not owned by the caller).
// True when it exists afterwards.
bool CreateNamedMutex(const std::string& name);

// The mutex `name`, or nullptr when nobody created it.
std::mutex* OpenNamedMutex(const std::string& name);

}  // namespace platform
