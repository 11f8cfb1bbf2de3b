// Reading back the trace that the library wrote into the private /tmp/libkelmar.log of an isolated case, and
// matchers that name the first line that differs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kelmar::testbed {

using Lines = std::vector<std::string>;

// An empty, writable /tmp/libkelmar.log: the trace is on, and later reads show only new lines.
void EnableTrace();
// The lines without any "LIBKELMAR-<pid>: MM/DD/YY HH:MM:SS " prefix.
Lines TraceLines();
bool HasTracePrefix(std::string_view line, int pid);

// The trace lines written under `tag` ("sqluvint()", ...), tag included.
Lines LinesTagged(std::string_view tag);
std::size_t TimesLogged(std::string_view line);

// A function's trace lines: TraceTag("sqluvint()")("Calling sqluvintpp()") is "sqluvint(): Calling sqluvintpp()".
class TraceTag {
 public:
  explicit TraceTag(std::string_view tag) : prefix_(std::string(tag) + ": ") {}
  std::string operator()(std::string_view text) const { return prefix_ + std::string(text); }

 private:
  std::string prefix_;
};

// Equal line lists; on failure, the first line that differs, both ways, and the whole of `actual`.
::testing::AssertionResult SameLines(const Lines& actual, const Lines& expected);
// The whole trace, its last lines, one line anywhere, a line that starts so.
::testing::AssertionResult TraceIs(const Lines& expected);
::testing::AssertionResult TraceEndsWith(const Lines& expected);
::testing::AssertionResult TraceHolds(std::string_view line);
::testing::AssertionResult TraceHoldsLineStartingWith(std::string_view prefix);

}  // namespace kelmar::testbed
