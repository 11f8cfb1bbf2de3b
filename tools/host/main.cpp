// kelmar-host: stands in for DB2 and drives vendor sessions through a vendor
// library (usage in command_line.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/interruption.h"
#include "host/operations.h"
#include "host/progress.h"
#include "host/report.h"
#include "host/vendor_library.h"

namespace {

using namespace kelmar::host;

// A progress line for the operations that move data, unless it is not wanted.
std::unique_ptr<ProgressLine> StartProgress(const HostCommand& command) {
  const bool on_terminal = isatty(STDERR_FILENO) == 1;
  const Operation op = command.operation;
  const bool moves_data =
      op == Operation::kBackup || op == Operation::kRestore || op == Operation::kArchive || op == Operation::kRetrieve;
  if (!moves_data || command.quiet || (!on_terminal && !command.progress)) return nullptr;
  std::uint64_t total = 0;  // known for what is read from files here
  for (const std::string& path : op == Operation::kBackup    ? std::vector<std::string>{command.input}
                                 : op == Operation::kArchive ? command.log_files
                                                             : std::vector<std::string>{}) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) total += static_cast<std::uint64_t>(status.st_size);
  }
  return std::make_unique<ProgressLine>(OperationName(op), total, on_terminal);
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedCommandLine parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.outcome == ParsedCommandLine::Outcome::kHelp) {
    std::cout << UsageText();
    return 0;
  }
  if (parsed.outcome == ParsedCommandLine::Outcome::kVersion) {
    std::cout << "kelmar-host " KELMAR_VERSION "\n";
    return 0;
  }
  if (parsed.outcome == ParsedCommandLine::Outcome::kError) {
    std::cerr << "kelmar-host: " << parsed.error << " (kelmar-host --help shows the usage)\n";
    return static_cast<int>(ExitStatus::kBadInput);
  }
  const HostCommand& command = parsed.command;

  std::string error;
  const std::optional<VendorLibrary> library = LoadVendorLibrary(command.library, command.direct, error);
  if (!library) {
    std::cerr << "kelmar-host: " << error << '\n';
    return static_cast<int>(ExitStatus::kLibraryUnusable);
  }
  const std::string interface = library->api_version
                                    ? "vendor interface " + std::to_string(*library->api_version)
                                    : "backend entry points called directly";
  std::cout << Headline(command, interface) << std::endl;

  CatchInterruptions();
  std::unique_ptr<ProgressLine> progress = StartProgress(command);
  const OperationReport report = RunOperation(library->calls, command);
  progress.reset();
  // A run that failed before any vendor call has only its error line to show.
  if (!report.sessions.empty() || !report.deletes.empty()) PrintReport(std::cout, command, report);
  std::cout.flush();
  if (report.status != ExitStatus::kSuccess) {
    std::cerr << "kelmar-host: " << OperationName(command.operation) << " failed: " << report.failure << std::endl;
  }
  if (InterruptingSignal() != 0) EndBySignal(InterruptingSignal());
  return static_cast<int>(report.status);
}
