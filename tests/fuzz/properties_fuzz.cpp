// The two `.properties` readers over any file contents, with any key and any room for the value, checked against
// the readers' rules worked out here independently.
#include <cctype>
#include <optional>
#include <string>

#include "discovery/properties_readers.h"
#include "fuzz/fuzz_support.h"
#include "kelmar/libkelmar.h"
#include "testbed/caller_buffer.h"

namespace {

using Text = std::optional<std::string>;
constexpr const char* kFile = "/tmp/fuzz.properties";

// What a reader finds: `match` on the pieces fgets hands out (lines of at most `chars` characters, the rest of a
// longer line as further pieces), each up to its first NUL.
template <typename Match>
Text Find(const std::string& contents, std::size_t chars, Match match) {
  for (std::size_t at = 0, end; at < contents.size(); at = end) {
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
  if (key == std::string::npos || text.substr(key, text.find_first_of(separators, key) - key) != "dVORLANHOME") {
    return std::nullopt;
  }
  const std::size_t value = text.find_first_not_of(separators, key + 11);
  return value == std::string::npos ? Text() : text.substr(value, text.find_first_of(separators, value) - value);
}

// get_reg_value's reader: the key runs to the first white space, the value from the white space after it to the
// line feed.
std::optional<Text> RegValue(const std::string& text, const std::string& key) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  std::size_t key_end = 0, from;
  while (key_end < text.size() && !space(text[key_end])) ++key_end;
  if (text.compare(0, key_end, key) != 0) return std::nullopt;
  for (from = key_end; from < text.size() && space(text[from]);) ++from;
  return text.substr(from, text.find('\n', from) - from);
}

void Check(const kelmar::testbed::CallerBuffer& buffer, bool found, const Text& expected) {
  if (buffer.WrittenPastCapacity() || found != expected.has_value() ||
      (found ? buffer.Text() != expected->substr(0, buffer.capacity() - 1) : !buffer.Untouched())) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  kelmar::testbed::CallerBuffer home(input.Capacity()), value(input.Capacity());
  const std::string key(input.Take(input.Byte() % 32)), contents(input.Rest());
  std::FILE* file = std::fopen(kFile, "wb");
  if (file == nullptr || std::fwrite(contents.data(), 1, contents.size(), file) != contents.size()) std::abort();
  std::fclose(file);
  file = std::fopen(kFile, "rb");
  kelmar::HomeLine line;  // as kelmar-check asks for it
  const bool home_found = kelmar::ReadHomeDirectory(file, {home.data(), home.capacity()}, &line);
  std::fclose(file);
  Check(home, home_found, Find(contents, 1022, Home));
  const std::string c_key = key.substr(0, key.find('\0'));  // as a C caller passes it
  const int result = get_reg_value(nullptr, kFile, c_key.c_str(), value.data(), static_cast<int>(value.capacity()));
  if (result != 0 && result != -1) std::abort();
  Check(value, result == 0, Find(contents, 1023, [&](const std::string& text) { return RegValue(text, c_key); }));
  return 0;
}
