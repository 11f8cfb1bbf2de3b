#include "testbed/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace kelmar::testbed {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv) {
  char dir[] = "/tmp/kelmar-run-XXXXXX";
  ProgramRun run;
  if (argv.empty() || mkdtemp(dir) == nullptr) {
    ADD_FAILURE() << "no program or no scratch directory for its output";
    return run;
  }
  const std::string out_path = std::string(dir) + "/out";
  const std::string err_path = std::string(dir) + "/err";
  std::vector<std::string> strings = argv;
  std::vector<char*> pointers;
  for (std::string& arg : strings) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = Contents(out_path);
  run.err = Contents(err_path);
  return run;
}

}  // namespace kelmar::testbed
