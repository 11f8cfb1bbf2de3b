#include "backends/session_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "testbed/registry_tree.h"

namespace kelmar::test_backend {

Db2Session::Db2Session(char action_letter) {
  action[0] = action_letter;
  info.action = action;
  in.DB2_session = &info;
}

std::string InstallBackend(const std::string& backend, const std::string& home) {
  const testbed::RegistryTree tree(kRegistryRoot);
  tree.Export();
  setenv("VORLAN_INST", kInstance, 1);
  unsetenv("VORLAN_VM");
  return tree.Install(kInstance, home, backend);
}

std::string WorkingDirectory() {
  char directory[4096];
  return getcwd(directory, sizeof directory) != nullptr ? directory : "";
}

std::string Shown(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

std::vector<std::string> WithPointersMasked(std::vector<std::string> lines) {
  static const std::regex pointer("0x[0-9a-f]+");
  for (std::string& line : lines) line = std::regex_replace(line, pointer, "<p>");
  return lines;
}

}  // namespace kelmar::test_backend
