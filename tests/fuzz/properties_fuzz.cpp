// The two `.properties` readers over any file contents, with any key and any
// room for the value. Each result is checked against the readers' rules,
// worked out here independently of the library's code.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "discovery/properties_readers.h"
#include "fuzz/fuzz_support.h"
#include "kelmar/libkelmar.h"
#include "testbed/caller_buffer.h"

namespace {

using kelmar::fuzz::Input;

constexpr const char* kFile = "/tmp/fuzz.properties";

// The file as fgets hands it out in pieces of at most `chars` characters,
// each seen as the text up to its first NUL.
template <typename Visit>
bool ForEachPiece(const std::string& contents, std::size_t chars, Visit visit) {
  for (std::size_t at = 0; at < contents.size();) {
    std::size_t end = contents.find('\n', at);
    end = end == std::string::npos ? contents.size() : end + 1;
    if (end - at > chars) end = at + chars;
    const std::string piece = contents.substr(at, end - at);
    if (visit(piece.substr(0, piece.find('\0')))) return true;
    at = end;
  }
  return false;
}

// The base directory's reader: first word "dVORLANHOME", value its second word.
std::optional<std::string> HomeIn(const std::string& contents) {
  std::optional<std::string> home;
  ForEachPiece(contents, 1022, [&](const std::string& text) {
    const std::string separators = " \t\n";
    const std::size_t key = text.find_first_not_of(separators);
    if (key == std::string::npos) return false;
    const std::size_t key_end = std::min(text.find_first_of(separators, key), text.size());
    if (text.compare(key, key_end - key, "dVORLANHOME") != 0 || key_end - key != 11) return false;
    const std::size_t value = text.find_first_not_of(separators, key_end);
    if (value != std::string::npos) home = text.substr(value, text.find_first_of(separators, value) - value);
    return true;
  });
  return home;
}

// get_reg_value's reader: the key runs to the first white space of the piece,
// the value from the white space after it to the line feed.
std::optional<std::string> RegValueIn(const std::string& contents, const std::string& key) {
  std::optional<std::string> value;
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  ForEachPiece(contents, 1023, [&](const std::string& text) {
    std::size_t key_end = 0;
    while (key_end < text.size() && !space(text[key_end])) ++key_end;
    if (text.compare(0, key_end, key) != 0) return false;
    std::size_t from = key_end;
    while (from < text.size() && space(text[from])) ++from;
    value = text.substr(from, text.find('\n', from) - from);
    return true;
  });
  return value;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

void CheckReadInto(const kelmar::testbed::CallerBuffer& buffer, bool found, const std::optional<std::string>& expected) {
  Check(!buffer.WrittenPastCapacity());
  Check(found == expected.has_value());
  if (found) {
    Check(buffer.Text() == expected->substr(0, buffer.capacity() - 1));
  } else {
    Check(buffer.Untouched());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::size_t home_capacity = kelmar::fuzz::CapacityFrom(input.Byte());
  const std::size_t value_capacity = kelmar::fuzz::CapacityFrom(input.Byte());
  const std::string key(input.Take(input.Byte() % 32));
  const std::string contents(input.Rest());

  std::FILE* file = std::fopen(kFile, "wb");
  Check(file != nullptr && std::fwrite(contents.data(), 1, contents.size(), file) == contents.size());
  std::fclose(file);

  kelmar::testbed::CallerBuffer home(home_capacity);
  file = std::fopen(kFile, "rb");
  Check(file != nullptr);
  const bool home_found = kelmar::ReadHomeDirectory(file, {home.data(), home.capacity()});
  std::fclose(file);
  CheckReadInto(home, home_found, HomeIn(contents));

  // The key as a C caller passes it: up to its first NUL.
  const std::string c_key = key.substr(0, key.find('\0'));
  kelmar::testbed::CallerBuffer value(value_capacity);
  const int result = get_reg_value(nullptr, kFile, c_key.c_str(), value.data(), static_cast<int>(value_capacity));
  Check(result == 0 || result == -1);
  CheckReadInto(value, result == 0, RegValueIn(contents, c_key));
  return 0;
}
