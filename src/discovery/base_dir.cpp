#include "discovery/base_dir.h"

#include "discovery/base_dir_steps.h"
#include "log/trace_log.h"

namespace {

bool FindBaseDir(char* gpath, std::size_t size, const Init_input* in) {
  kelmar::PathText name;
  if (kelmar::ResolveInstanceName(name, in) == kelmar::InstanceResolution::Failed) return false;
  kelmar::ExportVorlanVm(name.c_str());
  kelmar::PathText properties;
  if (!kelmar::ComposePropertiesPath(properties, name.c_str())) return false;
  kelmar::PathText home;
  kelmar::PathText library;
  if (!kelmar::ReadHomeDirectoryOf(properties, home) || !kelmar::CheckBackendLibrary(home, library)) return false;
  kelmar::HandBackBaseDir(home, gpath, size);
  return true;
}

}  // namespace

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
  const bool found = FindBaseDir(gpath, size, in);
  SqluvErrorLog(kelmar::kBaseDirTag, "-----------Leaving--------");
  return found ? 0 : -1;
}
