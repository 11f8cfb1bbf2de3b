// kelmar-host's report: per session the results of its calls, the bytes and
// buffers it moved and its throughput; the objects a query found; a total.
#pragma once

#include <ostream>
#include <string>

#include "host/command_line.h"
#include "host/operation_report.h"

namespace kelmar::host {

// The first line: what runs, through which library.
std::string Headline(const HostCommand& command, const std::string& interface);

void PrintReport(std::ostream& out, const HostCommand& command, const OperationReport& report);

}  // namespace kelmar::host
