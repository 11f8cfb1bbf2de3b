// kelmar-host's command line: which DB2 operation to run, through which
// vendor library, on which database object, with which options.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/parsed_command_line.h"
#include "common/vendor_options.h"

namespace kelmar::host {

enum class Operation {
  kBackup,        // W
  kRestore,       // R
  kArchive,       // A
  kRetrieve,      // T
  kQueryImages,   // I
  kQueryLogs,     // L
  kDeleteImages,  // M
  kDeleteLogs,    // O
  kDeleteAll,     // B
};

// The caller action letter that DB2 puts into DB2_info.action.
char ActionLetter(Operation operation);
const char* OperationName(Operation operation);

inline constexpr std::size_t kDefaultBufferSize = 1 << 20;
inline constexpr std::size_t kMaxBufferSize = 256u << 20;
inline constexpr unsigned kMaxSessions = 256;

struct HostCommand {
  Operation operation = Operation::kBackup;
  std::string library;
  bool direct = false;  // call the backend's own entry points, without libkelmar
  std::string database = "SAMPLE";
  std::string instance = "db2inst1";
  int node = 0;
  std::string timestamp;  // backup: now when not given
  bool timestamp_from_clock = false;  // backup: may move on to the next free second
  // Paths are absolute: the vendor library may change the working directory.
  std::string input;      // backup
  std::string output;     // restore
  std::string output_dir;  // retrieve
  std::vector<std::string> log_files;  // archive: paths; retrieve, delete-logs: names
  unsigned sessions = 1;
  std::size_t buffer_size = kDefaultBufferSize;
  tools::VendorOptions options;
  bool quiet = false;     // no progress line, not even on a terminal
  bool progress = false;  // a progress line even when stderr is no terminal
};

using ParsedCommandLine = tools::ParsedCommandLine<HostCommand>;

// The current second as yyyymmddhhmmss, in local time as DB2 takes it.
std::string TimestampNow();

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

const char* UsageText();

}  // namespace kelmar::host
