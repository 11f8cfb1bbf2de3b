#include "log/trace_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "log/switch_files.h"

namespace {
// Relaxed is enough: it only ever goes from false to true, before the
// program runs any of the library's code.
constinit std::atomic<bool> trace_switched_off{false};

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

void SwitchTraceOffForThisProcess() { trace_switched_off.store(true, std::memory_order_relaxed); }

std::size_t FormatTraceLine(std::span<char, kTraceLineBytes> line, int pid, const std::tm& when, const char* tag,
                            const char* format, va_list args) {
  char combined[kTraceTextBytes];
  std::snprintf(combined, kTraceTextBound, "%s: %s", tag, format);

  char message[kTraceTextBytes];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(message, kTraceTextBound, combined, args);
#pragma GCC diagnostic pop

  const int length = std::snprintf(line.data(), line.size(), "LIBKELMAR-%d: %02d/%02d/%02d %02d:%02d:%02d %s\n", pid,
                                   when.tm_mon + 1, when.tm_mday, when.tm_year % 100, when.tm_hour, when.tm_min,
                                   when.tm_sec, message);
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

}  // namespace kelmar

void SqluvErrorLog(const char* tag, const char* format, ...) {
  if (trace_switched_off.load(std::memory_order_relaxed)) return;
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
