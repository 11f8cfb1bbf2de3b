// The trace formatter with any texts, process ID and date, checked by what a reader of the trace relies on.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "log/trace_log.h"

namespace {

constexpr std::size_t kMessageChars = 2046;

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

std::string TwoDigits(long long value) { return (value < 10 ? "0" : "") + std::to_string(value); }

bool IsControl(char character) { return (character >= 0 && character < 0x20) || character == 0x7f; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  constexpr std::array<const char*, 4> kTags{"sqluvint()", "initializeFptrs()", "GetVorlanInstanceName",
                                             "get_first_vorlan_instname"};
  const char* tag = kTags[input.Byte() % kTags.size()];
  const int pid = input.Number();
  const int number = input.Number();
  const std::size_t counted = input.Byte();
  std::tm when{};  // fields in the ranges localtime_r gives; any year from 1900 on
  when.tm_mon = input.Byte() % 12;
  when.tm_mday = 1 + input.Byte() % 31;
  when.tm_year = input.Number() & 0x7fffffff;
  when.tm_hour = input.Byte() % 24;
  when.tm_min = input.Byte() % 60;
  when.tm_sec = input.Byte() % 61;
  // Three texts, separated by NUL bytes, as the C strings they become.
  const std::string rest(input.bytes);
  const std::string first = rest.c_str();
  const std::string second = rest.substr(std::min(rest.size(), first.size() + 1)).c_str();
  const std::string third = rest.substr(std::min(rest.size(), first.size() + second.size() + 2)).c_str();
  const std::string some_of_second = second.substr(0, counted);
  // The library's kinds of formats, joined: texts, a number, a pointer and a counted text.
  const std::string line =
      Line(pid, when, tag, "loading \"%s\", error = \"%s\", pwd=\"%s\" errno: %d %p, %.*s\n", first.c_str(),
           second.c_str(), third.c_str(), number, nullptr, static_cast<int>(counted), second.c_str());
  const std::string message = std::string(tag) + ": loading \"" + first + "\", error = \"" + second + "\", pwd=\"" +
                              third + "\" errno: " + std::to_string(number) + " (nil), " + some_of_second + "\n";
  SqluvErrorLog(tag, "...opType: %s", first.c_str());
  const std::string date = TwoDigits(when.tm_mon + 1) + "/" + TwoDigits(when.tm_mday) + "/" +
                           TwoDigits((1900LL + when.tm_year) % 100);
  const std::string time_of_day = TwoDigits(when.tm_hour) + ":" + TwoDigits(when.tm_min) + ":" + TwoDigits(when.tm_sec);
  const std::string prefix = "LIBKELMAR-" + std::to_string(pid) + ": " + date + " " + time_of_day + " ";
  if (!line.starts_with(prefix) || !line.ends_with('\n')) std::abort();
  const std::string_view shown = std::string_view(line).substr(prefix.size(), line.size() - prefix.size() - 1);
  if (shown.size() > kMessageChars) std::abort();
  // One line: no text of the message breaks it, but the line feed that ends the format when it fits.
  const std::string_view text = shown.substr(0, shown.find_last_not_of('\n') + 1);
  if (std::ranges::any_of(text, IsControl) || shown.size() > text.size() + 1) std::abort();
  // Texts without a control character or backslash, which the trace shows escaped, appear as they are, cut at the bound.
  const auto escaped = [](char character) { return IsControl(character) || character == '\\'; };
  if (std::ranges::any_of(first + second + third, escaped)) return 0;
  if (shown.size() < message.size() && shown.size() < kMessageChars) std::abort();
  if (!message.starts_with(shown)) std::abort();
  return 0;
}
