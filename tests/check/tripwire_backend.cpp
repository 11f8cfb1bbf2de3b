// A complete backend whose every entry point ends the process at once with
// kEntryPointCalledStatus, so that a check that called one could not report.
#include <unistd.h>

#include "kelmar/db2_vendor.h"

namespace {
constexpr int kEntryPointCalledStatus = 97;
}  // namespace

extern "C" {
sqlint32 sqluvintpp(Init_input*, Init_output*, Return_code*) { _exit(kEntryPointCalledStatus); }
sqlint32 sqluvgetpp(void*, Data*, Return_code*) { _exit(kEntryPointCalledStatus); }
sqlint32 sqluvputpp(void*, Data*, Return_code*) { _exit(kEntryPointCalledStatus); }
sqlint32 sqluvendpp(sqlint32, void*, Init_output*, Return_code*) { _exit(kEntryPointCalledStatus); }
sqlint32 sqluvdelpp(Init_input*, Init_output*, Return_code*) { _exit(kEntryPointCalledStatus); }
sqlint32 db2VendorGetNextObjpp(void*, db2VendorQueryInfo*, Return_code*) { _exit(kEntryPointCalledStatus); }
}
