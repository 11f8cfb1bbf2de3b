// How the stress test scripts its backend and reads what it saw. Every entry point answers with the result the
// caller put into its records (sqluvintpp and sqluvdelpp: Init_input.size_LOW_order as a signed number, and
// sqluvintpp opens the session only for 0; sqluvgetpp, sqluvputpp: Data.obj_num; db2VendorGetNextObjpp:
// db2VendorQueryInfo.sizeEstimate cut to 32 bits; sqluvendpp: the action plus kEndResultBase, ending the session),
// as long as the session it is given was opened by this very load of the backend; otherwise with kStaleSession.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar::stress {
inline constexpr sqlint32 kStaleSession = 999999;
inline constexpr sqlint32 kEndResultBase = 4000;
// Each load and unload of the backend appends one character to this file: 'l' or 'u'.
inline constexpr const char* kEventsFile = "/tmp/stress-backend-events";
}  // namespace kelmar::stress
