// Priority of the calling thread, best effort: a system that refuses the
// change leaves the thread as it was, and nothing depends on the outcome.
#pragma once

namespace platform {

enum class ThreadPriority { Normal, AboveNormal, Highest };

void SetCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
