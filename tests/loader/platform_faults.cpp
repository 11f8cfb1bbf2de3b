#include "loader/platform_faults.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>

namespace kelmar::platform_faults {

std::atomic<bool> fail_getcwd{false};
std::atomic<bool> fail_dlclose{false};

namespace {

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace
}  // namespace kelmar::platform_faults

extern "C" char* getcwd(char* buffer, size_t size) noexcept {
  if (kelmar::platform_faults::fail_getcwd) {
    errno = ENOENT;
    return nullptr;
  }
  static const auto next = kelmar::platform_faults::Next<char* (*)(char*, size_t)>("getcwd");
  return next(buffer, size);
}

extern "C" int dlclose(void* handle) noexcept {
  if (kelmar::platform_faults::fail_dlclose) {
    // Leaves a reason for dlerror, as a real failure would.
    dlopen(kelmar::platform_faults::kDlcloseFailure, RTLD_NOW);
    return -1;
  }
  static const auto next = kelmar::platform_faults::Next<int (*)(void*)>("dlclose");
  return next(handle);
}
