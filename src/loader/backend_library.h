// The backend library file and how it is opened, the same for the loader and
// for kelmar-check, which opens it exactly as the loader does.
#pragma once

#include "log/bounded_text.h"

namespace kelmar {

// `<base>/libXjKelmar.so`, cut at 1023 characters. Discovery has already
// found the library under this very path, so it is never cut in practice.
void BuildBackendLibraryPath(const PathText& base_dir, PathText& path);

// dlopen with immediate binding and no other flag, so the backend's symbols
// stay in its own scope. Null when it cannot be loaded; dlerror says why.
void* OpenBackendLibrary(const PathText& path);

}  // namespace kelmar
