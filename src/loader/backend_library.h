// The backend library file and how it is opened, the same for the loader and
// for kelmar-check, which opens it exactly as the loader does.
#pragma once

#include <span>

#include "base/bounded_text.h"

namespace kelmar {

// dlopen with immediate binding and no other flag, so the backend's symbols
// stay in its own scope, of a file that passed CheckBackendFile. Null when it
// cannot be loaded, with the check's reason or dlerror's text in `reason`.
void* OpenBackendLibrary(const PathText& path, std::span<char> reason);

// dlerror's text, "(null)" when it has none.
const char* DlErrorText();

// Whether the dynamic loader still has the library at `path` mapped, as it
// keeps one that exports unique symbols or may not be unloaded. The next
// dlopen of the path then hands back the old code, not the file on disk.
bool StaysMapped(const char* path);

}  // namespace kelmar
