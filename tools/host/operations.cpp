#include "host/operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "host/data_sessions.h"
#include "host/interruption.h"
#include "host/part_files.h"
#include "host/return_codes.h"

namespace kelmar::host {
namespace {

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd_ >= 0) close(fd_);
  }

  bool Open(const std::string& path, std::string& error) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd_ < 0 || fstat(fd_, &status) != 0) {
      error = "cannot open input file " + path + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(status.st_mode)) {
      error = "input file " + path + " is not a regular file";
      return false;
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
    return true;
  }

  int fd() const { return fd_; }
  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

SessionIdentity IdentityFor(const HostCommand& command) {
  SessionIdentity identity;
  identity.action = ActionLetter(command.operation);
  identity.database = command.database;
  identity.instance = command.instance;
  identity.node = command.node;
  identity.timestamp = command.timestamp;
  identity.buffer_size = command.buffer_size;
  return identity;
}

// Part `sequence` (from 1) of an image that a backup or restore moves on
// command.sessions sessions.
SessionIdentity ImagePart(const HostCommand& command, unsigned sequence) {
  SessionIdentity identity = IdentityFor(command);
  identity.sequence = static_cast<int>(sequence);
  identity.num_sessions = command.sessions;
  return identity;
}

// Session `index` of a backup or restore that runs on several sessions.
SessionIdentity ImageSession(const HostCommand& command, unsigned index, SessionReport& report) {
  report.label = "session " + std::to_string(index + 1);
  return ImagePart(command, index + 1);
}

void Fail(OperationReport& report, ExitStatus status, std::string failure) {
  if (report.status != ExitStatus::kSuccess) return;
  report.status = status;
  report.failure = std::move(failure);
}

void TakeGroupOutcome(OperationReport& report, const SessionGroup& group) {
  if (group.failed()) Fail(report, ExitStatus::kVendorFailure, group.failure());
}

// What a query session of `identity` lists: the parts of the whole images
// its timestamp begins (I), or the log files (L). False when it failed.
bool ListStored(const VendorCalls& calls, const SessionIdentity& identity, const HostCommand& command,
                OperationReport& report, std::vector<db2VendorQueryInfo>& objects) {
  SessionRecords records(identity, command.options);
  SessionGroup group(1);
  SessionReport query;
  query.label = "looking into the store";
  RunQuerySession(calls, records, group, query, objects);
  if (group.failed()) Fail(report, ExitStatus::kVendorFailure, group.failure());
  return !group.failed();
}

// A backup never lands on an image that the store holds: it is refused, or,
// with the timestamp taken from the clock, waits for the next second.
bool ChooseFreeTimestamp(const VendorCalls& calls, HostCommand& command, OperationReport& report) {
  for (int attempt = 1;; ++attempt) {
    SessionIdentity identity = IdentityFor(command);
    identity.action = 'I';
    std::vector<db2VendorQueryInfo> stored;
    if (!ListStored(calls, identity, command, report, stored)) return false;
    if (stored.empty()) return true;
    if (!command.timestamp_from_clock || attempt == 3) {
      Fail(report, ExitStatus::kVendorFailure,
           "the store already holds an image taken at " + command.timestamp + " (" + std::to_string(stored.size()) +
               (stored.size() == 1 ? " part" : " parts") + "): delete it, or give another --timestamp");
      return false;
    }
    const std::string taken = command.timestamp;
    while ((command.timestamp = TimestampNow()) == taken) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    report.timestamp = command.timestamp;
  }
}

// A backup that could not commit every part takes back those it did, so that
// the store keeps all of an image or nothing of it.
void DeleteCommittedParts(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  std::string deleted;
  for (unsigned i = 0; i < report.sessions.size(); ++i) {
    const SessionReport& session = report.sessions[i];
    if (session.end_action != SQLUV_COMMIT || session.end_result != SQLUV_OK) continue;
    SessionIdentity identity = ImagePart(command, i + 1);
    identity.action = 'M';
    SessionRecords records(identity, command.options);
    const sqlint32 result = calls.sqluvdel(records.input(), records.output(), records.FreshReturnCode());
    report.deletes.push_back({'M', command.timestamp + " part " + std::to_string(i + 1), result});
    if (result == SQLUV_OK) {
      deleted += (deleted.empty() ? " " : ", ") + std::to_string(i + 1);
    } else {
      report.failure += "; part " + std::to_string(i + 1) + " stays committed: sqluvdel returned " +
                        DescribeOutcome(result, records.return_code());
    }
  }
  if (!deleted.empty()) report.failure += "; deleted the parts it had committed:" + deleted;
}

