#include "loader/backend_library.h"

#include <dlfcn.h>

#include "kelmar/backend.h"

namespace kelmar {

void BuildBackendLibraryPath(const PathText& base_dir, PathText& path) {
  CopyBounded(path.span(), base_dir.view());
  AppendBounded(path.span(), "/");
  AppendBounded(path.span(), kBackendFileName);
}

void* OpenBackendLibrary(const PathText& path) { return dlopen(path.c_str(), RTLD_NOW); }

}  // namespace kelmar
