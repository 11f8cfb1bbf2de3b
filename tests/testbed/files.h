// Files and directories as the cases make and read them.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kelmar::testbed {

using Names = std::vector<std::string>;

// `items`, then `more`: lines, arguments or calls joined in order.
template <typename Item>
std::vector<Item> operator+(std::vector<Item> items, const std::vector<Item>& more) {
  items.insert(items.end(), more.begin(), more.end());
  return items;
}

void MakeDirs(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);

// Bytes that differ from place to place and from seed to seed.
inline std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 16);
  }
  return bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The names in `dir`, sorted; none when it does not exist.
inline Names Listing(const std::string& dir) {
  Names names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename());
  }
  std::ranges::sort(names);
  return names;
}

// `text` cut at its newlines; a last line without one counts too.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace kelmar::testbed
