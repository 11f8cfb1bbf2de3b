#include "discovery/registry_root.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

#include "discovery/composed_path.h"
#include "log/bounded_text.h"
#include "log/trace_log.h"

std::atomic<const char*> xjReg{nullptr};

namespace {

// Keeps two first sessions from writing the resolved root at the same time.
constinit pthread_mutex_t settle_lock = PTHREAD_MUTEX_INITIALIZER;
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

bool IsSettled(const char* root) { return root != nullptr && root[0] != '\0'; }

}  // namespace

void SettleRegistryRoot(const char* tag) {
  const char* root = xjReg.load(std::memory_order_acquire);
  if (!IsSettled(root)) {
    pthread_mutex_lock(&settle_lock);
    root = xjReg.load(std::memory_order_acquire);
    if (!IsSettled(root)) {
      root = RootFromEnvironment();
      xjReg.store(root, std::memory_order_release);
    }
    pthread_mutex_unlock(&settle_lock);
  }
  SqluvErrorLog(tag, "-----------XJREG= [%s]", root);
}
