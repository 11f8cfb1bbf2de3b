// kelmar-check's command line: what DB2 would pass as vendor options, and how
// to report.
#pragma once

#include <string>
#include <vector>

#include "check/library_file.h"
#include "common/parsed_command_line.h"
#include "common/vendor_options.h"

namespace kelmar::check {

struct CheckCommand {
  tools::VendorOptions options;  // none unless --options or --record is given
  bool json = false;
  bool trace = false;  // let the library's steps write /tmp/libkelmar.log
  std::string library = kInstalledLibrary;  // whose version to report
};

using ParsedCommandLine = tools::ParsedCommandLine<CheckCommand>;

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace kelmar::check
