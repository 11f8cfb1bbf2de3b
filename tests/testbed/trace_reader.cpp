#include "testbed/trace_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "log/switch_files.h"

namespace kelmar::testbed {

static const std::regex kPrefix(R"(^LIBKELMAR-([0-9]+): (0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{2} )"
                                 R"(([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60) )");

void EnableTrace() { close(open(kTraceLogPath, O_WRONLY | O_CREAT | O_TRUNC, 0666)); }

Lines TraceLines() {
  Lines lines;
  std::ifstream file(kTraceLogPath);
  for (std::string line; std::getline(file, line);) {
    lines.push_back(std::regex_replace(line, kPrefix, "", std::regex_constants::format_first_only));
  }
  return lines;
}

bool HasTracePrefix(std::string_view line, int pid) {
  std::match_results<std::string_view::const_iterator> prefix;
  return std::regex_search(line.begin(), line.end(), prefix, kPrefix) && prefix[1].str() == std::to_string(pid);
}

Lines LinesTagged(std::string_view tag) {
  const std::string prefix = std::string(tag) + ": ";
  Lines lines = TraceLines();
  std::erase_if(lines, [&](const std::string& line) { return !line.starts_with(prefix); });
  return lines;
}

std::size_t TimesLogged(std::string_view line) {
  return static_cast<std::size_t>(std::ranges::count(TraceLines(), line));
}

static ::testing::AssertionResult Listed(::testing::AssertionResult result, const Lines& lines) {
  result << "\nthe lines were:";
  for (const std::string& line : lines) {
    result << "\n  " << line;
  }
  return result;
}

static std::string LineOrNone(const Lines& lines, Lines::const_iterator at) {
  return at == lines.end() ? "(no line)" : *at;
}

::testing::AssertionResult SameLines(const Lines& actual, const Lines& expected) {
  const auto [differs, wanted] = std::ranges::mismatch(actual, expected);
  if (differs == actual.end() && wanted == expected.end()) {
    return ::testing::AssertionSuccess();
  }
  return Listed(::testing::AssertionFailure() << "line " << differs - actual.begin() + 1 << " is\n  "
                                              << LineOrNone(actual, differs) << "\nexpected\n  "
                                              << LineOrNone(expected, wanted),
                actual);
}

::testing::AssertionResult TraceIs(const Lines& expected) { return SameLines(TraceLines(), expected); }

::testing::AssertionResult TraceEndsWith(const Lines& expected) {
  const Lines lines = TraceLines();
  const std::size_t kept = std::min(lines.size(), expected.size());
  return SameLines(Lines(lines.end() - static_cast<long>(kept), lines.end()), expected);
}

static ::testing::AssertionResult Holds(std::string_view wanted, bool whole_line) {
  const Lines lines = TraceLines();
  const auto matches = [&](const std::string& line) { return whole_line ? line == wanted : line.starts_with(wanted); };
  if (std::ranges::any_of(lines, matches)) {
    return ::testing::AssertionSuccess();
  }
  return Listed(::testing::AssertionFailure() << "no line " << (whole_line ? "is" : "starts with") << "\n  " << wanted,
                lines);
}

::testing::AssertionResult TraceHolds(std::string_view line) { return Holds(line, true); }

::testing::AssertionResult TraceHoldsLineStartingWith(std::string_view prefix) { return Holds(prefix, false); }

}  // namespace kelmar::testbed
