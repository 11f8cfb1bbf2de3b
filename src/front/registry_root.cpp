#include "front/registry_root.h"

#include <cstdlib>

#include "log/trace_log.h"

std::atomic<const char*> xjReg{nullptr};

void SettleRegistryRoot(const char* tag) {
  const char* root = xjReg.load(std::memory_order_acquire);
  if (root == nullptr || root[0] == '\0') {
    // The value stays in the environment; it is not copied.
    const char* from_environment = std::getenv("XJREG");
    root = (from_environment != nullptr && from_environment[0] != '\0') ? from_environment : kelmar::kDefaultRegistryRoot;
    xjReg.store(root, std::memory_order_release);
  }
  SqluvErrorLog(tag, "-----------XJREG= [%s]", root);
}
