// What every fuzz target shares. Its LLVMFuzzerInitialize (fuzz_support.cpp) moves the process into a private
// /tmp whose trace file swallows every line, so that the whole trace formatting runs on each input without
// touching the machine's /tmp/libkelmar.log or filling the disk.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelmar::fuzz {

// Consumes fuzz input from the front: single bytes (0 once it runs out), up to `count` bytes, the rest.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}
  std::uint8_t Byte() { return bytes_.empty() ? 0 : Take(1)[0]; }
  std::string_view Take(std::size_t count) {
    const std::string_view taken(reinterpret_cast<const char*>(bytes_.data()), std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
  }
  std::string_view Rest() { return Take(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// A caller's buffer capacity from one byte: 1 to 255, or the library's own 1024.
inline std::size_t CapacityFrom(std::uint8_t byte) { return byte == 0 ? 1024 : byte; }

}  // namespace kelmar::fuzz
