// The steps of GetVorlanBaseDir, in the order it runs them. Each logs its own
// lines under "GetVorlanBaseDir" but not the Leaving line, so that a
// diagnostic program can run them one by one and report each.
#pragma once

#include "base/bounded_text.h"
#include "base/process_locks.h"
#include "discovery/properties_readers.h"
#include "kelmar/db2_vendor.h"

namespace kelmar {

inline constexpr const char* kBaseDirTag = "GetVorlanBaseDir";
inline constexpr const char* kVorlanVmVariable = "VORLAN_VM";

enum class InstanceResolution {
  Failed,  // no name at all, a refused name, or VORLAN_INST could not be exported
  Named,   // DB2's options or the environment named it
  Scanned  // the first installed instance; exported as VORLAN_INST
};

// Step 1: the instance name from GetVorlanInstanceName, else from
// get_first_vorlan_instname (then exported as VORLAN_INST). A name that
// would lead out of the registry is refused before anything is written.
InstanceResolution ResolveInstanceName(const LifecycleHold& lifecycle, PathText& name, const Init_input* in);

// Step 2: settles vorlan_vm and VORLAN_VM once per process.
void ExportVorlanVm(const LifecycleHold& lifecycle, const char* name);

// Step 3: "<root>/Vorlan/<name>/Base/.properties". False (logged as a file
// that cannot be opened) when the path does not fit.
bool ComposePropertiesPath(PathText& properties, const char* name);

// Step 4: the home directory from the "dVORLANHOME" line. False when the file
// cannot be opened or is not a regular file; `home` stays empty when the line
// or its value is missing. `line`, when given, tells that line.
bool ReadHomeDirectoryOf(const PathText& properties, PathText& home, HomeLine* line = nullptr);

// Step 5: whether "<home>/Base/libXjKelmar.so" may be executed. `library`
// receives that path (empty without a home directory).
bool CheckBackendLibrary(const PathText& home, PathText& library);

// Step 6: "<home>/Base" into `base_dir`, cut to fit.
void ComposeBaseDir(const PathText& home, PathText& base_dir);

}  // namespace kelmar
