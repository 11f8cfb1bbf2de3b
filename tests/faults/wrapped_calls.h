// Platform calls that fail on request: the fault test executable is linked with -Wl,--wrap for each of them.
#pragma once

namespace kelmar::wrapped_calls {

enum class Call { kMalloc, kStrdup, kPutenv, kChdir, kOpendir, kReaddir64, kDlclose, kPthreadKeyCreate, kCount };

// After `pass` more calls of `call`, the next one fails with `error` (null or -1, or `error` itself where the call
// returns its error number; a failed dlclose leaves
// kDlcloseFailure's reason for dlerror; a putenv armed with error 0 claims success without touching the
// environment); later calls pass through again.
void FailAfter(Call call, int pass, int error);
bool Disarm(Call call);  // whether it struck

inline constexpr const char* kDlcloseFailure = "/nonexistent/kelmar-dlclose-fault.so";

}  // namespace kelmar::wrapped_calls
