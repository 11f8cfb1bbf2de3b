// The DB2 operations that kelmar-host runs: each one opens its sessions the
// way DB2 does for it and reports what happened.
#pragma once

#include "host/command_line.h"
#include "host/operation_report.h"
#include "host/vendor_library.h"

namespace kelmar::host {

OperationReport RunOperation(const VendorCalls& calls, const HostCommand& command);

}  // namespace kelmar::host
