// The registry root `xjReg` (process_state.h): the directory that holds the
// Vorlan registry, settled once per process from XJREG or
// "/etc/TornevaleRegistry".
#pragma once

#include "base/process_state.h"

namespace kelmar {
inline constexpr const char* kDefaultRegistryRoot = "/etc/TornevaleRegistry";
}  // namespace kelmar

// Settles the root on the first call in the process, then logs
// "-----------XJREG= [%s]" under `tag`, on every call. A relative XJREG is
// taken against the working directory of that moment: the loader changes the
// working directory later, and the root must keep naming the same registry.
void SettleRegistryRoot(const char* tag);
