// What one kelmar-host run did: per session the calls' results, the bytes and
// buffers moved and the time taken; the objects a query listed; the first
// failure, which decides the exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelmar/db2_vendor.h"

namespace kelmar::host {

struct SessionReport {
  std::string label;  // "session 2", or the log file's name
  std::optional<sqlint32> init_result;
  const char* data_call = nullptr;  // "sqluvput", "sqluvget" or "db2VendorGetNextObj"
  std::uint64_t data_calls = 0;
  std::optional<sqlint32> last_data_result;
  sqlint32 end_action = SQLUV_COMMIT;
  std::optional<sqlint32> end_result;
  std::uint64_t bytes = 0;
  std::uint64_t buffers = 0;
  double seconds = 0;
};

struct DeleteReport {
  char action = 'M';
  std::string object;  // what the call asked for; empty for everything
  sqlint32 result = 0;
};

enum class ExitStatus : int {
  kSuccess = 0,
  kVendorFailure = 1,  // a vendor call failed or refused, or the output could not be created or written
  kBadInput = 2,       // command line, options or an input file
  kLibraryUnusable = 3,
};

struct OperationReport {
  std::vector<SessionReport> sessions;
  std::vector<db2VendorQueryInfo> objects;
  std::vector<DeleteReport> deletes;
  std::string timestamp;  // a backup's, when it had to move on from the one asked for
  double seconds = 0;
  ExitStatus status = ExitStatus::kSuccess;
  std::string failure;  // one line naming what failed first; empty on success
};

}  // namespace kelmar::host
