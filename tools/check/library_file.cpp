#include "check/library_file.h"

#include <elf.h>
#include <sys/stat.h>

#include <cstdio>

#include "check/elf_dynamic.h"
#include "check/report_output.h"
#include "version_note.h"

namespace kelmar::check {
namespace {

std::string Hexadecimal(const std::string& bytes) {
  std::string hex;
  for (const char byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
    hex += digits;
  }
  return hex;
}

}  // namespace

LibraryFile ExamineLibrary(const std::string& path) {
  LibraryFile library;
  library.path = path;
  const std::optional<std::vector<ElfNote>> notes = ReadElfNotes(path, library.error);
  if (!notes) return library;
  for (const ElfNote& note : *notes) {
    if (note.owner == KELMAR_NOTE_OWNER && note.type == KELMAR_NOTE_TYPE_VERSION) {
      library.version = note.description.substr(0, note.description.find('\0'));
    }
    if (note.owner == ELF_NOTE_GNU && note.type == NT_GNU_BUILD_ID) library.build_id = Hexadecimal(note.description);
  }
  if (!library.version) {
    library.warnings.push_back("it carries no version: it is not libkelmar.so, or one built before libkelmar.so carried its version");
  } else if (*library.version != KELMAR_VERSION) {
    library.warnings.push_back("it is version " + *library.version + ", kelmar-check " KELMAR_VERSION
                               ": kelmar-check runs its own copy of the library's code, so DB2 may get another "
                               "answer from this file; run the kelmar-check of the same version");
  }
  return library;
}

void JudgeLibraryWriters(LibraryFile& library) {
  struct stat status {};
  if (lstat(library.path.c_str(), &status) == 0) library.findings = WhoElseCanChange(library.path);
}

void PrintLibraryPlain(std::ostream& out, const LibraryFile& library) {
  out << "library: " << PlainString(library.path) << ": ";
  if (!library.error.empty()) {
    out << PlainString(library.error) << '\n';
  } else {
    out << "version " << PlainString(library.version.value_or("unknown")) << ", build id "
        << (library.build_id.empty() ? "none" : library.build_id) << '\n';
  }
  for (const std::string& warning : library.warnings) out << "  warning: " << PlainString(warning) << '\n';
  PrintFindingsPlain(out, library.findings, "  ");
}

void PrintLibraryJson(std::ostream& out, const LibraryFile& library) {
  out << "{\"path\":" << JsonString(library.path) << ",\"version\":";
  if (library.version) {
    out << JsonString(*library.version);
  } else {
    out << "null";
  }
  out << ",\"build_id\":" << JsonString(library.build_id);
  if (!library.error.empty()) out << ",\"error\":" << JsonString(library.error);
  out << ",\"warnings\":[";
  for (std::size_t i = 0; i < library.warnings.size(); ++i) {
    out << (i > 0 ? "," : "") << JsonString(library.warnings[i]);
  }
  out << "],\"findings\":";
  PrintFindingsJson(out, library.findings);
  out << '}';
}

}  // namespace kelmar::check
