// A backend that does no work at all: a call through libkelmar.so then costs
// only what the forwarding adds to a direct call of the backend.
#include "kelmar/db2_vendor.h"

extern "C" {

sqlint32 sqluvintpp(Init_input*, Init_output* out, Return_code*) {
  static int session;
  out->pVendorCB = &session;
  return SQLUV_OK;
}
sqlint32 sqluvgetpp(void*, Data*, Return_code*) { return SQLUV_OK; }
sqlint32 sqluvputpp(void*, Data*, Return_code*) { return SQLUV_OK; }
sqlint32 sqluvendpp(sqlint32, void*, Init_output*, Return_code*) { return SQLUV_OK; }
sqlint32 sqluvdelpp(Init_input*, Init_output*, Return_code*) { return SQLUV_OK; }
sqlint32 db2VendorGetNextObjpp(void*, db2VendorQueryInfo*, Return_code*) { return SQLUV_OK; }

}  // extern "C"
