#include "testbed/registry_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kelmar::testbed {

void MakeDirs(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file) << "cannot write " << path;
    file << content;
  }
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

RegistryTree::RegistryTree(std::string root) : root_(std::move(root)) { MakeDirs(root_ + "/Vorlan"); }

std::string RegistryTree::InstanceDir(const std::string& instance) const { return root_ + "/Vorlan/" + instance; }

std::string RegistryTree::PropertiesPath(const std::string& instance) const {
  return InstanceDir(instance) + "/Base/.properties";
}

void RegistryTree::AddInstance(const std::string& instance, bool with_agent) const {
  MakeDirs(InstanceDir(instance) + "/Base");
  if (with_agent) MakeDirs(InstanceDir(instance) + "/Db2Agent");
}

void RegistryTree::WriteProperties(const std::string& instance, const std::string& content) const {
  AddInstance(instance, false);
  WriteFile(PropertiesPath(instance), content);
}

std::string RegistryTree::Install(const std::string& instance, const std::string& home,
                                  const std::string& backend) const {
  AddInstance(instance, true);
  WriteProperties(instance, "dVORLANHOME " + home + "\n");
  const std::string base = home + "/Base";
  MakeDirs(base);
  const std::string library = base + "/libXjKelmar.so";
  if (backend.empty()) {
    WriteFile(library, "", 0755);
  } else {
    std::error_code error;
    std::filesystem::copy_file(backend, library, std::filesystem::copy_options::overwrite_existing, error);
    EXPECT_FALSE(error) << backend << ": " << error.message();
    chmod(library.c_str(), 0755);
  }
  return base;
}

void RegistryTree::Export() const { setenv("XJREG", root_.c_str(), 1); }

}  // namespace kelmar::testbed
