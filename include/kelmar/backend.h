// What the library requires of the Vorlan backend "libXjKelmar.so": six
// entry points with the parameter lists of the matching DB2 functions.
#pragma once

#include <array>
#include <cstddef>

#include "kelmar/db2_vendor.h"

extern "C" {
typedef sqlint32 (*sqluvint_fn)(Init_input*, Init_output*, Return_code*);
typedef sqlint32 (*sqluvget_fn)(void*, Data*, Return_code*);
typedef sqlint32 (*sqluvput_fn)(void*, Data*, Return_code*);
typedef sqlint32 (*sqluvend_fn)(sqlint32, void*, Init_output*, Return_code*);
typedef sqlint32 (*sqluvdel_fn)(Init_input*, Init_output*, Return_code*);
typedef sqlint32 (*db2VendorGetNextObj_fn)(void*, db2VendorQueryInfo*, Return_code*);
}

namespace kelmar {
inline constexpr const char* kBackendFileName = "libXjKelmar.so";

// The entry points' names, in the order of the library's table (the f_*
// pointers of libkelmar.h): DB2's names followed by "pp".
inline constexpr std::size_t kBackendEntryCount = 6;
inline constexpr std::array<const char*, kBackendEntryCount> kBackendEntryNames = {
    "sqluvintpp", "sqluvgetpp", "sqluvputpp", "sqluvendpp", "sqluvdelpp", "db2VendorGetNextObjpp",
};
}  // namespace kelmar
