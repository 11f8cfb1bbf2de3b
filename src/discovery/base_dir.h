// The Vorlan installation that serves a DB2 session, and its base directory:
// the directory the backend loader changes to and loads libXjKelmar.so from.
#pragma once

#include <cstddef>

#include "base/bounded_text.h"
#include "base/process_locks.h"
#include "kelmar/db2_vendor.h"

namespace kelmar {

// Discovery's one result, which the loader uses as it is.
struct Installation {
  PathText instance;    // the instance's name
  PathText properties;  // "<root>/Vorlan/<instance>/Base/.properties"
  PathText home;        // the value of its "dVORLANHOME" line
  PathText base_dir;    // "<home>/Base"
  PathText backend;     // "<home>/Base/libXjKelmar.so", executable for this process
};

}  // namespace kelmar

// 0 with the installation in `found`; -1 on every failure, with `found` to
// be ignored. On the way it exports VORLAN_INST (after a fallback to the
// instance scan) and VORLAN_VM (once per process).
int GetVorlanBaseDir(const kelmar::LifecycleHold& lifecycle, const Init_input* in, kelmar::Installation& found);

// The same for a caller that wants only the base directory and holds no
// lock: it takes the lifecycle lock itself. 0 with `<home>/Base` in `gpath`
// (at most size-1 characters, every byte after the text zero); -1 on every
// failure, with `gpath` not written.
int GetVorlanBaseDir(char* gpath, std::size_t size, const Init_input* in);
