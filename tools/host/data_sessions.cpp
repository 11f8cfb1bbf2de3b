#include "host/data_sessions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "host/file_io.h"
#include "host/interruption.h"
#include "host/progress.h"
#include "host/return_codes.h"

namespace kelmar::host {
namespace {

std::string Outcome(const SessionReport& report, const char* call, sqlint32 result, const SessionRecords& records) {
  return report.label + ": " + call + " returned " + DescribeOutcome(result, records.return_code());
}

bool Open(const VendorCalls& calls, SessionRecords& records, SessionGroup& group, SessionReport& report) {
  const sqlint32 result = calls.sqluvint(records.input(), records.output(), records.FreshReturnCode());
  report.init_result = result;
  if (result == SQLUV_OK) return true;
  std::string failure = Outcome(report, "sqluvint", result, records);
  // The library's set-up faults all look alike from here; these tell them apart.
  if (result == SQLUV_INIT_FAILED || records.return_code().return_code == SQLUV_INIT_FAILED) {
    failure += "; run kelmar-check with the same options, or switch the trace on (/tmp/libkelmar.log)";
  }
  group.Fail(failure);
  return false;
}

// False, with the group failed, once SIGINT or SIGTERM came.
bool GoOn(SessionGroup& group, const SessionReport& report) {
  const int signal = InterruptingSignal();
  if (signal != 0) group.Fail(report.label + ": interrupted by " + SignalName(signal));
  return !group.failed();
}

void End(const VendorCalls& calls, SessionRecords& records, SessionGroup& group, SessionReport& report) {
  report.end_action = GoOn(group, report) ? SQLUV_COMMIT : SQLUV_ABORT;
  const sqlint32 result =
      calls.sqluvend(report.end_action, records.vendor_cb(), records.output(), records.FreshReturnCode());
  report.end_result = result;
  if (result != SQLUV_OK) {
    group.Fail(Outcome(report, report.end_action == SQLUV_COMMIT ? "sqluvend(COMMIT)" : "sqluvend(ABORT)", result,
                       records));
  }
}

// Every session ends together with the others of its group (session_group.h).
template <typename MoveData>
void RunSession(const VendorCalls& calls, SessionRecords& records, SessionGroup& group, SessionReport& report,
                MoveData move_data) {
  const auto start = std::chrono::steady_clock::now();
  const bool opened = Open(calls, records, group, report);
  if (opened) move_data();
  group.FinishData(records.sequence());
  group.EndInTurn(records.sequence(), [&] {
    if (opened) End(calls, records, group, report);
  });
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Hands one buffer to sqluvput or sqluvget in the Data record, as DB2 does.
template <typename Call>
sqlint32 TransferBuffer(Call call, SessionRecords& records, Data& data, char* buffer, std::size_t size,
                        SessionReport& report) {
  data.obj_num = records.sequence();
  data.buff_size = static_cast<sqlint32>(size);
  data.actual_buff_size = 0;
  data.dataptr = buffer;
  const sqlint32 result = call(records.vendor_cb(), &data, records.FreshReturnCode());
  ++report.data_calls;
  report.last_data_result = result;
  return result;
}

}  // namespace

void RunPutSession(const VendorCalls& calls, SessionRecords& records, const PutSource& source, std::size_t buffer_size,
                   SessionGroup& group, SessionReport& report) {
  report.data_call = "sqluvput";
  RunSession(calls, records, group, report, [&] {
    std::vector<char> buffer(buffer_size);
    Data data{};
    for (std::uint64_t offset = source.begin; offset < source.end && GoOn(group, report);) {
      const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_size, source.end - offset));
      if (!ReadAt(source.fd, buffer.data(), size, offset)) {
        group.Fail(report.label + ": cannot read the input file " + source.path + ": " + std::strerror(errno));
        return;
      }
      const sqlint32 result = TransferBuffer(calls.sqluvput, records, data, buffer.data(), size, report);
      if (result != SQLUV_OK) {
        group.Fail(Outcome(report, "sqluvput", result, records));
        return;
      }
      report.bytes += size;
      ++report.buffers;
      CountProgress(size);
      offset += size;
    }
  });
}

void RunGetSession(const VendorCalls& calls, SessionRecords& records, int sink_fd, const std::string& sink_path,
                   std::size_t buffer_size, SessionGroup& group, SessionReport& report) {
  report.data_call = "sqluvget";
  RunSession(calls, records, group, report, [&] {
    std::vector<char> buffer(buffer_size);
    Data data{};
    while (GoOn(group, report)) {
      const sqlint32 result = TransferBuffer(calls.sqluvget, records, data, buffer.data(), buffer_size, report);
      if (result == SQLUV_ENDOFMEDIA_NO_DATA) return;
      if (result != SQLUV_OK && result != SQLUV_MORE_DATA && result != SQLUV_ENDOFMEDIA) {
        group.Fail(Outcome(report, "sqluvget", result, records));
        return;
      }
      // A buffer that claims more than it holds, or a "more data" without
      // any, would corrupt the output or never end.
      const sqlint32 got = data.actual_buff_size;
      const bool last = result == SQLUV_ENDOFMEDIA;
      if (got < (last ? 0 : 1) || static_cast<std::size_t>(got) > buffer_size) {
        group.Fail(report.label + ": sqluvget returned " + DescribeCode(result) + " with " + std::to_string(got) +
                   " bytes in a buffer of " + std::to_string(buffer_size));
        return;
      }
      if (!WriteAll(sink_fd, buffer.data(), static_cast<std::size_t>(got))) {
        group.Fail(report.label + ": cannot write the restored data for " + sink_path + ": " + std::strerror(errno));
        return;
      }
      report.bytes += static_cast<std::uint64_t>(got);
      if (got > 0) ++report.buffers;
      CountProgress(static_cast<std::uint64_t>(got));
      if (last) return;
    }
  });
}

void RunQuerySession(const VendorCalls& calls, SessionRecords& records, SessionGroup& group, SessionReport& report,
                     std::vector<db2VendorQueryInfo>& objects) {
  report.data_call = "db2VendorGetNextObj";
  RunSession(calls, records, group, report, [&] {
    for (;;) {
      db2VendorQueryInfo object{};
      const sqlint32 result = calls.db2VendorGetNextObj(records.vendor_cb(), &object, records.FreshReturnCode());
      ++report.data_calls;
      report.last_data_result = result;
      if (result == SQLUV_NO_DATA) return;
      if (result != SQLUV_OK && result != SQLUV_MORE_DATA) {
        group.Fail(Outcome(report, "db2VendorGetNextObj", result, records));
        return;
      }
      objects.push_back(object);
    }
  });
}

}  // namespace kelmar::host
