// A backend that needs a function no library provides: with immediate binding it cannot be loaded.
#include "kelmar/db2_vendor.h"

extern "C" sqlint32 kelmar_test_function_nowhere();

extern "C" sqlint32 sqluvintpp(Init_input*, Init_output*, Return_code*) { return kelmar_test_function_nowhere(); }
