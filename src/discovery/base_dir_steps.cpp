#include "discovery/base_dir_steps.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/composed_path.h"
#include "base/regular_file.h"
#include "discovery/environment.h"
#include "discovery/instance_name.h"
#include "discovery/registry_root.h"
#include "kelmar/backend.h"
#include "kelmar/libkelmar.h"
#include "log/trace_log.h"

namespace kelmar {
namespace {

bool IsAccepted(const PathText& name) {
  if (IsAcceptableInstanceName(name.view())) return true;
  SqluvErrorLog(kBaseDirTag, "Invalid instance name [%s], returning error.", name.c_str());
  return false;
}

// Later sessions of this process that come without options find the scanned
// name in VORLAN_INST instead of scanning again.
bool PublishScannedInstance(const PathText& name) {
  SqluvErrorLog(kBaseDirTag, "Setting the env: %s...", name.c_str());
  char* entry = NewEnvironmentEntry(kInstanceVariable, name.c_str());
  if (entry == nullptr) {
    const int bytes = static_cast<int>(EnvironmentEntryBytes(kInstanceVariable, name.c_str()));
    SqluvErrorLog(kBaseDirTag, "malloc(%d)failed.", bytes);
    return false;
  }
  if (putenv(entry) != 0) {
    SqluvErrorLog(kBaseDirTag, "putenv(%s) failed with error: %d", entry, errno);
    return false;
  }
  SqluvErrorLog(kBaseDirTag, "Setting the env: %s succeeded", entry);
  if (std::getenv(kInstanceVariable) == nullptr) {
    SqluvErrorLog(kBaseDirTag, "Environment variable (%s) is not set", kInstanceVariable);
    return false;
  }
  return true;
}

}  // namespace

InstanceResolution ResolveInstanceName(const LifecycleHold&, PathText& name, const Init_input* in) {
  name = PathText{};
  if (GetVorlanInstanceName(name.data(), name.bytes.size(), in) != 0) {
    return IsAccepted(name) ? InstanceResolution::Named : InstanceResolution::Failed;
  }
  SqluvErrorLog(kBaseDirTag, "GetVorlanInstanceName failed, trying to get the name of the first vorlan instance name.");
  if (get_first_vorlan_instname(name.data(), name.bytes.size()) != 0) {
    SqluvErrorLog(kBaseDirTag, "get_first_vorlan_instname() failed as well, returning error.");
    return InstanceResolution::Failed;
  }
  if (!IsAccepted(name) || !PublishScannedInstance(name)) return InstanceResolution::Failed;
  return InstanceResolution::Scanned;
}

void ExportVorlanVm(const LifecycleHold&, const char* name) {
  if (vorlan_vm[0] != '\0') return;
  // A value too long for vorlan_vm is reported as found but not copied, so
  // vorlan_vm stays empty and the next call tries again.
  if (GetEnv(kVorlanVmVariable, vorlan_vm, kVorlanVmReadLimit) > 0) {
    SqluvErrorLog(kBaseDirTag, "Got Environment variable VORLAN_VM (%s)", vorlan_vm);
    return;
  }
  CopyBounded(vorlan_vm, name);
  SqluvErrorLog(kBaseDirTag, "Set Environment variable VORLAN_VM (%s)", vorlan_vm);
  // The backend reads VORLAN_VM if it can; vorlan_vm holds the name either way.
  SetEnv(kVorlanVmVariable, vorlan_vm);
}

bool ComposePropertiesPath(PathText& properties, const char* name) {
  const bool fits = ComposePath(properties.span(), "%s/Vorlan/%s/Base/.properties",
                                xjReg.load(std::memory_order_acquire), name);
  SqluvErrorLog(kBaseDirTag, "path for .properties is: %s", properties.c_str());
  if (!fits) SqluvErrorLog(kBaseDirTag, "Could not open file %s", properties.c_str());
  return fits;
}

bool ReadHomeDirectoryOf(const PathText& properties, PathText& home, HomeLine* line) {
  home = PathText{};
  RegularFile opened(properties.c_str());
  std::FILE* file = opened.TakeStream();
  if (file == nullptr) {
    SqluvErrorLog(kBaseDirTag, "Could not open file %s", properties.c_str());
    return false;
  }
  ReadHomeDirectory(file, home.span(), line);
  std::fclose(file);
  return true;
}

bool CheckBackendLibrary(const PathText& home, PathText& library) {
  library = PathText{};
  const bool executable = !home.empty() &&
                          ComposePath(library.span(), "%s/Base/%s", home.c_str(), kBackendFileName) &&
                          access(library.c_str(), X_OK) == 0;
  if (!executable) SqluvErrorLog(kBaseDirTag, "XJZqDb2QZT DB2 Library %s not accessible", library.c_str());
  return executable;
}

void ComposeBaseDir(const PathText& home, PathText& base_dir) {
  SqluvErrorLog(kBaseDirTag, "path for .properties is: %s", home.c_str());
  FormatBounded(base_dir.span(), "%s/Base", home.c_str());
}

}  // namespace kelmar
