// Everything libkelmar.so exports besides DB2's vendor interface: the two
// registry helpers for outside programs and the backend table.
#pragma once

#include <cstddef>

#include "kelmar/backend.h"
#include "kelmar/db2_vendor.h"

extern "C" {

// Reads `key` from a file of "key value" lines. `first` is accepted and ignored.
// 0 with the value in `value` (at most size-1 characters), -1 otherwise.
int get_reg_value(const void* first, const char* file, const char* key, char* value, int size);

// Names the first installed Vorlan instance that has the DB2 agent
// ("Instance001" preferred). 0 with the name in `name`, -1 otherwise.
int get_first_vorlan_instname(char* name, std::size_t capacity);

// The loaded backend: null until a load fills them.
extern void* sqluv_handle;
extern sqluvint_fn f_sqluvint;
extern sqluvget_fn f_sqluvget;
extern sqluvput_fn f_sqluvput;
extern sqluvend_fn f_sqluvend;
extern sqluvdel_fn f_sqluvdel;
extern db2VendorGetNextObj_fn f_db2VendorGetNextObj;

}  // extern "C"
