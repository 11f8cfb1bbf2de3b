// kelmar-host: stands in for DB2 and drives vendor sessions through a vendor
// library (usage in command_line.cpp).
#include <iostream>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/operations.h"
#include "host/report.h"
#include "host/vendor_library.h"

int main(int argc, char** argv) {
  using namespace kelmar::host;
  const ParsedCommandLine parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.outcome == ParsedCommandLine::Outcome::kHelp) {
    std::cout << UsageText();
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

  const OperationReport report = RunOperation(library->calls, command);
  // A run that failed before any vendor call has only its error line to show.
  if (!report.sessions.empty() || !report.deletes.empty()) PrintReport(std::cout, command, report);
  std::cout.flush();
  if (report.status != ExitStatus::kSuccess) {
    std::cerr << "kelmar-host: " << OperationName(command.operation) << " failed: " << report.failure << '\n';
  }
  return static_cast<int>(report.status);
}
