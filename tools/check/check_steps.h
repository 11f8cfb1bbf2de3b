// The check proper: the steps libkelmar.so takes on DB2's first session, run
// with the library's own code, up to loading the backend and looking up its
// entry points, which are never called.
#pragma once

#include "check/check_report.h"
#include "common/vendor_options.h"

namespace kelmar::check {

// Checks what a session opened with `options` would get in this process's
// environment. The working directory is the same afterwards; the backend is
// loaded for the check and unloaded again.
CheckReport RunCheck(tools::VendorOptions& options);

}  // namespace kelmar::check
