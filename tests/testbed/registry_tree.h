// Vorlan registries and installations laid out as the product's installer does, for tests that point XJREG there.
#pragma once

#include <sys/types.h>

#include <string>

namespace kelmar::testbed {

void MakeDirs(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);

class RegistryTree {
 public:
  explicit RegistryTree(std::string root);
  std::string InstanceDir(const std::string& instance) const { return root_ + "/Vorlan/" + instance; }
  // Makes `<root>/Vorlan/<instance>/Base`, with the Db2Agent marker when asked.
  void AddInstance(const std::string& instance, bool with_agent = true) const;
  void WriteProperties(const std::string& instance, const std::string& content) const;
  // The instance with its agent, a `.properties` naming `home`, and `<home>/Base/libXjKelmar.so` copied from
  // `backend` (empty: an empty executable file). Returns `<home>/Base`.
  std::string Install(const std::string& instance, const std::string& home, const std::string& backend = {}) const;
  void Export() const;

 private:
  std::string root_;
};

}  // namespace kelmar::testbed
