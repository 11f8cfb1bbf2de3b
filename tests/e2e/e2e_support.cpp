#include "e2e_support.h"

#include <algorithm>

#include "host_test_support.h"
#include "testbed/registry_tree.h"

namespace kelmar::testing {

Vorlan::Vorlan() : root(ScratchDir()), registry(root + "/registry") {
  const testbed::RegistryTree tree(registry);
  tree.Export();
}

std::string Vorlan::Install(const std::string& instance) const {
  const std::string home = root + "/" + instance + "-home";
  testbed::RegistryTree(registry).Install(instance, home, kSampleBackend);
  return home;
}

HostRun RunHost(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kHostProgram, "--library", kLibkelmar};
  argv.insert(argv.end(), args.begin(), args.end());
  return testbed::RunProgram(argv);
}

TraceStory ReadTraceStory(const std::vector<std::string>& lines) {
  TraceStory story;
  int open = 0;
  bool in_unload = false;
  for (const std::string& line : lines) {
    if (line == "sqluvint(): -----------Leaving, returning 0--------") {
      story.max_open_sessions = std::max(story.max_open_sessions, ++open);
    } else if (line == "sqluvend(): Calling sqluvendpp()") {
      --open;
    } else if (line.find("dlopen succeeded") != std::string::npos) {
      ++story.loads;
    } else if (line == "unInitializeFptrs(): -----------Entered--------") {
      in_unload = true;
    } else if (in_unload && line.rfind("unInitializeFptrs(): sqluv_handle is:", 0) == 0) {
      in_unload = false;
      if (line.find("(nil)") == std::string::npos) {
        ++story.unloads;
        if (open > 0) ++story.unloads_with_open_sessions;
      }
    } else if (line.find("------libXjKelmar.so is in use, not going to unload it --------") != std::string::npos) {
      ++story.refused_in_use;
    } else if (line.find("------/tmp/debugDB2_nounload exists, not going to unload libXjKelmar.so if it has been loaded "
                         "--------") != std::string::npos) {
      ++story.kept_loaded;
    }
  }
  return story;
}

}  // namespace kelmar::testing
