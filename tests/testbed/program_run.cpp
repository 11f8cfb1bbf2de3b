#include "testbed/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

#include "testbed/files.h"

extern char** environ;

namespace kelmar::testbed {

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path) {
  std::vector<char*> pointers;  // posix_spawn does not change them
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = argv.empty() ? EINVAL : posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == 0) return pid;
  ADD_FAILURE() << "cannot start " << (argv.empty() ? "nothing" : argv[0]) << ": " << std::strerror(spawned);
  return 0;
}

int WaitForProgram(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ProgramRun RunProgram(const std::vector<std::string>& argv) {
  char dir[] = "/tmp/kelmar-run-XXXXXX";  // for its output
  ProgramRun run;
  if (mkdtemp(dir) == nullptr) {
    ADD_FAILURE() << "no directory for the output of " << (argv.empty() ? "nothing" : argv[0]);
    return run;
  }
  const std::string out_path = std::string(dir) + "/out";
  const std::string err_path = std::string(dir) + "/err";
  const pid_t pid = StartProgram(argv, out_path, err_path);
  if (pid == 0) return run;
  run.status = WaitForProgram(pid);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace kelmar::testbed
