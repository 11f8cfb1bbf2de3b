// The two `.properties` readers over any contents, key and room, checked against their rules worked out here.
#include <cctype>

#include "discovery/properties_readers.h"
#include "fuzz/fuzz_support.h"
#include "kelmar/libkelmar.h"

namespace {

using kelmar::fuzz::Text;
constexpr const char* kFile = "/tmp/fuzz.properties";
constexpr std::size_t kLongestKey = 31;
constexpr std::string_view kHomeKey = "dVORLANHOME";
constexpr std::size_t kHomePieceChars = 1022;   // the base directory's reader
constexpr std::size_t kValuePieceChars = 1023;  // get_reg_value's

// `match` on the pieces fgets hands out (lines of at most `chars` characters, then the rest), each up to a NUL.
template <typename Match>
Text Find(const std::string& contents, std::size_t chars, Match match) {
  std::size_t end = 0;
  for (std::size_t at = 0; at < contents.size(); at = end) {
    end = std::min(std::min(contents.find('\n', at), contents.size() - 1) + 1, at + chars);
    const std::string piece = contents.substr(at, end - at);
    if (std::optional<Text> found = match(piece.substr(0, piece.find('\0')))) return *found;
  }
  return std::nullopt;
}

// The base directory's reader: first word "dVORLANHOME", value its second word; none ends the reading.
std::optional<Text> Home(const std::string& text) {
  const char* separators = " \t\n";
  const std::size_t key = text.find_first_not_of(separators);
  if (key == std::string::npos || text.substr(key, text.find_first_of(separators, key) - key) != kHomeKey) {
    return std::nullopt;
  }
  const std::size_t value = text.find_first_not_of(separators, key + kHomeKey.size());
  return value == std::string::npos ? Text() : text.substr(value, text.find_first_of(separators, value) - value);
}

// get_reg_value's reader: the key runs to the first white space, the value from the next non-space to the line feed.
std::optional<Text> RegValue(const std::string& text, const std::string& key) {
  const auto space = [](char character) { return std::isspace(static_cast<unsigned char>(character)) != 0; };
  std::size_t key_end = 0;
  while (key_end < text.size() && !space(text[key_end])) ++key_end;
  if (text.compare(0, key_end, key) != 0) return std::nullopt;
  std::size_t from = key_end;
  while (from < text.size() && space(text[from])) ++from;
  return text.substr(from, text.find('\n', from) - from);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  kelmar::testbed::CallerBuffer home(input.Capacity());
  kelmar::testbed::CallerBuffer value(input.Capacity());
  const std::string key(input.Take(input.Byte() % (kLongestKey + 1)));
  const std::string contents(input.bytes);
  std::FILE* file = std::fopen(kFile, "wb");
  if (file == nullptr || std::fwrite(contents.data(), 1, contents.size(), file) != contents.size()) std::abort();
  std::fclose(file);
  file = std::fopen(kFile, "rb");
  kelmar::HomeLine line;  // as kelmar-check asks for it
  const bool home_found = kelmar::ReadHomeDirectory(file, {home.data(), home.capacity()}, &line);
  std::fclose(file);
  kelmar::fuzz::CheckHandedBack(home, home_found, Find(contents, kHomePieceChars, Home));
  const std::string c_key = key.substr(0, key.find('\0'));  // as a C caller passes it
  const int result = get_reg_value(nullptr, kFile, c_key.c_str(), value.data(), static_cast<int>(value.capacity()));
  if (result != 0 && result != -1) std::abort();
  const auto reg_value = [&](const std::string& text) { return RegValue(text, c_key); };
  kelmar::fuzz::CheckHandedBack(value, result == 0, Find(contents, kValuePieceChars, reg_value));
  return 0;
}
