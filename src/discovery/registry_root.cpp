#include "discovery/registry_root.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

#include "base/bounded_text.h"
#include "base/composed_path.h"
#include "base/process_state.h"
#include "log/trace_log.h"

namespace {

constinit kelmar::ProcessState& state = kelmar::process_state;

// XJREG's own text when it is absolute (not copied: it stays in the
// environment); a relative one joined to the working directory. A relative
// value that cannot be resolved is kept as it is.
const char* RootFromEnvironment() {
  const char* value = std::getenv("XJREG");
  if (value == nullptr || value[0] == '\0') return kelmar::kDefaultRegistryRoot;
  if (value[0] == '/') return value;
  kelmar::PathText directory;
  if (getcwd(directory.data(), directory.bytes.size()) == nullptr) return value;
  const char* separator = directory.view().ends_with('/') ? "" : "/";
  if (!kelmar::ComposePath(state.resolved_registry_root.span(), "%s%s%s", directory.c_str(), separator, value)) {
    return value;
  }
  return state.resolved_registry_root.c_str();
}

void Settle() { xjReg.store(RootFromEnvironment(), std::memory_order_release); }

}  // namespace

void SettleRegistryRoot(const char* tag) {
  pthread_once(&state.registry_root_settling, Settle);
  SqluvErrorLog(tag, "-----------XJREG= [%s]", xjReg.load(std::memory_order_acquire));
}
