#include "faults/wrapped_calls.h"

#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace kelmar::wrapped_calls {

// Atomics: a fault is armed and read on whatever thread the case uses. A negative pass count: struck or disarmed.
struct Fault {
  std::atomic<int> pass{-1}, error{0};
};
static std::array<Fault, static_cast<std::size_t>(Call::kCount)> faults;
static Fault& Of(Call call) { return faults[static_cast<std::size_t>(call)]; }

// True, with errno set, when this call is the one to fail.
static bool Strikes(Call call) {
  Fault& fault = Of(call);
  if (fault.pass.load() < 0 || fault.pass.fetch_sub(1) > 0) return false;
  errno = fault.error.load();
  return true;
}

void FailAfter(Call call, int pass, int error) {
  Of(call).error.store(error);
  Of(call).pass.store(pass);
}

bool Disarm(Call call) { return Of(call).pass.exchange(-1) < 0; }

}  // namespace kelmar::wrapped_calls

using kelmar::wrapped_calls::Call;
using kelmar::wrapped_calls::Strikes;

extern "C" {
void* __real_malloc(std::size_t size);
char* __real_strdup(const char* text);
int __real_putenv(char* entry);
int __real_chdir(const char* path);
DIR* __real_opendir(const char* path);
struct dirent64* __real_readdir64(DIR* listing);
int __real_dlclose(void* handle);
int __real_pthread_key_create(pthread_key_t* key, void (*destructor)(void*));

void* __wrap_malloc(std::size_t size) { return Strikes(Call::kMalloc) ? nullptr : __real_malloc(size); }
char* __wrap_strdup(const char* text) { return Strikes(Call::kStrdup) ? nullptr : __real_strdup(text); }
int __wrap_putenv(char* entry) { return !Strikes(Call::kPutenv) ? __real_putenv(entry) : errno == 0 ? 0 : -1; }
int __wrap_chdir(const char* path) { return Strikes(Call::kChdir) ? -1 : __real_chdir(path); }
DIR* __wrap_opendir(const char* path) { return Strikes(Call::kOpendir) ? nullptr : __real_opendir(path); }
dirent64* __wrap_readdir64(DIR* listing) { return Strikes(Call::kReaddir64) ? nullptr : __real_readdir64(listing); }
int __wrap_pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  if (Strikes(Call::kPthreadKeyCreate)) return errno;
  return __real_pthread_key_create(key, destructor);
}
// A failed dlclose leaves a reason for dlerror, as a real failure does.
int __wrap_dlclose(void* handle) {
  if (!Strikes(Call::kDlclose)) return __real_dlclose(handle);
  dlopen(kelmar::wrapped_calls::kDlcloseFailure, RTLD_NOW);
  return -1;
}
}
