// Running one of the project's programs (kelmar-host, kelmar-check) from a test case, as an operator would.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelmar::testbed {

struct ProgramRun {
  int status = -1;  // the exit status, or 128 plus the signal that ended it
  std::string out, err;
};

// Runs argv[0] with `argv` in this process's environment and working directory and waits for it; its standard
// output and error are kept in files under /tmp (the private /tmp of an isolated case).
ProgramRun RunProgram(const std::vector<std::string>& argv);

// Starts argv[0] as RunProgram does, its standard output and error to the files named; 0 when it cannot start.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path);
// Waits for a started program: its status as ProgramRun gives it.
int WaitForProgram(pid_t pid);

}  // namespace kelmar::testbed
