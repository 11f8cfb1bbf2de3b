#include "e2e_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host_test_support.h"
#include "testbed/registry_tree.h"

extern char** environ;

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
  const std::string dir = ScratchDir();
  const std::string out_path = dir + "/out";
  const std::string err_path = dir + "/err";
  std::vector<std::string> argv_strings = {kHostProgram, "--library", kLibkelmar};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  HostRun run;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << kHostProgram;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
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
