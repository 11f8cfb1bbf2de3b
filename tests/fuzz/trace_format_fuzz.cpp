// The trace formatter with any texts among the library's kinds of arguments, any process ID and any date
// localtime_r can give: the line stays inside its buffer and is exactly its prefix, the message cut at 2046
// characters, and the line feed; texts with control characters or backslashes show no control character before it.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "log/trace_log.h"

namespace {

// The library's line; a write past its buffer, or a length other than the text's, is a finding.
std::string Line(int pid, const std::tm& when, const char* tag, const char* format, ...) {
  std::array<char, kelmar::kTraceLineBytes + 1> line;
  line.back() = '#';
  va_list args;
  va_start(args, format);
  const std::size_t length = kelmar::FormatTraceLine(
      std::span<char, kelmar::kTraceLineBytes>(line.data(), kelmar::kTraceLineBytes), pid, when, tag, format, args);
  va_end(args);
  if (line.back() != '#' || length >= kelmar::kTraceLineBytes || length != std::strlen(line.data())) std::abort();
  return std::string(line.data(), length);
}

bool HasControl(std::string_view text) {
  return std::ranges::any_of(text, [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; });
}

// Compares that line with snprintf's, the tag put before the format and the message cut at 2046 characters.
template <typename... Args>
void CheckLine(bool plain, int pid, const std::tm& when, const char* tag, const char* format, Args... args) {
  char prefix[128], message[2047];
  std::snprintf(prefix, sizeof prefix, "LIBKELMAR-%d: %02d/%02d/%02d %02d:%02d:%02d ", pid, when.tm_mon + 1,
                when.tm_mday, when.tm_year % 100, when.tm_hour, when.tm_min, when.tm_sec);
  std::snprintf(message, sizeof message, (std::string(tag) + ": " + format).c_str(), args...);
  const std::string line = Line(pid, when, tag, format, args...);
  const std::string_view text = std::string_view(line).substr(0, line.find_last_not_of('\n') + 1);
  if ((plain && line != std::string(prefix) + message + "\n") || HasControl(text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  constexpr std::array<const char*, 4> kTags{"sqluvint()", "initializeFptrs()", "GetVorlanInstanceName",
                                             "get_first_vorlan_instname"};
  const char* tag = kTags[input.Byte() % kTags.size()];
  const auto number = [&] {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | input.Byte();
    return static_cast<int>(value);
  };
  const int pid = number(), n = number();
  std::tm when{};  // fields in the ranges localtime_r gives; any year it can represent
  when.tm_mon = input.Byte() % 12;
  when.tm_mday = 1 + input.Byte() % 31;
  when.tm_year = number();
  when.tm_hour = input.Byte() % 24;
  when.tm_min = input.Byte() % 60;
  when.tm_sec = input.Byte() % 61;
  // Up to three texts, separated by NUL bytes, as the C strings they become.
  const std::string rest(input.Rest());
  const char* texts[3] = {rest.c_str(), "", ""};
  for (int i = 1; i < 3; ++i) {
    const char* after = texts[i - 1] + std::strlen(texts[i - 1]);
    texts[i] = after < rest.c_str() + rest.size() ? after + 1 : after;
  }
  // The library's formats, joined: texts, a number, a pointer and a counted text among the arguments.
  const auto escaped = [](const char* text) { return HasControl(text) || std::strchr(text, '\\') != nullptr; };
  CheckLine(std::ranges::none_of(texts, escaped), pid, when, tag,
            "dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\"stat(%s) failed, errno: %d inPtr: %p, %.*s\n",
            texts[0], texts[1], texts[2], texts[0], n, static_cast<const void*>(texts[1]),
            static_cast<int>(std::strlen(texts[1])), texts[1]);
  SqluvErrorLog(tag, "...opType: %s", texts[0]);
  return 0;
}
