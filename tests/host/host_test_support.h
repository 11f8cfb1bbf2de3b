// Files, images and programs for the tests of kelmar-host, kelmar-check and the library seen through them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "testbed/isolation.h"
#include "testbed/program_run.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace kelmar::testing {

using Names = std::vector<std::string>;

// Bytes that differ from place to place and from seed to seed.
inline std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
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
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}



}  // namespace kelmar::testing
