// Reading back the trace that the library wrote into the private /tmp/libkelmar.log of an isolated case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmar::testbed {

// Creates an empty, writable /tmp/libkelmar.log: the trace is on.
void EnableTrace();
// Removes the trace file's content so that later reads show only new lines.
inline void ClearTrace() { EnableTrace(); }
// The raw lines of the trace file, prefixes included; none when the file is absent.
std::vector<std::string> RawTraceLines();
// The lines, each without its "LIBKELMAR-<pid>: MM/DD/YY HH:MM:SS " prefix (lines that carry none, such as the
// empty line after a message that ends in a line feed, as they are).
std::vector<std::string> TraceLines();
// True when `line` starts with a well-formed prefix for process `pid`.
bool HasTracePrefix(std::string_view line, int pid);

}  // namespace kelmar::testbed
