// Running one of the project's programs (kelmar-host, kelmar-check) from a test case, as an operator would.
#pragma once

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

}  // namespace kelmar::testbed
