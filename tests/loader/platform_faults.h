// Platform calls that fail on request: this executable defines getcwd and
// dlclose itself, so the library's calls reach these first.
#pragma once

#include <atomic>

namespace kelmar::platform_faults {

// getcwd fails with ENOENT, as for a working directory that was removed.
extern std::atomic<bool> fail_getcwd;

// dlclose fails, leaving the library loaded, with this reason in dlerror.
extern std::atomic<bool> fail_dlclose;
inline constexpr const char* kDlcloseFailure = "/nonexistent/kelmar-dlclose-fault.so";

}  // namespace kelmar::platform_faults
