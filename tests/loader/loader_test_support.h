// Calling the loader the way the front does, and reading the table back.
#pragma once

#include <string>
#include <vector>

#include "kelmar/libkelmar.h"
#include "loader/backend_loader.h"

namespace kelmar::test_backend {

inline int Load(Init_input* in) {
  const LifecycleHold lifecycle;
  return initializeFptrs(lifecycle, in);
}

inline int Unload() {
  const LifecycleHold lifecycle;
  const ExclusiveTableHold table = ExclusiveTableHold::Wait(lifecycle);
  return unInitializeFptrs(table);
}

inline bool TableEmpty() {
  return sqluv_handle == nullptr && f_sqluvint == nullptr && f_sqluvget == nullptr && f_sqluvput == nullptr &&
         f_sqluvend == nullptr && f_sqluvdel == nullptr && f_db2VendorGetNextObj == nullptr;
}

inline bool TableFull() {
  return sqluv_handle != nullptr && f_sqluvint != nullptr && f_sqluvget != nullptr && f_sqluvput != nullptr &&
         f_sqluvend != nullptr && f_sqluvdel != nullptr && f_db2VendorGetNextObj != nullptr;
}

}  // namespace kelmar::test_backend
