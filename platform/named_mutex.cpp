// A small registry stands in for the system's named kernel mutexes: the update
// threads of one process find the same mutex by its name.
#include "platform/named_mutex.h"

#include <map>
#include <memory>

namespace platform {
namespace {

struct Registry {
  std::mutex guard;
  std::map<std::string, std::unique_ptr<std::mutex>> mutexes;
};

Registry& TheRegistry() {
  // Never destroyed: a detached thread may still hold a mutex at exit.
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

bool CreateNamedMutex(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.guard);
  auto& slot = registry.mutexes[name];
  if (!slot) slot = std::make_unique<std::mutex>();
  return true;
}

std::mutex* OpenNamedMutex(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.guard);
  auto found = registry.mutexes.find(name);
  return found == registry.mutexes.end() ? nullptr : found->second.get();
}

}  // namespace platform
