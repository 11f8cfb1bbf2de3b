#include "testbed/trace_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "log/trace_log.h"

namespace kelmar::testbed {
namespace {

const std::regex& PrefixPattern() {
  static const std::regex pattern(
      R"(^LIBKELMAR-([0-9]+): (0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{2} ([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60) )");
  return pattern;
}

}  // namespace

void EnableTrace() {
  const int fd = open(kTraceLogPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd >= 0) close(fd);
}

void ClearTrace() { EnableTrace(); }

std::vector<std::string> RawTraceLines() {
  std::vector<std::string> lines;
  std::ifstream file(kTraceLogPath);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> TraceLines() {
  std::vector<std::string> lines;
  for (const std::string& raw : RawTraceLines()) {
    std::smatch prefix;
    if (std::regex_search(raw, prefix, PrefixPattern())) {
      lines.push_back(raw.substr(static_cast<size_t>(prefix.length(0))));
    } else {
      lines.push_back(raw);
    }
  }
  return lines;
}

bool HasTracePrefix(std::string_view line, int pid) {
  std::match_results<std::string_view::const_iterator> prefix;
  if (!std::regex_search(line.begin(), line.end(), prefix, PrefixPattern())) return false;
  return prefix[1].str() == std::to_string(pid);
}

}  // namespace kelmar::testbed
