#include "discovery/properties_readers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kelmar {
namespace {

constexpr int kHomePieceChars = 1022;
constexpr int kRegValuePieceChars = 1023;

// One piece of the file, read by fgets: a line, or the next part of a longer one.
struct Piece {
  char bytes[kPathBytes] = {};
  bool ReadFrom(std::FILE* file, int chars) { return std::fgets(bytes, chars + 1, file) != nullptr; }
  std::string_view text() const { return bytes; }
};

constexpr std::string_view kHomeSeparators = " \t\n";

// The next word of `text` from `position` on; empty when there is none.
std::string_view NextWord(std::string_view text, std::size_t& position) {
  const std::size_t begin = text.find_first_not_of(kHomeSeparators, position);
  if (begin == std::string_view::npos) {
    position = text.size();
    return {};
  }
  const std::size_t end = std::min(text.find_first_of(kHomeSeparators, begin), text.size());
  position = end;
  return {text.data() + begin, end - begin};
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::size_t SkipSpace(std::string_view text, std::size_t position) {
  while (position < text.size() && IsSpace(text[position])) ++position;
  return position;
}

std::size_t FindSpace(std::string_view text) {
  std::size_t position = 0;
  while (position < text.size() && !IsSpace(text[position])) ++position;
  return position;
}

}  // namespace

bool ReadHomeDirectory(std::FILE* file, std::span<char> home, HomeLine* line) {
  Piece piece;
  while (piece.ReadFrom(file, kHomePieceChars)) {
    std::size_t position = 0;
    if (NextWord(piece.text(), position) != kHomeKey) continue;
    const std::string_view value = NextWord(piece.text(), position);
    if (line != nullptr) {
      std::string_view rest = piece.text();
      rest.remove_prefix(position);
      line->found = true;
      CopyBounded(line->rest.span(), {rest.data(), std::min(rest.find('\n'), rest.size())});
    }
    if (value.empty()) return false;
    CopyBounded(home, value);
    return true;
  }
  return false;
}

bool ReadRegValue(std::FILE* file, std::string_view key, std::span<char> value) {
  Piece piece;
  while (piece.ReadFrom(file, kRegValuePieceChars)) {
    const std::string_view text = piece.text();
    const std::size_t key_end = FindSpace(text);
    if (std::string_view(text.data(), key_end) != key) continue;
    std::string_view rest = text;
    rest.remove_prefix(SkipSpace(text, key_end));
    CopyBounded(value, {rest.data(), std::min(rest.find('\n'), rest.size())});
    return true;
  }
  return false;
}

}  // namespace kelmar
