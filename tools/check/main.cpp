// kelmar-check: would DB2 get a working Vorlan backend here, and why not?
// (usage in command_line.cpp)
#include <iostream>
#include <string>
#include <vector>

#include "check/check_steps.h"
#include "check/command_line.h"
#include "check/report_output.h"
#include "log/trace_log.h"

int main(int argc, char** argv) {
  using namespace kelmar::check;
  ParsedCommandLine parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.outcome == ParsedCommandLine::Outcome::kHelp) {
    std::cout << UsageText();
    return kExitOk;
  }
  if (parsed.outcome == ParsedCommandLine::Outcome::kVersion) {
    std::cout << "kelmar-check " KELMAR_VERSION "\n";
    PrintLibraryPlain(std::cout, ExamineLibrary(parsed.command.library));
    return kExitOk;
  }
  if (parsed.outcome == ParsedCommandLine::Outcome::kError) {
    std::cerr << "kelmar-check: " << parsed.error << " (kelmar-check --help shows the usage)\n";
    return kExitUsage;
  }
  CheckCommand& command = parsed.command;
  if (!command.trace) kelmar::SwitchTraceOffForThisProcess();

  CheckReport report = RunCheck(command.options);
  report.library = ExamineLibrary(command.library);
  JudgeLibraryWriters(report.library);
  report.switch_files = ExamineSwitchFiles();
  if (command.json) {
    PrintJson(std::cout, report);
  } else {
    PrintPlain(std::cout, report);
  }
  std::cout.flush();
  return std::cout ? report.ExitStatus() : kExitCannotCheck;
}
