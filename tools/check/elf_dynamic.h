// What kelmar-check reads from an ELF object without loading it: what the
// dynamic loader reads before it loads one (the libraries it needs and its own
// search paths: DT_NEEDED, DT_RPATH, DT_RUNPATH), and the notes that say
// which build it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelmar::check {

struct ElfDynamic {
  std::vector<std::string> needed;     // in the order the object lists them
  std::optional<std::string> rpath;    // DT_RPATH, as written (colon-separated)
  std::optional<std::string> runpath;  // DT_RUNPATH, as written
};

// What the dynamic loader makes of a file it meets while it looks for a
// library: it goes on past a file that is not there or is an object for
// another platform, takes one for this platform, and gives up the whole
// search at any other file of that name.
struct Candidate {
  enum class Verdict { kAbsent, kOtherPlatform, kTaken, kRefused } verdict;
  std::string reason;  // for kRefused: the dynamic loader's words
};
Candidate ExamineCandidate(const std::string& path);

// The dynamic section of a 64-bit x86-64 ELF object. Empty, with `error`
// saying why, when the file cannot be read, is no such object, has no
// dynamic section or is damaged.
std::optional<ElfDynamic> ReadElfDynamic(const std::string& path, std::string& error);

struct ElfNote {
  std::string owner;  // "GNU", ...
  std::uint32_t type = 0;
  std::string description;  // the bytes as written
};

// The notes of the object's PT_NOTE segments, in file order. Empty, with
// `error` saying why, as for ReadElfDynamic.
std::optional<std::vector<ElfNote>> ReadElfNotes(const std::string& path, std::string& error);

}  // namespace kelmar::check
