// Bounded text in fixed-size buffers: every write stays inside its buffer and
// leaves the text terminated, cutting a longer source without a message.
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

namespace kelmar {

// Names and paths; longer texts, such as the dynamic loader's reasons.
inline constexpr std::size_t kPathBytes = 1024;
inline constexpr std::size_t kEntryBytes = 2048;

// Copies at most dst.size()-1 characters of src and terminates. Returns the
// number of characters copied. An empty dst is left alone.
inline std::size_t CopyBounded(std::span<char> dst, std::string_view src) {
  if (dst.empty()) return 0;
  const std::size_t n = src.size() < dst.size() - 1 ? src.size() : dst.size() - 1;
  std::memcpy(dst.data(), src.data(), n);
  dst[n] = '\0';
  return n;
}

// snprintf into dst; the result is cut at dst.size()-1 characters.
[[gnu::format(printf, 2, 3)]] inline void FormatBounded(std::span<char> dst, const char* format, ...) {
  if (dst.empty()) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(dst.data(), dst.size(), format, args);
  va_end(args);
}

// The text held in `bytes`, up to its terminator or the end of the bytes.
inline std::string_view TextWithin(std::span<const char> bytes) {
  return {bytes.data(), strnlen(bytes.data(), bytes.size())};
}

// A fixed-size, always terminated text buffer.
template <std::size_t N>
struct TextBuffer {
  static_assert(N > 0);
  std::array<char, N> bytes{};

  std::span<char> span() { return bytes; }
  char* data() { return bytes.data(); }
  const char* c_str() const { return bytes.data(); }
  std::string_view view() const { return TextWithin(bytes); }
  bool empty() const { return bytes[0] == '\0'; }
};

using PathText = TextBuffer<kPathBytes>;
using EntryText = TextBuffer<kEntryBytes>;

}  // namespace kelmar
