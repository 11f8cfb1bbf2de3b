// Loading the Vorlan backend "libXjKelmar.so" from the installation's base
// directory into the backend table, and unloading it again.
#pragma once

#include "base/process_locks.h"
#include "kelmar/db2_vendor.h"

// Loads the backend unless one is loaded: discovery of the installation,
// change of the working directory to its base directory, dlopen of its
// backend with immediate binding, the six look-ups. 1 when a backend is loaded; 0 with the table left empty when
// there is no base directory, the library does not load or lacks an entry.
int initializeFptrs(const kelmar::LifecycleHold& lifecycle, Init_input* in);

// Unloads the loaded backend, if any, and empties the table when dlclose
// succeeds; a failing dlclose leaves both in place. Always 1.
int unInitializeFptrs(const kelmar::ExclusiveTableHold& table);
