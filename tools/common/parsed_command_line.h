// What a tool's command-line parser hands back: the command to run, or a
// request for help, or why the line was refused.
#pragma once

#include <string>

namespace kelmar::tools {

template <typename Command>
struct ParsedCommandLine {
  enum class Outcome { kRun, kHelp, kError };
  Outcome outcome = Outcome::kError;
  Command command;
  std::string error;
};

}  // namespace kelmar::tools
