// A complete backend that needs a library living only beside it in Base.
#include "kelmar/db2_vendor.h"

extern "C" {
int kelmar_test_beside_value();

sqlint32 sqluvintpp(Init_input*, Init_output*, Return_code*) { return kelmar_test_beside_value(); }
sqlint32 sqluvgetpp(void*, Data*, Return_code*) { return 0; }
sqlint32 sqluvputpp(void*, Data*, Return_code*) { return 0; }
sqlint32 sqluvendpp(sqlint32, void*, Init_output*, Return_code*) { return 0; }
sqlint32 sqluvdelpp(Init_input*, Init_output*, Return_code*) { return 0; }
sqlint32 db2VendorGetNextObjpp(void*, db2VendorQueryInfo*, Return_code*) { return 0; }
}
