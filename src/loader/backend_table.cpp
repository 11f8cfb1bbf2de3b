#include "loader/backend_table.h"

#include "kelmar/libkelmar.h"

namespace kelmar {

void FillBackendTable(const ExclusiveTableHold&, void* handle, const BackendEntryAddresses& entries) {
  sqluv_handle = handle;
  f_sqluvint = reinterpret_cast<sqluvint_fn>(entries[0]);
  f_sqluvget = reinterpret_cast<sqluvget_fn>(entries[1]);
  f_sqluvput = reinterpret_cast<sqluvput_fn>(entries[2]);
  f_sqluvend = reinterpret_cast<sqluvend_fn>(entries[3]);
  f_sqluvdel = reinterpret_cast<sqluvdel_fn>(entries[4]);
  f_db2VendorGetNextObj = reinterpret_cast<db2VendorGetNextObj_fn>(entries[5]);
}

void EmptyBackendTable(const ExclusiveTableHold&) {
  sqluv_handle = nullptr;
  f_sqluvint = nullptr;
  f_sqluvget = nullptr;
  f_sqluvput = nullptr;
  f_sqluvend = nullptr;
  f_sqluvdel = nullptr;
  f_db2VendorGetNextObj = nullptr;
}

}  // namespace kelmar
