// DB2's names for the vendor interface's return codes, for reports and messages.
#pragma once

#include <string>

#include "kelmar/db2_vendor.h"

namespace kelmar::host {

// Put into Return_code.return_code before every call, so that a report can
// tell a code the library left alone from one it wrote.
inline constexpr sqlint32 kReturnCodeNotSet = -2147483647 - 1;

// "SQLUV_IO_ERROR" for 25; null for a number that is not one of DB2's codes.
const char* ReturnCodeName(sqlint32 code);

// "SQLUV_IO_ERROR (25)", or the bare number when it has no name.
std::string DescribeCode(sqlint32 code);

// What a vendor call gave back: its result, and the record's code and
// description where they add something ("-1, return code SQLUV_INIT_FAILED (11)").
std::string DescribeOutcome(sqlint32 result, const Return_code& return_code);

}  // namespace kelmar::host
