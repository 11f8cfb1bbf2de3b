// What kelmar-check found: one result per step the library takes to load the
// backend, in the library's order, and the exit status that names the first
// step that failed.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "check/switch_files_report.h"

namespace kelmar::check {

enum class Step {
  kRegistry,
  kInstance,
  kProperties,
  kHome,
  kBackend,
  kNeededLibraries,
  kLoad,
  kEntryPoints,
};

struct StepInfo {
  Step step;
  const char* id;     // in --json output and in --help
  const char* title;  // in the plain output
  int exit_status;    // when this is the first step that failed
  const char* failure;  // what that status means, for --help
};

inline constexpr std::array<StepInfo, 8> kSteps = {{
    {Step::kRegistry, "registry", "registry", 3, "no Vorlan registry at the registry root"},
    {Step::kInstance, "instance", "instance", 4,
     "no instance name: none from the options or VORLAN_INST, and no instance has a Db2Agent"},
    {Step::kProperties, "properties", "properties", 5, "the instance's .properties file cannot be opened"},
    {Step::kHome, "home", "home", 6, "no \"dVORLANHOME\" line with a value in .properties"},
    {Step::kBackend, "backend", "backend", 7, "<home>/Base/libXjKelmar.so is missing or not executable"},
    {Step::kNeededLibraries, "needed_libraries", "needed libraries", 8,
     "a library that the backend needs is not found"},
    {Step::kLoad, "load", "load", 9, "the backend cannot be loaded (dlerror says why)"},
    {Step::kEntryPoints, "entry_points", "entry points", 10, "the backend lacks one of its six entry points"},
}};

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
};

struct CheckReport {
  std::vector<StepResult> steps;  // every step, in order
  std::vector<std::string> notes;  // what the reader should know about the check itself
  SwitchFiles switch_files;

  const StepResult* FirstFailure() const;
  int ExitStatus() const;
};

}  // namespace kelmar::check
