#include "loader/backend_library.h"

#include <dlfcn.h>

#include "base/regular_file.h"
#include "loader/backend_file_check.h"

namespace kelmar {

void* OpenBackendLibrary(const PathText& path, std::span<char> reason) {
  if (!CheckBackendFile(path.c_str(), reason)) return nullptr;
  void* const handle = dlopen(path.c_str(), RTLD_NOW);
  if (handle == nullptr) CopyBounded(reason, DlErrorText());
  return handle;
}

const char* DlErrorText() {
  const char* text = dlerror();
  return text != nullptr ? text : "(null)";
}

bool StaysMapped(const char* path) {
  // With nothing of that name mapped, the dynamic loader opens the file to
  // compare it, and a FIFO put there since the load would block that open.
  if (!RegularFile(path).is_open()) return false;
  void* const handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    dlerror();  // nothing to report: it is gone
    return false;
  }
  dlclose(handle);
  return true;
}

}  // namespace kelmar
