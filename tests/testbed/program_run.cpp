#include "testbed/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace kelmar::testbed {

ProgramRun RunProgram(const std::vector<std::string>& argv) {
  char dir[] = "/tmp/kelmar-run-XXXXXX";
  ProgramRun run;
  const bool scratch = mkdtemp(dir) != nullptr;  // for its output
  const std::string paths[] = {std::string(dir) + "/out", std::string(dir) + "/err"};
  std::vector<char*> pointers;  // posix_spawn does not change them
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {1, 2}) posix_spawn_file_actions_addopen(&actions, fd, paths[fd - 1].c_str(), O_WRONLY | O_CREAT, 0644);
  pid_t pid = 0;
  const int spawned =
      argv.empty() || !scratch ? EINVAL : posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << (argv.empty() ? "nothing" : argv[0]) << ": " << std::strerror(spawned);
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::string* texts[] = {&run.out, &run.err};
  for (int i : {0, 1}) *texts[i] = (std::ostringstream() << std::ifstream(paths[i], std::ios::binary).rdbuf()).str();
  return run;
}

}  // namespace kelmar::testbed
