// Reading back the trace that the library wrote into the private /tmp/libkelmar.log of an isolated case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmar::testbed {

// An empty, writable /tmp/libkelmar.log: the trace is on, and later reads show only new lines.
void EnableTrace();
inline void ClearTrace() { EnableTrace(); }
// The lines with their prefixes (none when the file is absent); without any "LIBKELMAR-<pid>: MM/DD/YY HH:MM:SS ".
std::vector<std::string> RawTraceLines();
std::vector<std::string> TraceLines();
bool HasTracePrefix(std::string_view line, int pid);

}  // namespace kelmar::testbed
