#include "discovery/registry_root.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

#include "base/bounded_text.h"
#include "base/composed_path.h"
#include "log/trace_log.h"

std::atomic<const char*> xjReg{nullptr};

namespace {

// Once per process, even for two first sessions at the same time. Unlike a
// lock, it does not keep a child forked during the settling waiting for a
// thread that is not there: the child settles again.
constinit pthread_once_t settling = PTHREAD_ONCE_INIT;
constinit kelmar::PathText resolved_root;

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
  if (!kelmar::ComposePath(resolved_root.span(), "%s%s%s", directory.c_str(), separator, value)) return value;
  return resolved_root.c_str();
}

void Settle() { xjReg.store(RootFromEnvironment(), std::memory_order_release); }

}  // namespace

void SettleRegistryRoot(const char* tag) {
  pthread_once(&settling, Settle);
  SqluvErrorLog(tag, "-----------XJREG= [%s]", xjReg.load(std::memory_order_acquire));
}
