// StartUpdate: checks that an update may start and hands it to a thread of its own.
#include <new>
#include <system_error>
#include <thread>

#include "doralex/doralex.h"
#include "doralex/engine/update_sequence.h"
#include "doralex/frame/library_state.h"
#include "platform/named_mutex.h"

namespace dlx {

int StartUpdate(uint16_t channel, int port, uint32_t speed) {
  if (!LibraryStarted()) {
    RecordNotStarted();
    return 0;
  }
  if (!platform::CreateNamedMutex(kUpdateMutexName)) return 0;
  if (!GetUpdateCallbacks()) return 0;

  // The thread gets its own copy of the start record: a later StartUpdate for
  // the same channel cannot change it under the running thread's feet.
  const StartRecord start{channel, port, speed};
  try {
    std::thread(UpdateThread, start).detach();
  } catch (const std::system_error&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

}  // namespace dlx
