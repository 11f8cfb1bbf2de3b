// Reading the exported backend table back.
#pragma once

#include "kelmar/libkelmar.h"

namespace kelmar::test_backend {
// No backend and none of its six entries.
inline bool TableEmpty() {
  return sqluv_handle == nullptr && f_sqluvint == nullptr && f_sqluvget == nullptr && f_sqluvput == nullptr &&
         f_sqluvend == nullptr && f_sqluvdel == nullptr && f_db2VendorGetNextObj == nullptr;
}
}  // namespace kelmar::test_backend
