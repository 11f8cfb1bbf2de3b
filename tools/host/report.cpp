#include "host/report.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "host/return_codes.h"

namespace kelmar::host {
namespace {

std::string Throughput(std::uint64_t bytes, double seconds) {
  char text[64];
  if (seconds <= 0) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else {
    std::snprintf(text, sizeof text, "%.3f s, %.1f MiB/s", seconds, static_cast<double>(bytes) / (1 << 20) / seconds);
  }
  return text;
}

std::string Count(std::uint64_t n, const char* thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool MovesData(Operation operation) {
  return operation == Operation::kBackup || operation == Operation::kRestore || operation == Operation::kArchive ||
         operation == Operation::kRetrieve;
}

void PrintSession(std::ostream& out, const SessionReport& session, bool moves_data) {
  out << session.label << ": sqluvint ";
  if (!session.init_result) {
    out << "not called\n";
    return;
  }
  out << DescribeCode(*session.init_result);
  if (session.data_calls > 0) {
    out << ", " << session.data_calls << " x " << session.data_call << ", last " << DescribeCode(*session.last_data_result);
  }
  if (session.end_result) {
    out << ", sqluvend(" << (session.end_action == SQLUV_COMMIT ? "COMMIT" : "ABORT") << ") "
        << DescribeCode(*session.end_result);
  }
  if (moves_data) {
    out << "; " << Count(session.bytes, "byte") << " in " << Count(session.buffers, "buffer") << ", "
        << Throughput(session.bytes, session.seconds);
  }
  out << '\n';
}

void PrintObject(std::ostream& out, Operation operation, const db2VendorQueryInfo& object) {
  const auto text = [](const char* field, std::size_t size) { return std::string_view(field, strnlen(field, size)); };
  out << (operation == Operation::kQueryImages ? "image " : "log ") << text(object.dbname, sizeof object.dbname)
      << " (instance " << text(object.db2Instance, sizeof object.db2Instance) << ", node " << object.dbPartitionNum
      << ")";
  if (operation == Operation::kQueryImages) {
    out << " taken at " << text(object.timestamp, sizeof object.timestamp) << ", sequence " << object.sequenceNum;
  } else {
    out << ' ' << text(object.filename, sizeof object.filename);
  }
  out << ": " << object.sizeEstimate << " bytes\n";
}

}  // namespace

std::string Headline(const HostCommand& command, const std::string& interface) {
  std::string line = std::string(OperationName(command.operation)) + " of " + command.database + " (instance " +
                     command.instance + ", node " + std::to_string(command.node) + ")";
  if (!command.timestamp.empty()) line += " taken at " + command.timestamp;
  if (command.operation == Operation::kBackup || command.operation == Operation::kRestore) {
    line += ", " + std::to_string(command.sessions) + (command.sessions == 1 ? " session" : " sessions");
  }
  return line + " through " + command.library + " (" + interface + ")";
}

void PrintReport(std::ostream& out, const HostCommand& command, const OperationReport& report) {
  const bool moves_data = MovesData(command.operation);
  for (const SessionReport& session : report.sessions) PrintSession(out, session, moves_data);
  for (const db2VendorQueryInfo& object : report.objects) PrintObject(out, command.operation, object);
  for (const DeleteReport& deletion : report.deletes) {
    out << "sqluvdel(" << deletion.action << ")" << (deletion.object.empty() ? "" : " " + deletion.object) << " "
        << DescribeCode(deletion.result) << '\n';
  }
  if (!report.timestamp.empty()) {
    out << "the store held an image of that second: taken at " << report.timestamp << " instead\n";
  }

  if (moves_data) {
    std::uint64_t bytes = 0;
    std::uint64_t buffers = 0;
    for (const SessionReport& session : report.sessions) {
      bytes += session.bytes;
      buffers += session.buffers;
    }
    out << "total: " << Count(bytes, "byte") << " in " << Count(buffers, "buffer") << " of up to "
        << Count(command.buffer_size, "byte") << ", "
        << Throughput(bytes, report.seconds) << '\n';
  } else if (command.operation == Operation::kQueryImages || command.operation == Operation::kQueryLogs) {
    out << "total: " << Count(report.objects.size(), "object") << '\n';
  }
  out << (report.status == ExitStatus::kSuccess ? "result: success\n" : "result: failed\n");
}

}  // namespace kelmar::host
