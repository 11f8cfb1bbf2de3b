// The process environment as discovery uses it: bounded reads, and entries
// whose text is handed over to the environment for good.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/process_state.h"

namespace kelmar {
// The limit passed to GetEnv when reading VORLAN_VM into vorlan_vm.
inline constexpr std::uint32_t kVorlanVmReadLimit = 2048;
}  // namespace kelmar

// -1 when `name` is unset. Otherwise the value's length when it is below
// `size` (value and terminator copied into `buffer`), else the length plus
// one (the room a buffer would need), with `buffer` left alone.
int GetEnv(const char* name, char* buffer, std::uint32_t size);

namespace kelmar {
// The bytes of the entry "name=value", its terminator included.
std::size_t EnvironmentEntryBytes(const char* name, const char* value);

// The entry "name=value" in a heap block of exactly its size; null without
// memory. putenv keeps the very text it is given: handed to it, the block
// belongs to the environment for good.
char* NewEnvironmentEntry(const char* name, const char* value);
}  // namespace kelmar

// Puts "name=value" into the environment: the entry is composed in a block
// released before the return, and putenv gets a duplicate of it, which the
// environment keeps. putenv's result, or -1 without memory.
int SetEnv(const char* name, const char* value);
