#include "log/trace_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "base/process_state.h"
#include "log/switch_files.h"

namespace {

// How a character of a message is shown: itself, or its escape.
struct Shown {
  char text[4];
  std::size_t length;
};

// The library's formats hold no control character but the line feeds some
// end with. Every other control character of a message, and every backslash,
// comes from outside (DB2's options, the environment, the registry, file
// names, dlerror) and is shown escaped, so that no such text begins a line of
// its own or passes for an escape.
Shown ShowFromOutside(char character) {
  switch (character) {
    case '\n': return {{'\\', 'n'}, 2};
    case '\r': return {{'\\', 'r'}, 2};
    case '\t': return {{'\\', 't'}, 2};
    case '\\': return {{'\\', '\\'}, 2};
    default: break;
  }
  const auto byte = static_cast<unsigned char>(character);
  if (byte >= 0x20 && byte != 0x7f) return {{character}, 1};
  constexpr std::string_view kDigits = "0123456789abcdef";
  return {{'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xf]}, 4};
}

// `message` as the trace shows it, within the same bound: escaped, but for
// the `kept` line feeds its format ends with. An escape that does not fit is
// cut whole, with all that follows it.
void ShowMessage(std::string_view message, std::size_t kept, std::span<char, kelmar::kTraceTextBytes> shown) {
  constexpr std::size_t kMostCharacters = kelmar::kTraceTextBound - 1;
  std::size_t used = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const Shown piece = i < message.size() - kept ? ShowFromOutside(message[i]) : Shown{{'\n'}, 1};
    if (used + piece.length > kMostCharacters) break;
    std::memcpy(&shown[used], piece.text, piece.length);
    used += piece.length;
  }
  shown[used] = '\0';
}

std::size_t TrailingLineFeeds(std::string_view text) {
  const std::size_t last = text.find_last_not_of('\n');
  return last == std::string_view::npos ? text.size() : text.size() - last - 1;
}

// One write, so that the lines of concurrent writers stay whole. A full file
// system takes only the part of a line that fits in its last free block; that
// part is cut off again, so that the next line starts on a line of its own.
// The file has then grown past it only if space came back at that very moment
// and another line followed: that line is left alone.
void AppendWhole(int fd, const char* line, std::size_t length) {
  const ssize_t written = write(fd, line, length);
  if (written <= 0 || static_cast<std::size_t>(written) == length) return;
  const off_t end = lseek(fd, 0, SEEK_CUR);
  struct stat file {};
  if (end >= written && fstat(fd, &file) == 0 && file.st_size == end) {
    [[maybe_unused]] const int cut = ftruncate(fd, end - written);
  }
}

}  // namespace

namespace kelmar {

void SwitchTraceOffForThisProcess() { process_state.trace_switched_off.store(true, std::memory_order_relaxed); }

std::size_t FormatTraceLine(std::span<char, kTraceLineBytes> line, int pid, const std::tm& when, const char* tag,
                            const char* format, va_list args) {
  char combined[kTraceTextBytes];
  std::snprintf(combined, kTraceTextBound, "%s: %s", tag, format);

  char message[kTraceTextBytes];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int needed = std::vsnprintf(message, kTraceTextBound, combined, args);
#pragma GCC diagnostic pop
  // The format's own line feeds end the message unless it was cut.
  const bool whole = needed >= 0 && static_cast<std::size_t>(needed) < kTraceTextBound;
  const std::string_view text = message;
  char shown[kTraceTextBytes];
  ShowMessage(text, whole ? std::min(TrailingLineFeeds(combined), text.size()) : 0, shown);

  const int length = std::snprintf(line.data(), line.size(), "LIBKELMAR-%d: %02d/%02d/%02d %02d:%02d:%02d %s\n", pid,
                                   when.tm_mon + 1, when.tm_mday, when.tm_year % 100, when.tm_hour, when.tm_min,
                                   when.tm_sec, shown);
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

}  // namespace kelmar

void SqluvErrorLog(const char* tag, const char* format, ...) {
  if (kelmar::process_state.trace_switched_off.load(std::memory_order_relaxed)) return;
  // The line carries the moment the call began, so the clock comes first; the
  // rest is paid only when the file is there.
  const std::time_t now = std::time(nullptr);
  const int fd = kelmar::OpenTraceFile();
  if (fd < 0) return;

  std::tm when{};
  localtime_r(&now, &when);

  char line[kelmar::kTraceLineBytes];
  va_list args;
  va_start(args, format);
  const std::size_t length = kelmar::FormatTraceLine(line, getpid(), when, tag, format, args);
  va_end(args);

  AppendWhole(fd, line, length);
  close(fd);
}
