// The trace file and the markers at their fixed names in /tmp, as the library
// in this process judges them: it honours only what root or the effective
// user owns, so kelmar-check must run as the user DB2 runs as for the
// verdicts to be DB2's.
#pragma once

#include <sys/types.h>

#include <ostream>
#include <string>
#include <vector>

namespace kelmar::check {

struct SwitchFile {
  const char* path = nullptr;
  const char* role = nullptr;  // "trace", "debug_hold", "keep_loaded", "unload"
  std::string type;            // "regular file", "directory", "symbolic link to /x", ...
  uid_t owner_uid = 0;
  std::string owner;  // the user's name, or the uid where it has none
  std::string mode;   // octal, "0600"
  unsigned long links = 0;
  bool honoured = false;
  std::string why_ignored;
  std::vector<std::string> warnings;
};

struct SwitchFiles {
  uid_t judged_for_uid = 0;
  std::vector<SwitchFile> present;  // absent names are left out
};

SwitchFiles ExamineSwitchFiles();

// An indented block after the steps: one line per file, its warnings below.
void PrintSwitchFilesPlain(std::ostream& out, const SwitchFiles& files);

// A JSON object: "judged_for_uid" and "files", each with its fields by key.
void PrintSwitchFilesJson(std::ostream& out, const SwitchFiles& files);

}  // namespace kelmar::check
