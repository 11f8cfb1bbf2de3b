// The preparation that opens a DB2 session in sqluvint and sqluvdel: name the
// caller action, hold while the debug marker exists, settle the registry root
// (registry_root.h). Each step logs under the caller's tag.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar {
inline constexpr unsigned kDebugHoldPollSeconds = 3;
}  // namespace kelmar

// The name of the caller action whose first character `action` holds, or
// null for an absent text or a letter that names no action.
const char* opType(const char* action);

// Logs "...opType: %s" with the action name of DB2's session record.
void LogCallerAction(const char* tag, const Init_input* in);

// Waits, polling every 3 seconds, while "/tmp/debugDB2" exists and is
// honoured (switch_files.h).
void HoldWhileDebugMarker(const char* tag);
