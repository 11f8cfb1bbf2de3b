#include "testbed/registry_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

RegistryTree::RegistryTree(std::string root) : root_(std::move(root)) { MakeDirs(root_ + "/Vorlan"); }

void RegistryTree::AddInstance(const std::string& instance, bool with_agent) const {
  MakeDirs(InstanceDir(instance) + "/Base");
  if (with_agent) MakeDirs(InstanceDir(instance) + "/Db2Agent");
}

void RegistryTree::WriteProperties(const std::string& instance, const std::string& content) const {
  AddInstance(instance, false);
  WriteFile(InstanceDir(instance) + "/Base/.properties", content);
}

std::string RegistryTree::Install(const std::string& instance, const std::string& home,
                                  const std::string& backend) const {
  AddInstance(instance, true);
  WriteProperties(instance, "dVORLANHOME " + home + "\n");
  MakeDirs(home + "/Base");
  std::ifstream copied(backend, std::ios::binary);
  EXPECT_TRUE(backend.empty() || copied) << "cannot read " << backend;
  WriteFile(home + "/Base/libXjKelmar.so", backend.empty() ? "" : (std::ostringstream() << copied.rdbuf()).str(), 0755);
  return home + "/Base";
}

void RegistryTree::Export() const { setenv("XJREG", root_.c_str(), 1); }

}  // namespace kelmar::testbed
