// Reading back the trace that the library wrote into the private
// /tmp/libkelmar.log of an isolated case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmar::testbed {

// Creates an empty, writable /tmp/libkelmar.log: the trace is on.
void EnableTrace();

// The trace file's lines, each without its "LIBKELMAR-<pid>: MM/DD/YY HH:MM:SS "
// prefix (lines that carry none, such as the empty line after a message that
// ends in a line feed, as they are). Empty when the file is absent.
std::vector<std::string> TraceLines();

// The raw lines of the trace file, prefixes included.
std::vector<std::string> RawTraceLines();

// True when `line` starts with a well-formed prefix for process `pid`.
bool HasTracePrefix(std::string_view line, int pid);

// Removes the trace file's content so that later reads show only new lines.
void ClearTrace();

}  // namespace kelmar::testbed
