// Builds Vorlan registries and installations in a scratch directory, the way the product's installer lays them
// out, for tests that point XJREG at them.
#pragma once

#include <sys/types.h>

#include <string>

namespace kelmar::testbed {

void MakeDirs(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);

class RegistryTree {
 public:
  // Makes `<root>/Vorlan`; `root` is what XJREG names.
  explicit RegistryTree(std::string root);
  const std::string& root() const { return root_; }
  std::string InstanceDir(const std::string& instance) const { return root_ + "/Vorlan/" + instance; }
  std::string PropertiesPath(const std::string& instance) const { return InstanceDir(instance) + "/Base/.properties"; }
  // Makes `<root>/Vorlan/<instance>/Base`, with the Db2Agent marker when asked.
  void AddInstance(const std::string& instance, bool with_agent = true) const;
  // Writes the instance's `.properties` with exactly `content`.
  void WriteProperties(const std::string& instance, const std::string& content) const;
  // A complete installation: the instance with its agent, a `.properties` naming `home`, and
  // `<home>/Base/libXjKelmar.so` copied from `backend` (an empty executable file when `backend` is empty).
  // Returns `<home>/Base`.
  std::string Install(const std::string& instance, const std::string& home, const std::string& backend = {}) const;
  // Points XJREG at this registry.
  void Export() const;

 private:
  std::string root_;
};

}  // namespace kelmar::testbed
