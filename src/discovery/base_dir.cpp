#include "discovery/base_dir.h"

#include <cstring>

#include "discovery/base_dir_steps.h"
#include "log/trace_log.h"

namespace {

bool Find(const kelmar::LifecycleHold& lifecycle, const Init_input* in, kelmar::Installation& found) {
  if (kelmar::ResolveInstanceName(lifecycle, found.instance, in) == kelmar::InstanceResolution::Failed) return false;
  kelmar::ExportVorlanVm(lifecycle, found.instance.c_str());
  if (!kelmar::ComposePropertiesPath(found.properties, found.instance.c_str())) return false;
  if (!kelmar::ReadHomeDirectoryOf(found.properties, found.home) ||
      !kelmar::CheckBackendLibrary(found.home, found.backend)) {
    return false;
  }
  kelmar::ComposeBaseDir(found.home, found.base_dir);
  return true;
}

int Leaving(bool found) {
  SqluvErrorLog(kelmar::kBaseDirTag, "-----------Leaving--------");
  return found ? 0 : -1;
}

}  // namespace

int GetVorlanBaseDir(const kelmar::LifecycleHold& lifecycle, const Init_input* in, kelmar::Installation& found) {
  SqluvErrorLog(kelmar::kBaseDirTag, "-----------Entered--------");
  return Leaving(Find(lifecycle, in, found));
}

int GetVorlanBaseDir(char* gpath, std::size_t size, const Init_input* in) {
  SqluvErrorLog(kelmar::kBaseDirTag, "-----------Entered--------");
  if (gpath == nullptr) {
    SqluvErrorLog(kelmar::kBaseDirTag, "-----------Leaving --- gpath-Input parameter is null --------");
    return -1;
  }
  // No room even for the terminator: nothing could be handed back.
  if (size == 0) {
    SqluvErrorLog(kelmar::kBaseDirTag, "-----------Leaving --- gpath-Input size is 0 --------");
    return -1;
  }
  kelmar::Installation found;
  const kelmar::LifecycleHold lifecycle;
  if (!Find(lifecycle, in, found)) return Leaving(false);
  std::memset(gpath, 0, size);
  kelmar::CopyBounded(std::span<char>(gpath, size), found.base_dir.view());
  return Leaving(true);
}
