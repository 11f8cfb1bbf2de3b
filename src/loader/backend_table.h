// Writing the exported backend table (sqluv_handle and the six entry
// pointers, include/kelmar/libkelmar.h). Readers hold the table shared.
#pragma once

#include <array>
#include <cstddef>

#include "loader/backend_guard.h"

namespace kelmar {

inline constexpr std::size_t kBackendEntryCount = 6;

// The backend's entry symbols, in table order.
inline constexpr std::array<const char*, kBackendEntryCount> kBackendEntryNames = {
    "sqluvintpp", "sqluvgetpp", "sqluvputpp", "sqluvendpp", "sqluvdelpp", "db2VendorGetNextObjpp",
};

using BackendEntryAddresses = std::array<void*, kBackendEntryCount>;

// Publishes a loaded backend whose six entries were all found.
void FillBackendTable(const ExclusiveTableHold& table, void* handle, const BackendEntryAddresses& entries);

// Clears the handle, then the six entries in table order.
void EmptyBackendTable(const ExclusiveTableHold& table);

}  // namespace kelmar
