// The stress test's backend answers with what the caller put into its records (sqluvintpp, sqluvdelpp:
// Init_input.size_LOW_order, and sqluvintpp opens a session only for 0; sqluvgetpp, sqluvputpp: Data.obj_num;
// db2VendorGetNextObjpp: db2VendorQueryInfo.sizeEstimate; sqluvendpp: the action plus kEndResultBase, ending the
// session), if this very load of it opened the session; otherwise with kStaleSession.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar::stress {
inline constexpr sqlint32 kStaleSession = 999999;
inline constexpr sqlint32 kEndResultBase = 4000;
inline constexpr const char* kEventsFile = "/tmp/stress-backend-events";  // 'l' per load, 'u' per unload
}  // namespace kelmar::stress
