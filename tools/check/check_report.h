// What kelmar-check found: one result per step the library takes to load the
// backend, in the library's order, with the check of who can change the
// backend among them, and the exit status that names the first step that
// failed, else a libkelmar.so that others can change.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "check/file_writers.h"
#include "check/library_file.h"
#include "check/switch_files_report.h"

namespace kelmar::check {

enum class Step {
  kRegistry,
  kInstance,
  kProperties,
  kHome,
  kBackend,
  kPermissions,
  kNeededLibraries,
  kLoad,
  kEntryPoints,
};

struct StepInfo {
  Step step;
  const char* id;     // in --json output and in --help
  const char* title;  // in the plain output
  int exit_status;    // when this is the first step that failed
  const char* failure;  // every cause of that status, for --help
};

inline constexpr std::array<StepInfo, 9> kSteps = {{
    {Step::kRegistry, "registry", "registry", 3,
     "<root>/Vorlan is missing, is not a directory, or cannot be searched (permission denied, ...)"},
    {Step::kInstance, "instance", "instance", 4,
     "the instance name from the options or VORLAN_INST is refused (it holds \"/\" or is \".\" or \"..\"); or "
     "none is given and no instance under <root>/Vorlan has a Db2Agent, or <root>/Vorlan cannot be listed; or "
     "VORLAN_INST cannot be exported"},
    {Step::kProperties, "properties", "properties", 5,
     "the instance's .properties is missing, cannot be opened (permission denied, ...), is not a regular file (a "
     "directory, ...), or its path is too long"},
    {Step::kHome, "home", "home", 6, ".properties has no \"dVORLANHOME\" line, or its first one has no value"},
    {Step::kBackend, "backend", "backend", 7,
     "<home>/Base/libXjKelmar.so is missing (or <home> is), is not a regular file, or is not executable for this "
     "user"},
    {Step::kPermissions, "permissions", "permissions", 11,
     "a user other than root can change the backend: it, <home>/Base or a directory on the way to them (or to "
     "what a symbolic link there leads to) belongs to another user, or is writable by every user and is not a "
     "directory with the sticky bit"},
    {Step::kNeededLibraries, "needed_libraries", "needed libraries", 8,
     "a library that the backend needs is not found where the dynamic loader looks, or the first file of its "
     "name there is damaged or not a library"},
    {Step::kLoad, "load", "load", 9,
     "dlopen of the backend fails (dlerror says why: an undefined symbol, not an object for this platform, ...), "
     "or the working directory cannot be kept for it"},
    {Step::kEntryPoints, "entry_points", "entry points", 10, "the backend lacks one of its six entry points"},
}};

// After the steps: the libkelmar.so of --library, which DB2 loads before all of them.
inline constexpr int kExitLibrary = 12;
inline constexpr const char* kLibraryId = "library";
inline constexpr const char* kLibraryFailure =
    "a user other than root can change the libkelmar.so of --library (/opt/kelmar/lib/libkelmar.so): it or a "
    "directory on the way to it belongs to another user, or is writable by every user and is not a directory "
    "with the sticky bit (a missing file is reported, but fails nothing)";

inline constexpr int kExitOk = 0;
inline constexpr int kExitCannotCheck = 1;  // the check itself could not be made
inline constexpr int kExitUsage = 2;

const StepInfo& InfoOf(Step step);

enum class Outcome { kOk, kFailed, kSkipped };
const char* OutcomeId(Outcome outcome);

struct Fact {
  std::string key;
  std::string value;
  bool shown_in_plain = true;  // false for what the step's summary already says
};

// A needed library or an entry point.
struct Item {
  std::string name;
  bool found = false;
  std::optional<std::string> path;
  std::string detail;  // which part of the search found it, or why not
};

struct StepResult {
  Step step;
  Outcome outcome = Outcome::kSkipped;
  std::string summary;
  std::vector<Fact> facts;
  std::vector<Item> items;
  std::vector<WriterFinding> findings;  // the permissions step's
};

struct CheckReport {
  std::vector<StepResult> steps;  // every step, in order
  std::vector<std::string> notes;  // what the reader should know about the check itself
  LibraryFile library;
  SwitchFiles switch_files;

  const StepResult* FirstFailure() const;
  // The first failing finding about the library, when no step failed.
  const WriterFinding* LibraryFailure() const;
  int ExitStatus() const;
};

}  // namespace kelmar::check
