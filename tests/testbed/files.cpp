#include "testbed/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kelmar::testbed {

void MakeDirs(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  ASSERT_TRUE(std::ofstream(path, std::ios::binary | std::ios::trunc) << content) << "cannot write " << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

}  // namespace kelmar::testbed
