#include "loader/backend_loader.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include "base/bounded_text.h"
#include "discovery/base_dir.h"
#include "kelmar/libkelmar.h"
#include "loader/backend_library.h"
#include "loader/backend_table.h"
#include "log/trace_log.h"

namespace {

constexpr const char* kLoadTag = "initializeFptrs()";
constexpr const char* kUnloadTag = "unInitializeFptrs()";

// Shown for a directory that cannot be read back.
constexpr const char* kUnknownDirectory = "(unknown)";

// The load proper, for an empty table.
int LoadBackend(const kelmar::LifecycleHold& lifecycle, Init_input* in) {
  kelmar::Installation found;
  if (GetVorlanBaseDir(lifecycle, in, found) != 0) {
    SqluvErrorLog(kLoadTag, "GetVorlanBaseDir failed, returning error.");
    return 0;
  }
  SqluvErrorLog(kLoadTag, "GetVorlanBaseDir succeeded.");
  SqluvErrorLog(kLoadTag, "Changing to base dir: \"%s\".", found.base_dir.c_str());
  // A failed change shows in the directory logged after the load.
  [[maybe_unused]] const int changed = chdir(found.base_dir.c_str());

  SqluvErrorLog(kLoadTag, "Library to be loaded: \"%s\".", found.backend.c_str());
  kelmar::EntryText load_error;
  void* const handle = kelmar::OpenBackendLibrary(found.backend, load_error.span());

  kelmar::PathText directory;
  const char* const shown_directory =
      getcwd(directory.data(), directory.bytes.size() - 1) != nullptr ? directory.c_str() : kUnknownDirectory;
  if (handle == nullptr) {
    SqluvErrorLog(kLoadTag, "dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\"", found.backend.c_str(),
                  load_error.c_str(), shown_directory);
  } else {
    SqluvErrorLog(kLoadTag, "dlopen succeeded. Current dir: \"%s\", loaded: \"%s\"", shown_directory,
                  found.backend.c_str());
  }
  SqluvErrorLog(kLoadTag, "After dlopen: sqluv_handle is:%p", handle);
  // A library that did not load is not looked into: the process's global
  // scope must not stand in for the backend.
  if (handle == nullptr) return 0;

  kelmar::BackendEntryAddresses entries{};
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = dlsym(handle, kelmar::kBackendEntryNames[i]);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == nullptr) {
      // No session may run against an incomplete backend.
      SqluvErrorLog(kLoadTag, "Entry point %s not found, unloading.", kelmar::kBackendEntryNames[i]);
      dlclose(handle);
      return 0;
    }
  }

  const kelmar::ExclusiveTableHold table = kelmar::ExclusiveTableHold::Wait(lifecycle);
  if (!table.held()) {
    dlclose(handle);
    return 0;
  }
  kelmar::FillBackendTable(table, handle, entries);
  return 1;
}

// The path the backend was loaded from, as the dynamic loader knows it.
void LoadedPath(void* handle, kelmar::PathText& path) {
  const link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
    kelmar::CopyBounded(path.span(), map->l_name);
  }
}

}  // namespace

int initializeFptrs(const kelmar::LifecycleHold& lifecycle, Init_input* in) {
  SqluvErrorLog(kLoadTag, "-----------Entered--------");
  SqluvErrorLog(kLoadTag, "sqluv_handle is:%p", sqluv_handle);
  const int result = sqluv_handle != nullptr ? 1 : LoadBackend(lifecycle, in);
  SqluvErrorLog(kLoadTag, "-----------Leaving, returning %d--------", result);
  return result;
}

int unInitializeFptrs(const kelmar::ExclusiveTableHold& table) {
  SqluvErrorLog(kUnloadTag, "-----------Entered--------");
  SqluvErrorLog(kUnloadTag, "sqluv_handle is:%p", sqluv_handle);
  if (sqluv_handle != nullptr) {
    kelmar::PathText library_path;
    LoadedPath(sqluv_handle, library_path);
    const int closed = dlclose(sqluv_handle);
    if (closed == 0) {
      kelmar::EmptyBackendTable(table);
      // An operator who replaced the file must not take the next load for the new code.
      if (kelmar::StaysMapped(library_path.c_str())) {
        SqluvErrorLog(kUnloadTag, "\"%s\" stays mapped after dlclose(), the next load reuses its old code",
                      library_path.c_str());
      }
    } else {
      SqluvErrorLog(kUnloadTag, "dlclose() returned failure, non-zero return code: %d, reason:\"%s\"", closed,
                    kelmar::DlErrorText());
    }
  }
  SqluvErrorLog(kUnloadTag, "-----------Leaving, returning %d--------", 1);
  return 1;
}
