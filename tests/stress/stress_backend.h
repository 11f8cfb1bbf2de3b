// How the stress test scripts its backend and reads what it saw. Every entry
// point answers with the result the caller put into its records, as long as
// the session it is given was opened by this very load of the backend;
// otherwise with kStaleSession.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar::stress {

// Answered for a session that this load of the backend did not open.
inline constexpr sqlint32 kStaleSession = 999999;

// Each load and unload of the backend appends one character to this file.
inline constexpr const char* kEventsFile = "/tmp/stress-backend-events";
inline constexpr char kLoadedEvent = 'l';
inline constexpr char kUnloadedEvent = 'u';

// The scripted results, by entry point:
//  sqluvintpp, sqluvdelpp    Init_input.size_LOW_order, as a signed number;
//                            sqluvintpp opens the session only for 0
//  sqluvgetpp, sqluvputpp    Data.obj_num
//  sqluvendpp                the action plus kEndResultBase; ends the session
//  db2VendorGetNextObjpp     db2VendorQueryInfo.sizeEstimate, cut to 32 bits
inline constexpr sqlint32 kEndResultBase = 4000;

}  // namespace kelmar::stress
