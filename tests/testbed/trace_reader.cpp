#include "testbed/trace_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "log/switch_files.h"

namespace kelmar::testbed {

static const std::regex kPrefix(R"(^LIBKELMAR-([0-9]+): (0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{2} )"
                                 R"(([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60) )");

void EnableTrace() { close(open(kTraceLogPath, O_WRONLY | O_CREAT | O_TRUNC, 0666)); }

std::vector<std::string> RawTraceLines() {
  std::vector<std::string> lines;
  std::ifstream file(kTraceLogPath);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> TraceLines() {
  std::vector<std::string> lines = RawTraceLines();
  for (std::string& line : lines) line = std::regex_replace(line, kPrefix, "", std::regex_constants::format_first_only);
  return lines;
}

bool HasTracePrefix(std::string_view line, int pid) {
  std::match_results<std::string_view::const_iterator> prefix;
  return std::regex_search(line.begin(), line.end(), prefix, kPrefix) && prefix[1].str() == std::to_string(pid);
}

}  // namespace kelmar::testbed
