// One DB2 session from sqluvint to sqluvend, in the shapes DB2 uses: writing
// a backup image or log file, reading one back, or listing objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/operation_report.h"
#include "host/session_group.h"
#include "host/session_records.h"
#include "host/vendor_library.h"

namespace kelmar::host {

// Bytes [begin, end) of an open file, and its path for the messages.
struct PutSource {
  int fd = -1;
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::string path;
};

// sqluvint; sqluvput for each buffer of `source` while the group has not
// failed; sqluvend, with commit only when the whole group succeeded.
void RunPutSession(const VendorCalls& calls, SessionRecords& records, const PutSource& source, std::size_t buffer_size,
                   SessionGroup& group, SessionReport& report);

// sqluvint; sqluvget until the vendor reports the end of the object, each
// buffer appended to `sink_fd`, which holds data for the file `sink_path`;
// sqluvend as above.
void RunGetSession(const VendorCalls& calls, SessionRecords& records, int sink_fd, const std::string& sink_path,
                   std::size_t buffer_size, SessionGroup& group, SessionReport& report);

// sqluvint; db2VendorGetNextObj until SQLUV_NO_DATA, each object kept in
// `objects`; sqluvend.
void RunQuerySession(const VendorCalls& calls, SessionRecords& records, SessionGroup& group, SessionReport& report,
                     std::vector<db2VendorQueryInfo>& objects);

}  // namespace kelmar::host
