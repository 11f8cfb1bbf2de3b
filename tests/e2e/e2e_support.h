// For end-to-end cases: a Vorlan installation of the sample backend under the
// private /tmp of an isolated case, kelmar-host run through libkelmar.so,
// and the trace read as sessions opening, ending and the backend unloading.
#pragma once

#include <string>
#include <vector>

#include "testbed/program_run.h"

namespace kelmar::testing {

inline const std::string kHostProgram = KELMAR_HOST_PROGRAM;
inline const std::string kLibkelmar = KELMAR_SHARED_LIBRARY;
inline const std::string kSampleBackend = KELMAR_SAMPLE_BACKEND;

// A registry (exported as XJREG) with installations of the sample backend.
struct Vorlan {
  std::string root;
  std::string registry;

  Vorlan();
  // Installs `instance` with its home under `root`; returns the home.
  std::string Install(const std::string& instance) const;
};

using HostRun = testbed::ProgramRun;

// Runs kelmar-host --library libkelmar.so `args` and waits for it.
HostRun RunHost(const std::vector<std::string>& args);

// What the trace of one process tells about sessions and the backend.
struct TraceStory {
  int loads = 0;             // "dlopen succeeded"
  int unloads = 0;           // unInitializeFptrs that found a backend loaded
  int refused_in_use = 0;    // the unload marker met another session or call
  int kept_loaded = 0;       // the keep-loaded marker spared an unload
  int unloads_with_open_sessions = 0;
  int max_open_sessions = 0;
};

// Sessions open when sqluvint returns 0 and close when sqluvend calls the
// backend; the count is taken in the order the lines were written.
TraceStory ReadTraceStory(const std::vector<std::string>& lines);

}  // namespace kelmar::testing
