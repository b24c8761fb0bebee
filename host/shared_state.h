// Values the host's threads share with the screens. Scalars are atomics; the
// program path is set once before any thread that reads it starts, and sits
// behind a mutex all the same.
#pragma once

#include <atomic>
#include <string>

// The value of the progress bar, 0 to 100.
extern std::atomic<float> progressPercent;

// Path of the program's own file, read by the payload loader.
std::string programPath();
void setProgramPath(std::string path);
