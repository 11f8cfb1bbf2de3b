#include "backends/session_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

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

sqlint32 StartSession(Db2Session& session) { return sqluvint(&session.in, &session.out, &session.rc); }

sqlint32 EndSession(Db2Session& session) {
  return sqluvend(SQLUV_COMMIT, session.out.pVendorCB, &session.out, &session.rc);
}

Lines LinesTagged(const std::string& tag) {
  Lines lines;
  for (const std::string& line : testbed::TraceLines()) {
    if (line.starts_with(tag + ": ")) lines.push_back(line);
  }
  return lines;
}

std::size_t TimesLogged(const std::string& line) {
  const Lines lines = testbed::TraceLines();
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
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

Lines WithPointersMasked(Lines lines) {
  static const std::regex pointer("0x[0-9a-f]+");
  for (std::string& line : lines) line = std::regex_replace(line, pointer, "<p>");
  return lines;
}

}  // namespace kelmar::test_backend
