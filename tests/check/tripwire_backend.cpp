// A complete backend whose every entry point ends the process (status 97): a check that called one cannot report.
#include <unistd.h>

#include "kelmar/db2_vendor.h"

extern "C" {
sqlint32 sqluvintpp(Init_input*, Init_output*, Return_code*) { _exit(97); }
sqlint32 sqluvgetpp(void*, Data*, Return_code*) { _exit(97); }
sqlint32 sqluvputpp(void*, Data*, Return_code*) { _exit(97); }
sqlint32 sqluvendpp(sqlint32, void*, Init_output*, Return_code*) { _exit(97); }
sqlint32 sqluvdelpp(Init_input*, Init_output*, Return_code*) { _exit(97); }
sqlint32 db2VendorGetNextObjpp(void*, db2VendorQueryInfo*, Return_code*) { _exit(97); }
}
