// Whether the backend file may be handed to dlopen at all. The dynamic loader
// maps the file's loadable segments as they are described; a file cut short
// (an interrupted copy during an upgrade) then kills the process with SIGBUS
// at the first page past its end, and a FIFO blocks the load for good.
#pragma once

#include <span>

namespace kelmar {

// True when `path` may be loaded: a regular file whose program header table
// and loadable segments all lie within it. A file that cannot be opened or is
// no 64-bit little-endian ELF object passes too: dlopen turns it away itself
// before it maps anything, and says why. Otherwise false, with the reason in
// `reason`.
bool CheckBackendFile(const char* path, std::span<char> reason);

}  // namespace kelmar
