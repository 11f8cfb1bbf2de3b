// What the dynamic loader reads from a shared object before it loads it: the
// libraries it needs and its own search paths (DT_NEEDED, DT_RPATH,
// DT_RUNPATH), read from the file without loading it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelmar::check {

struct ElfDynamic {
  std::vector<std::string> needed;     // in the order the object lists them
  std::optional<std::string> rpath;    // DT_RPATH, as written (colon-separated)
  std::optional<std::string> runpath;  // DT_RUNPATH, as written
};

// Whether `path` is a 64-bit little-endian x86-64 ELF object: what the
// dynamic loader takes when it looks for a library, passing over others.
bool IsObjectForThisPlatform(const std::string& path);

// The dynamic section of a 64-bit x86-64 ELF object. Empty, with `error`
// saying why, when the file cannot be read, is no such object, has no
// dynamic section or is damaged.
std::optional<ElfDynamic> ReadElfDynamic(const std::string& path, std::string& error);

}  // namespace kelmar::check
