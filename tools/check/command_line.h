// kelmar-check's command line: what DB2 would pass as vendor options, and how
// to report.
#pragma once

#include <string>
#include <vector>

#include "common/vendor_options.h"

namespace kelmar::check {

struct CheckCommand {
  tools::VendorOptions options;  // none unless --options or --record is given
  bool json = false;
  bool trace = false;  // let the library's steps write /tmp/libkelmar.log
};

struct ParsedCommandLine {
  enum class Outcome { kRun, kHelp, kError };
  Outcome outcome = Outcome::kError;
  CheckCommand command;
  std::string error;
};

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace kelmar::check
