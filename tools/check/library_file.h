// Which libkelmar.so DB2 is given: the version and the build id that the file
// carries (libkelmar.so's version note and the linker's GNU build id), read
// without loading it. kelmar-check runs its own copy of the library's code, so
// its verdicts hold for that file only when the versions agree.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "check/file_writers.h"

namespace kelmar::check {

// Where the packages install it, and where DB2 is told to load it from.
inline constexpr const char* kInstalledLibrary = "/opt/kelmar/lib/libkelmar.so";

struct LibraryFile {
  std::string path;
  std::string error;                   // why the file could not be read ("cannot open it: ..."); the rest is empty then
  std::optional<std::string> version;  // none when the file carries no version note
  std::string build_id;                // hexadecimal; empty when it has none
  std::vector<std::string> warnings;
  std::vector<WriterFinding> findings;  // who besides root can change it; none when it is missing
};

LibraryFile ExamineLibrary(const std::string& path);

// Fills in who besides root can change the library, when the file is there.
void JudgeLibraryWriters(LibraryFile& library);

// One line, "library: PATH: version V, build id B", its warnings and who
// besides root can change it below.
void PrintLibraryPlain(std::ostream& out, const LibraryFile& library);

// A JSON object: "path", "version" (null when none), "build_id", "error" when
// unread, "warnings" and "findings".
void PrintLibraryJson(std::ostream& out, const LibraryFile& library);

}  // namespace kelmar::check
