// What a tool's command-line parser hands back: the command to run, a
// request for help or for the version, or why the line was refused.
#pragma once

#include <string>

namespace kelmar::tools {

template <typename Command>
struct ParsedCommandLine {
  enum class Outcome { kRun, kHelp, kVersion, kError };
  Outcome outcome = Outcome::kError;
  Command command;
  std::string error;
};

}  // namespace kelmar::tools
