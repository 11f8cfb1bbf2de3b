// What every fuzz target shares: a private /tmp whose trace file swallows every line, so that the whole trace
// formatting runs on each input without touching the machine's files, and a reader of the fuzz input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "log/switch_files.h"
#include "testbed/isolation.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string reason = kelmar::testbed::MakePrivateTmp();
  if (!reason.empty()) {  // the fuzz test takes this status for a skip
    std::fprintf(stderr, "no private /tmp for fuzzing, skipped: %s\n", reason.c_str());
    std::exit(kelmar::testbed::kNoPrivateTmpExit);
  }
  if (symlink("/dev/null", kelmar::kTraceLogPath) != 0) std::abort();
  return 0;
}

namespace kelmar::fuzz {

// Consumes fuzz input from the front: single bytes (0 once it runs out), up to `count` bytes, the rest.
struct Input {
  Input(const std::uint8_t* data, std::size_t size) : bytes(reinterpret_cast<const char*>(data), size) {}
  std::uint8_t Byte() { return bytes.empty() ? 0 : static_cast<std::uint8_t>(Take(1)[0]); }
  // A caller's buffer capacity from one byte: 1 to 255, or the library's own 1024.
  std::size_t Capacity() { const std::uint8_t b = Byte(); return b == 0 ? 1024 : b; }
  std::string_view Take(std::size_t count) {
    const std::string_view taken = bytes.substr(0, count);
    bytes.remove_prefix(taken.size());
    return taken;
  }
  std::string_view Rest() { return Take(bytes.size()); }
  std::string_view bytes;
};

}  // namespace kelmar::fuzz
