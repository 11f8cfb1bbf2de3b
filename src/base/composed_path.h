// Paths composed into fixed-size buffers. A path that does not fit is cut like
// any other text, but the cut text names some other file, so callers treat a
// path that did not fit as one that does not exist.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <span>

namespace kelmar {

// snprintf into dst, cut at dst.size()-1 characters. True when nothing was cut.
[[nodiscard, gnu::format(printf, 2, 3)]] inline bool ComposePath(std::span<char> dst, const char* format, ...) {
  if (dst.empty()) return false;
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(dst.data(), dst.size(), format, args);
  va_end(args);
  return needed >= 0 && static_cast<std::size_t>(needed) < dst.size();
}

// The error a file operation reports for a path that is too long.
inline constexpr int kCutPathErrno = ENAMETOOLONG;

}  // namespace kelmar
