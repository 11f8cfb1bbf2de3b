#include "host_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kelmar::testing {

std::string ScratchDir() {
  char path[] = "/tmp/kelmar-test-XXXXXX";
  if (mkdtemp(path) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return path;
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u ^ (seed * 2654435761u);
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

std::vector<std::string> Listing(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

host::HostCommand Command(const std::vector<std::string>& args) {
  const host::ParsedCommandLine parsed = host::ParseCommandLine(args);
  EXPECT_EQ(parsed.outcome, host::ParsedCommandLine::Outcome::kRun) << parsed.error;
  return parsed.command;
}

}  // namespace kelmar::testing
