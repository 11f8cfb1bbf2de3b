#include "testbed/installation.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testbed/files.h"
#include "testbed/trace_reader.h"

namespace kelmar::testbed {

Installation::Installation(std::string registry_root) : root_(std::move(registry_root)) {
  MakeDirs(root_ + "/Vorlan");
}

Installation& Installation::Instance(const std::string& name, Agent agent) {
  instance_ = name;
  MakeDirs(InstanceDir() + "/Base");
  if (agent == Agent::kPresent) {
    MakeDirs(InstanceDir() + "/Db2Agent");
  }
  return *this;
}

Installation& Installation::Properties(const std::string& text) {
  WriteFile(InstanceDir() + "/Base/.properties", text);
  return *this;
}

Installation& Installation::Home(const std::string& home) {
  home_ = home;
  Properties("dVORLANHOME " + home + "\n");
  MakeDirs(BaseDir());
  return *this;
}

Installation& Installation::Backend(const std::string& variant) {
  const std::string content = variant.empty() ? "" : ReadFile(variant);
  EXPECT_TRUE(variant.empty() || !content.empty()) << "cannot read " << variant;
  WriteFile(BaseDir() + "/libXjKelmar.so", content, 0755);
  return *this;
}

Installation& Installation::Exported() {
  setenv("XJREG", root_.c_str(), 1);
  return *this;
}

Installation& Installation::Selected() {
  Exported();
  setenv("VORLAN_INST", instance_.c_str(), 1);
  unsetenv("VORLAN_VM");
  return *this;
}

Installation& Installation::TraceOn() {
  EnableTrace();
  return *this;
}

Installation& Installation::Marker(const std::string& path) {
  WriteFile(path, "");
  return *this;
}

std::string InstallBackend(const std::string& backend, const std::string& home) {
  return Installation().Instance(kInstance).Home(home).Backend(backend).Selected().BaseDir();
}

}  // namespace kelmar::testbed
