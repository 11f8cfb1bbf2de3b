// The trace log: one line per call appended to "/tmp/libkelmar.log"
// (kTraceLogPath), written only while that file exists, is writable for the
// process and passes the owner rule of switch_files.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>
#include <span>

namespace kelmar {

// Room for the combined format and for the message; at most 2046 characters of
// either survive (a bound of 2047 bytes including the terminator).
inline constexpr std::size_t kTraceTextBytes = 2048;
inline constexpr std::size_t kTraceTextBound = kTraceTextBytes - 1;

// A whole line: prefix, message and line feed, never cut.
inline constexpr std::size_t kTraceLineBytes = kTraceTextBytes + 64;

// Formats one complete trace line into `line` and returns its length. The tag
// becomes part of the format, so it must hold no percent sign.
std::size_t FormatTraceLine(std::span<char, kTraceLineBytes> line, int pid, const std::tm& when, const char* tag,
                            const char* format, va_list args);

// For programs that run the library's code outside DB2 (kelmar-check): from
// now on this process writes no trace lines, whether or not the file is
// there, so that a check does not mix its lines into the operators' trace.
// Nothing in the library calls it, and nothing turns the trace on again.
void SwitchTraceOffForThisProcess();

}  // namespace kelmar

// Appends one line under `tag` when the trace file is there to take it.
// Never reports whether the line was written.
[[gnu::format(printf, 2, 3)]] void SqluvErrorLog(const char* tag, const char* format, ...);