// Runs `session(index)` for every session of the group on a thread of its own.
template <typename Session>
void RunOnThreads(unsigned sessions, Session session) {
  std::vector<std::thread> threads;
  threads.reserve(sessions);
  for (unsigned i = 0; i < sessions; ++i) threads.emplace_back(session, i);
  for (std::thread& thread : threads) thread.join();
}

// The image is cut into one run of whole buffers per session, in order, so
// that the sessions' objects joined in sequence order give it back.
void Backup(const VendorCalls& calls, const HostCommand& asked, OperationReport& report) {
  InputFile input;
  std::string error;
  if (!input.Open(asked.input, error)) return Fail(report, ExitStatus::kBadInput, error);
  HostCommand command = asked;
  if (!ChooseFreeTimestamp(calls, command, report)) return;

  const unsigned sessions = command.sessions;
  const std::uint64_t buffers = (input.size() + command.buffer_size - 1) / command.buffer_size;
  const std::uint64_t stripe = (buffers + sessions - 1) / sessions * command.buffer_size;
  SessionGroup group(sessions);
  report.sessions.resize(sessions);
  RunOnThreads(sessions, [&](unsigned i) {
    SessionIdentity identity = ImageSession(command, i, report.sessions[i]);
    identity.size_estimate = input.size();
    SessionRecords records(identity, command.options);
    const PutSource source{input.fd(), std::min(i * stripe, input.size()), std::min((i + 1) * stripe, input.size()),
                           command.input};
    RunPutSession(calls, records, source, command.buffer_size, group, report.sessions[i]);
  });
  TakeGroupOutcome(report, group);
  if (group.failed()) DeleteCommittedParts(calls, command, report);
}

// Each restore session reads one part, and nothing in the parts tells how
// many there are: a restore on fewer sessions than its backup had would
// publish the first parts as if they were the image. So ask for the part
// after the last one read; only its absence shows the image is complete.
void RequireNoFurtherPart(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  const unsigned next = command.sessions + 1;
  SessionRecords records(ImagePart(command, next), command.options);
  const sqlint32 result = calls.sqluvint(records.input(), records.output(), records.FreshReturnCode());
  if (result == SQLUV_OBJ_NOT_FOUND) return;
  if (result != SQLUV_OK) {
    return Fail(report, ExitStatus::kVendorFailure,
                "asking for part " + std::to_string(next) + " of the image: sqluvint returned " +
                    DescribeOutcome(result, records.return_code()));
  }
  std::string failure = "the image has more parts than this restore's " + std::to_string(command.sessions) +
                        (command.sessions == 1 ? " session" : " sessions") + " (part " + std::to_string(next) +
                        " exists): restore it with as many sessions as its backup had";
  const sqlint32 ended = calls.sqluvend(SQLUV_ABORT, records.vendor_cb(), records.output(), records.FreshReturnCode());
  if (ended != SQLUV_OK) {
    failure += "; ending the session for part " + std::to_string(next) + ": sqluvend(ABORT) returned " +
               DescribeOutcome(ended, records.return_code());
  }
  Fail(report, ExitStatus::kVendorFailure, failure);
}

// Puts the output in place after a run that succeeded, unless a signal came
// after the last buffer: then it goes the way of an interrupted one.
void Publish(PartFiles& parts, OperationReport& report) {
  if (report.status != ExitStatus::kSuccess) return;
  const int signal = InterruptingSignal();
  if (signal != 0) return Fail(report, ExitStatus::kVendorFailure, std::string("interrupted by ") + SignalName(signal));
  std::string error;
  if (!parts.Publish(error)) Fail(report, ExitStatus::kVendorFailure, error);
}

void Restore(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  PartFiles parts;
  std::string error;
  if (!parts.Create(command.output, command.sessions, error)) return Fail(report, ExitStatus::kVendorFailure, error);

  const unsigned sessions = command.sessions;
  SessionGroup group(sessions);
  report.sessions.resize(sessions);
  RunOnThreads(sessions, [&](unsigned i) {
    SessionRecords records(ImageSession(command, i, report.sessions[i]), command.options);
    RunGetSession(calls, records, parts.fd(i), command.output, command.buffer_size, group, report.sessions[i]);
  });
  TakeGroupOutcome(report, group);
  if (report.status == ExitStatus::kSuccess) RequireNoFurtherPart(calls, command, report);
  Publish(parts, report);
}

