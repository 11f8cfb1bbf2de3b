// Writing the exported backend table (sqluv_handle and the six entry
// pointers, include/kelmar/libkelmar.h). Readers hold the table shared.
#pragma once

#include <array>

#include "base/process_locks.h"
#include "kelmar/backend.h"

namespace kelmar {

// The addresses of kBackendEntryNames, in that order.
using BackendEntryAddresses = std::array<void*, kBackendEntryCount>;

// Publishes a loaded backend whose six entries were all found.
void FillBackendTable(const ExclusiveTableHold& table, void* handle, const BackendEntryAddresses& entries);

// Clears the handle, then the six entries in table order.
void EmptyBackendTable(const ExclusiveTableHold& table);

}  // namespace kelmar
