// Shared by the fuzz targets: a private /tmp whose trace swallows every line, an input reader, a buffer check.
#pragma once

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "log/switch_files.h"
#include "testbed/caller_buffer.h"
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

// Consumes fuzz input from the front: single bytes (0 once it runs out), or up to `count` bytes.
struct Input {
  static constexpr std::size_t kLibrarysRoom = 1024;
  Input(const std::uint8_t* data, std::size_t size) : bytes(reinterpret_cast<const char*>(data), size) {}
  std::uint8_t Byte() { return bytes.empty() ? 0 : static_cast<std::uint8_t>(Take(1)[0]); }
  // A caller's buffer capacity: 1 to 255, or the library's own 1024 for 0.
  std::size_t Capacity() {
    const std::uint8_t byte = Byte();
    return byte == 0 ? kLibrarysRoom : byte;
  }
  // Any int, from four bytes, the first the highest.
  int Number() {
    std::uint32_t value = 0;
    for (const char byte : Take(sizeof value)) {
      value = value << CHAR_BIT | static_cast<std::uint8_t>(byte);
    }
    return static_cast<int>(value);
  }
  std::string_view Take(std::size_t count) {
    const std::string_view taken = bytes.substr(0, count);
    bytes.remove_prefix(taken.size());
    return taken;
  }
  std::string_view bytes;
};

using Text = std::optional<std::string>;

// A finding unless `buffer` holds `expected` cut to its room when `found`, and is untouched when not.
inline void CheckHandedBack(const testbed::CallerBuffer& buffer, bool found, const Text& expected) {
  if (buffer.WrittenPastCapacity() || found != expected.has_value()) std::abort();
  if (found ? buffer.Text() != expected->substr(0, buffer.capacity() - 1) : !buffer.Untouched()) std::abort();
}

}  // namespace kelmar::fuzz
