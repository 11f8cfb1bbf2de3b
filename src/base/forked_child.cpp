#include "base/forked_child.h"

#include <dlfcn.h>
#include <link.h>

// glibc's registration of fork handlers, which pthread_atfork calls. The
// pthread_atfork of libc_nonshared.a passes the caller's __dso_handle, and
// libkelmar.so, linked without the start files, has none.
extern "C" int __register_atfork(void (*prepare)(), void (*parent)(), void (*child)(), void* dso_handle);

namespace kelmar {
namespace {

// glibc calls fork handlers for the rest of the process and nothing of this
// library runs when it is unloaded, so it cannot take a handler back. Rather
// than leave glibc a handler in unmapped code, the library keeps itself
// mapped from now on, however often the host closes it. Code inside a program
// stays mapped anyway.
bool KeepMapped() {
  Dl_info self{};
  link_map* object = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&KeepMapped), &self, reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) == 0 ||
      object == nullptr) {
    return false;
  }
  if (object->l_name[0] == '\0') return true;  // the program itself
  if (dlopen(object->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr) return true;
  dlerror();  // nobody asks
  return false;
}

}  // namespace

void RunInEveryForkedChild(void (*handler)()) {
  if (KeepMapped()) __register_atfork(nullptr, nullptr, handler, nullptr);
}

}  // namespace kelmar
