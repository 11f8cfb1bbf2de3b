// Where each library that the backend needs (DT_NEEDED) comes from when the
// backend is loaded, in the dynamic loader's order: the backend's own
// DT_RPATH (unless it has a DT_RUNPATH), LD_LIBRARY_PATH, the backend's
// DT_RUNPATH, then the system's library directories. The search path of the
// object that calls dlopen (libkelmar.so's) takes no part in it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check/elf_dynamic.h"

namespace kelmar::check {

struct NeededLibrary {
  std::string name;                 // as the backend names it
  std::optional<std::string> path;  // where it resolves; empty when nowhere
  std::string detail;               // which part of the search found it, or why nothing was found
};

// Splits a colon-separated search path; an empty text has no entries.
std::vector<std::string> SplitSearchPath(const std::string& search_path);

// One search path entry with $ORIGIN (and ${ORIGIN}) expanded to
// `origin_dir`; an empty entry is the working directory, as for the loader.
std::string ExpandSearchEntry(const std::string& entry, const std::string& origin_dir);

// Resolves every DT_NEEDED entry of the backend at `backend_path` for a load
// made while `working_dir` is the working directory. What the search paths
// do not find is looked up by the dynamic loader itself in a child process,
// so that no library's initialiser runs in this one.
std::vector<NeededLibrary> ResolveNeededLibraries(const std::string& backend_path, const ElfDynamic& backend,
                                                  const std::string& working_dir);

}  // namespace kelmar::check
