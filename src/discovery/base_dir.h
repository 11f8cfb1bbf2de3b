// The base directory of the Vorlan installation that serves a DB2 session: the
// directory the backend loader changes to and loads libXjKelmar.so from.
#pragma once

#include <cstddef>

#include "kelmar/db2_vendor.h"

// 0 with `<home>/Base` in `gpath` (at most size-1 characters, every byte after
// the text zero); -1 on every failure, with `gpath` not written. On the way it
// exports VORLAN_INST (after a fallback to the instance scan) and VORLAN_VM
// (once per process).
int GetVorlanBaseDir(char* gpath, std::size_t size, const Init_input* in);
