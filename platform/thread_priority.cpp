// Thread priorities as nice values of the calling thread. Raising needs
// privileges most users lack; the refusal is ignored by design.
#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void SetCurrentThreadPriority(ThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case ThreadPriority::Normal: nice = 0; break;
    case ThreadPriority::AboveNormal: nice = -5; break;
    case ThreadPriority::Highest: nice = -15; break;
  }
  const auto thread = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, thread, nice);
}

}  // namespace platform
