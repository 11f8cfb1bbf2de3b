// The trace formatter with any texts for the library's own formats, any
// process ID and any date the local-time conversion can give: the line stays
// inside its buffer and is exactly its prefix, the message cut at 2046
// characters, and the line feed.
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "log/trace_log.h"

namespace {

using kelmar::fuzz::Input;

// The library's formats with texts among their arguments, by argument list.
enum class Arguments { kText, kThreeTexts, kTextAndNumber, kPointerAndCountedText };
struct TraceFormat {
  const char* format;
  Arguments arguments;
};
constexpr std::array<TraceFormat, 6> kFormats{{
    {"...opType: %s", Arguments::kText},
    {"VORLAN_INST is set to %s", Arguments::kText},
    {"dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\"", Arguments::kThreeTexts},
    {"putenv(%s) failed with error: %d", Arguments::kTextAndNumber},
    {"stat(%s) failed, errno: %d\n", Arguments::kTextAndNumber},
    {"inPtr: %p, %.*s\n", Arguments::kPointerAndCountedText},
}};
constexpr std::array<const char*, 4> kTags{"sqluvint()", "initializeFptrs()", "GetVorlanInstanceName",
                                           "get_first_vorlan_instname"};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string Formatted(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  return text;
}
#pragma GCC diagnostic pop

void Check(bool holds) {
  if (!holds) std::abort();
}

// Formats one line both ways and compares.
void CheckLine(int pid, const std::tm& when, const char* tag, const char* format, ...) {
  std::array<char, kelmar::kTraceLineBytes + 1> line;
  line.back() = '#';
  va_list args;
  va_start(args, format);
  const std::size_t length =
      kelmar::FormatTraceLine(std::span<char, kelmar::kTraceLineBytes>(line.data(), kelmar::kTraceLineBytes), pid,
                              when, tag, format, args);
  va_end(args);
  Check(line.back() == '#');
  Check(length < kelmar::kTraceLineBytes && length == std::strlen(line.data()));

  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "LIBKELMAR-%d: %02d/%02d/%02d %02d:%02d:%02d ", pid, when.tm_mon + 1,
                when.tm_mday, when.tm_year % 100, when.tm_hour, when.tm_min, when.tm_sec);
  va_start(args, format);
  const std::string message = Formatted((std::string(tag) + ": " + format).c_str(), args);
  va_end(args);
  Check(std::string(line.data(), length) == prefix + message.substr(0, 2046) + "\n");
}

int Int(Input& input) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | input.Byte();
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const TraceFormat& format = kFormats[input.Byte() % kFormats.size()];
  const char* tag = kTags[input.Byte() % kTags.size()];
  const int pid = Int(input);
  // Fields in the ranges localtime_r gives; any year it can represent.
  std::tm when{};
  when.tm_mon = input.Byte() % 12;
  when.tm_mday = 1 + input.Byte() % 31;
  when.tm_year = Int(input);
  when.tm_hour = input.Byte() % 24;
  when.tm_min = input.Byte() % 60;
  when.tm_sec = input.Byte() % 61;
  const int number = Int(input);

  // Up to three texts, separated by NUL bytes, as the C strings they become.
  std::vector<std::string> texts;
  const std::string_view rest = input.Rest();
  for (std::size_t at = 0; texts.size() < 3;) {
    const std::size_t end = std::min(rest.find('\0', at), rest.size());
    texts.emplace_back(rest.substr(std::min(at, rest.size()), end - std::min(at, rest.size())));
    at = end + 1;
  }

  switch (format.arguments) {
    case Arguments::kText:
      CheckLine(pid, when, tag, format.format, texts[0].c_str());
      SqluvErrorLog(tag, format.format, texts[0].c_str());
      break;
    case Arguments::kThreeTexts:
      CheckLine(pid, when, tag, format.format, texts[0].c_str(), texts[1].c_str(), texts[2].c_str());
      break;
    case Arguments::kTextAndNumber:
      CheckLine(pid, when, tag, format.format, texts[0].c_str(), number);
      break;
    case Arguments::kPointerAndCountedText:
      CheckLine(pid, when, tag, format.format, static_cast<const void*>(texts[1].data()),
                static_cast<int>(texts[1].size()), texts[1].data());
      break;
  }
  return 0;
}
