// The trace formatter with any texts for the library's own formats, any process ID and any date localtime_r can
// give: the line stays inside its buffer and is exactly its prefix, the message cut at 2046 characters, and the
// line feed.
#include <array>
#include <cstdarg>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Formats one line both ways and compares: the library's formatter, and snprintf with the tag put before.
void CheckLine(int pid, const std::tm& when, const char* tag, const char* format, ...) {
  std::array<char, kelmar::kTraceLineBytes + 1> line;
  line.back() = '#';
  va_list args, measure, again;
  va_start(args, format);
  va_copy(measure, args);
  va_copy(again, args);
  const std::size_t length = kelmar::FormatTraceLine(
      std::span<char, kelmar::kTraceLineBytes>(line.data(), kelmar::kTraceLineBytes), pid, when, tag, format, args);
  const std::string full = std::string(tag) + ": " + format;
  std::string message(static_cast<std::size_t>(std::max(0, std::vsnprintf(nullptr, 0, full.c_str(), measure))), '\0');
  std::vsnprintf(message.data(), message.size() + 1, full.c_str(), again);
  va_end(again);
  va_end(measure);
  va_end(args);
  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "LIBKELMAR-%d: %02d/%02d/%02d %02d:%02d:%02d ", pid, when.tm_mon + 1,
                when.tm_mday, when.tm_year % 100, when.tm_hour, when.tm_min, when.tm_sec);
  if (line.back() != '#' || length >= kelmar::kTraceLineBytes || length != std::strlen(line.data()) ||
      std::string(line.data(), length) != prefix + message.substr(0, 2046) + "\n") {
    std::abort();
  }
}
#pragma GCC diagnostic pop

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  constexpr std::array<const char*, 4> kTags{"sqluvint()", "initializeFptrs()", "GetVorlanInstanceName",
                                             "get_first_vorlan_instname"};
  const int format = input.Byte() % 3;
  const char* tag = kTags[input.Byte() % kTags.size()];
  const auto number = [&] {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | input.Byte();
    return static_cast<int>(value);
  };
  const int pid = number();
  std::tm when{};  // fields in the ranges localtime_r gives; any year it can represent
  when.tm_mon = input.Byte() % 12;
  when.tm_mday = 1 + input.Byte() % 31;
  when.tm_year = number();
  when.tm_hour = input.Byte() % 24;
  when.tm_min = input.Byte() % 60;
  when.tm_sec = input.Byte() % 61;
  const int n = number();
  // Up to three texts, separated by NUL bytes, as the C strings they become.
  const std::string rest(input.Rest());
  const char* texts[3] = {rest.c_str(), "", ""};
  for (int i = 1; i < 3; ++i) {
    const char* after = texts[i - 1] + std::strlen(texts[i - 1]);
    texts[i] = after < rest.c_str() + rest.size() ? after + 1 : after;
  }
  switch (format) {  // the library's formats with texts among their arguments
    case 0:
      CheckLine(pid, when, tag, "dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\"", texts[0], texts[1],
                texts[2]);
      break;
    case 1: CheckLine(pid, when, tag, "stat(%s) failed, errno: %d\n", texts[0], n); break;
    default:
      CheckLine(pid, when, tag, "inPtr: %p, %.*s\n", static_cast<const void*>(texts[1]),
                static_cast<int>(std::strlen(texts[1])), texts[1]);
  }
  SqluvErrorLog(tag, "...opType: %s", texts[0]);
  return 0;
}