// One session per log file, one after another, as DB2's log archiving does.
void Archive(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  std::vector<std::unique_ptr<InputFile>> inputs;
  for (const std::string& path : command.log_files) {
    std::string error;
    inputs.push_back(std::make_unique<InputFile>());
    if (!inputs.back()->Open(path, error)) return Fail(report, ExitStatus::kBadInput, error);
  }
  // Refused before any data moves when the store holds one of them already.
  SessionIdentity logs = IdentityFor(command);
  logs.action = 'L';
  std::vector<db2VendorQueryInfo> stored;
  if (!ListStored(calls, logs, command, report, stored)) return;
  for (const std::string& path : command.log_files) {
    const std::string name = BaseName(path);
    if (std::any_of(stored.begin(), stored.end(), [&](const db2VendorQueryInfo& log) {
          return std::string_view(log.filename, strnlen(log.filename, sizeof log.filename)) == name;
        })) {
      return Fail(report, ExitStatus::kVendorFailure, "the store already holds log file " + name + ": delete it first");
    }
  }
  for (std::size_t i = 0; i < inputs.size() && report.status == ExitStatus::kSuccess; ++i) {
    SessionIdentity identity = IdentityFor(command);
    identity.log_name = BaseName(command.log_files[i]);
    identity.size_estimate = inputs[i]->size();
    SessionRecords records(identity, command.options);
    SessionGroup group(1);
    report.sessions.push_back({});
    report.sessions.back().label = identity.log_name;
    RunPutSession(calls, records, {inputs[i]->fd(), 0, inputs[i]->size(), command.log_files[i]}, command.buffer_size,
                  group, report.sessions.back());
    TakeGroupOutcome(report, group);
  }
}

void Retrieve(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  struct stat status {};
  if (stat(command.output_dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return Fail(report, ExitStatus::kVendorFailure, "output directory " + command.output_dir + " does not exist");
  }
  for (const std::string& name : command.log_files) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
      return Fail(report, ExitStatus::kBadInput, "\"" + name + "\" is not a log file name");
    }
  }
  for (std::size_t i = 0; i < command.log_files.size() && report.status == ExitStatus::kSuccess; ++i) {
    PartFiles part;
    std::string error;
    const std::string output = command.output_dir + "/" + command.log_files[i];
    if (!part.Create(output, 1, error)) return Fail(report, ExitStatus::kVendorFailure, error);
    SessionIdentity identity = IdentityFor(command);
    identity.log_name = command.log_files[i];
    SessionRecords records(identity, command.options);
    SessionGroup group(1);
    report.sessions.push_back({});
    report.sessions.back().label = identity.log_name;
    RunGetSession(calls, records, part.fd(0), output, command.buffer_size, group, report.sessions.back());
    TakeGroupOutcome(report, group);
    Publish(part, report);
  }
}

void Query(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  SessionRecords records(IdentityFor(command), command.options);
  SessionGroup group(1);
  report.sessions.resize(1);
  report.sessions[0].label = "session 1";
  RunQuerySession(calls, records, group, report.sessions[0], report.objects);
  TakeGroupOutcome(report, group);
}

// One sqluvdel per named log file, else one for everything the action covers.
void Delete(const VendorCalls& calls, const HostCommand& command, OperationReport& report) {
  std::vector<std::string> objects = command.log_files;
  if (objects.empty()) objects.emplace_back();
  for (const std::string& object : objects) {
    SessionIdentity identity = IdentityFor(command);
    identity.log_name = object;
    SessionRecords records(identity, command.options);
    const sqlint32 result = calls.sqluvdel(records.input(), records.output(), records.FreshReturnCode());
    report.deletes.push_back({identity.action, object, result});
    if (result != SQLUV_OK) {
      const std::string what = object.empty() ? std::string() : " " + object;
      return Fail(report, ExitStatus::kVendorFailure,
                  std::string("sqluvdel(") + identity.action + ")" + what + " returned " +
                      DescribeOutcome(result, records.return_code()));
    }
  }
}

}  // namespace

OperationReport RunOperation(const VendorCalls& calls, const HostCommand& command) {
  OperationReport report;
  const auto start = std::chrono::steady_clock::now();
  switch (command.operation) {
    case Operation::kBackup: Backup(calls, command, report); break;
    case Operation::kRestore: Restore(calls, command, report); break;
    case Operation::kArchive: Archive(calls, command, report); break;
    case Operation::kRetrieve: Retrieve(calls, command, report); break;
    case Operation::kQueryImages:
    case Operation::kQueryLogs: Query(calls, command, report); break;
    case Operation::kDeleteImages:
    case Operation::kDeleteLogs:
    case Operation::kDeleteAll: Delete(calls, command, report); break;
  }
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

}  // namespace kelmar::host
