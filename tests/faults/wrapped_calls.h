// Platform calls that fail on request. The fault test executable is linked with -Wl,--wrap for each of them, so
// the library's calls reach these wrappers, which pass through to the real call unless a case armed a fault.
#pragma once

namespace kelmar::wrapped_calls {

enum class Call { kMalloc, kStrdup, kPutenv, kChdir, kOpendir, kReaddir64, kDlclose, kCount };

// From now on, after `pass` more calls of `call` have passed through, the next call fails with `error` (malloc,
// strdup, opendir and readdir64 return null; putenv, chdir and dlclose -1, a failed dlclose with kDlcloseFailure's
// reason in dlerror); later calls pass through again. A putenv armed with error 0 instead claims success without
// touching the environment.
void FailAfter(Call call, int pass, int error);
inline void FailNext(Call call, int error) { FailAfter(call, 0, error); }
// Whether the fault last armed for `call` has struck.
bool Struck(Call call);
// No call fails any more.
void DisarmAll();

// What dlerror tells after a dlclose that was made to fail.
inline constexpr const char* kDlcloseFailure = "/nonexistent/kelmar-dlclose-fault.so";

}  // namespace kelmar::wrapped_calls
