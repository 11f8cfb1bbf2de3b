// The stress test's backend answers with what the caller put into its records: sqluvintpp and sqluvdelpp
// Init_input.size_LOW_order (sqluvintpp opens a session only for 0), sqluvgetpp and sqluvputpp Data.obj_num,
// db2VendorGetNextObjpp db2VendorQueryInfo.sizeEstimate, sqluvendpp the action plus kEndResultBase.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar::stress {
inline constexpr sqlint32 kEndResultBase = 4000;
// One character per event, appended as it happens.
inline constexpr const char* kEventsFile = "/tmp/stress-backend-events";
inline constexpr char kLoadEvent = 'l';
inline constexpr char kUnloadEvent = 'u';
}  // namespace kelmar::stress
