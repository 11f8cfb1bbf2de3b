// The sample backend libXjKelmar.so, driven directly through its own entry
// points by kelmar-host's session code, as installed in <home>/Base.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/operations.h"
#include "host/session_records.h"
#include "host/vendor_library.h"
#include "host_test_support.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"

namespace {

using kelmar::host::ExitStatus;
using kelmar::host::OperationReport;
using kelmar::host::RunOperation;
using kelmar::host::SessionIdentity;
using kelmar::host::SessionRecords;
using kelmar::host::VendorCalls;
using kelmar::testbed::RunIsolated;
using kelmar::testing::Command;
using kelmar::testing::Listing;
using kelmar::testing::PatternBytes;
using kelmar::testing::ReadFile;
using kelmar::testing::ScratchDir;
using Names = std::vector<std::string>;

constexpr const char* kTimestamp = "20261205141541";

// The backend installed as <home>/Base/libXjKelmar.so, keeping <home>/store.
struct Installed {
  std::string home;
  std::string library;
  VendorCalls calls;

  Installed() : home(ScratchDir()), library(home + "/Base/libXjKelmar.so") {
    kelmar::testbed::MakeDirs(home + "/Base");
    kelmar::testbed::WriteFile(library, ReadFile(KELMAR_SAMPLE_BACKEND), 0755);
    std::string error;
    const auto loaded = kelmar::host::LoadVendorLibrary(library, true, error);
    if (!loaded) ADD_FAILURE() << error;
    if (loaded) calls = loaded->calls;
  }

  std::string store() const { return home + "/store"; }

  OperationReport Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--direct", "--library", library});
    return RunOperation(calls, Command(args));
  }

  void Ok(const std::vector<std::string>& args) const {
    const OperationReport report = Run(args);
    EXPECT_EQ(report.status, ExitStatus::kSuccess) << args.front() << ": " << report.failure;
  }
};

// A restore gives back every byte on as many sessions as its backup had; on
// fewer or more it fails and leaves nothing that looks like the image.
TEST(SampleBackend, BackupAndRestoreGiveBackEveryByte) {
  struct Case {
    std::size_t size;
    int sessions;
    int restore_sessions;
    const char* failure;  // null: the restore gives back the image
  };
  const std::size_t buffer = 4096;
  const char* const kNoFourthPart = "session 4: sqluvint returned SQLUV_OBJ_NOT_FOUND (6): \"no such object\"";
  const Case cases[] = {
      {0, 1, 1, nullptr},
      {1, 1, 1, nullptr},
      {buffer - 1, 1, 1, nullptr},
      {buffer, 1, 1, nullptr},
      {buffer + 1, 1, 1, nullptr},
      {3 * buffer + 5, 1, 1, nullptr},
      {0, 3, 3, nullptr},
      {1, 3, 3, nullptr},
      {buffer, 3, 3, nullptr},
      {10 * buffer + 17, 3, 3, nullptr},
      {4 * buffer, 4, 4, nullptr},
      {10 * buffer + 17, 3, 2,
       "the image has more parts than this restore's 2 sessions (part 3 exists): restore it with as many sessions "
       "as its backup had"},
      {0, 3, 1,
       "the image has more parts than this restore's 1 session (part 2 exists): restore it with as many sessions "
       "as its backup had"},
      {10 * buffer + 17, 3, 4, kNoFourthPart},
  };
  RunIsolated([&] {
    const Installed backend;
    const std::string dir = ScratchDir();
    for (const Case& c : cases) {
      const std::string label = std::to_string(c.size) + " bytes, " + std::to_string(c.sessions) +
                                " sessions, restored on " + std::to_string(c.restore_sessions);
      const std::string image = PatternBytes(c.size, static_cast<unsigned>(c.size));
      kelmar::testbed::WriteFile(dir + "/image", image);
      unlink((dir + "/restored").c_str());
      const std::vector<std::string> common = {"--timestamp", kTimestamp, "--buffer-size", std::to_string(buffer)};
      std::vector<std::string> backup = {"backup", "--input", dir + "/image", "--sessions", std::to_string(c.sessions)};
      std::vector<std::string> restore = {"restore", "--output", dir + "/restored", "--sessions",
                                          std::to_string(c.restore_sessions)};
      backup.insert(backup.end(), common.begin(), common.end());
      restore.insert(restore.end(), common.begin(), common.end());
      backend.Ok(backup);
      const OperationReport restored = backend.Run(restore);
      if (c.failure == nullptr) {
        EXPECT_EQ(restored.status, ExitStatus::kSuccess) << label << ": " << restored.failure;
        EXPECT_TRUE(ReadFile(dir + "/restored") == image) << label;
      } else {
        EXPECT_EQ(restored.status, ExitStatus::kVendorFailure) << label;
        EXPECT_EQ(restored.failure, c.failure) << label;
        EXPECT_EQ(Listing(dir), Names{"image"}) << label << ": no output, no leftovers";
      }

      const OperationReport query = backend.Run({"query-images"});
      ASSERT_EQ(query.objects.size(), static_cast<std::size_t>(c.sessions)) << label;
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < query.objects.size(); ++i) {
        EXPECT_EQ(query.objects[i].sequenceNum, i + 1) << label;
        EXPECT_STREQ(query.objects[i].timestamp, kTimestamp);
        EXPECT_STREQ(query.objects[i].dbname, "SAMPLE");
        total += query.objects[i].sizeEstimate;
      }
      EXPECT_EQ(total, c.size) << label;
      backend.Ok({"delete-all"});
    }
  });
}

TEST(SampleBackend, LogFilesAreArchivedRetrievedListedAndDeletedByName) {
  RunIsolated([] {
    const Installed backend;
    const std::string dir = ScratchDir();
    kelmar::testbed::MakeDirs(dir + "/logs");
    kelmar::testbed::MakeDirs(dir + "/back");
    for (const char* name : {"S0000001.LOG", "S0000002.LOG"}) {
      kelmar::testbed::WriteFile(dir + "/logs/" + name, PatternBytes(5000, name[7]));
    }
    backend.Ok({"archive", dir + "/logs/S0000001.LOG", dir + "/logs/S0000002.LOG", "--buffer-size", "1000"});
    backend.Ok({"retrieve", "--output-dir", dir + "/back", "S0000002.LOG", "S0000001.LOG"});
    EXPECT_EQ(Listing(dir + "/back"), (Names{"S0000001.LOG", "S0000002.LOG"}));
    EXPECT_TRUE(ReadFile(dir + "/back/S0000001.LOG") == ReadFile(dir + "/logs/S0000001.LOG"));
    EXPECT_TRUE(ReadFile(dir + "/back/S0000002.LOG") == ReadFile(dir + "/logs/S0000002.LOG"));

    backend.Ok({"delete-logs", "S0000001.LOG"});
    const OperationReport query = backend.Run({"query-logs"});
    ASSERT_EQ(query.objects.size(), 1u);
    EXPECT_STREQ(query.objects[0].filename, "S0000002.LOG");
    EXPECT_EQ(query.objects[0].sizeEstimate, 5000u);
    // Another database's query sees none of them.
    EXPECT_TRUE(backend.Run({"query-logs", "--db", "OTHER"}).objects.empty());
  });
}

TEST(SampleBackend, DeletesTakeWhatTheirActionCovers) {
  RunIsolated([] {
    const Installed backend;
    const std::string dir = ScratchDir();
    kelmar::testbed::WriteFile(dir + "/S0000001.LOG", "log");
    kelmar::testbed::WriteFile(dir + "/image", "image");
    const auto fill = [&] {
      backend.Ok({"backup", "--input", dir + "/image", "--timestamp", "20260101000000"});
      backend.Ok({"backup", "--input", dir + "/image", "--timestamp", "20261205141541"});
      backend.Ok({"backup", "--input", dir + "/image", "--timestamp", "20261205141541", "--db", "OTHER"});
      backend.Ok({"archive", dir + "/S0000001.LOG"});
    };
    fill();
    const std::string s = "image.db2inst1.SAMPLE.0.";
    EXPECT_EQ(Listing(backend.store()), (Names{"image.db2inst1.OTHER.0.20261205141541.1", s + "20260101000000.1",
                                               s + "20261205141541.1", "log.db2inst1.SAMPLE.0.S0000001.LOG"}));

    backend.Ok({"delete-images", "--timestamp", "202612"});
    EXPECT_EQ(Listing(backend.store()), (Names{"image.db2inst1.OTHER.0.20261205141541.1", s + "20260101000000.1",
                                               "log.db2inst1.SAMPLE.0.S0000001.LOG"}));
    backend.Ok({"delete-logs"});
    EXPECT_EQ(Listing(backend.store()), (Names{"image.db2inst1.OTHER.0.20261205141541.1", s + "20260101000000.1"}));
    backend.Ok({"archive", dir + "/S0000001.LOG"});
    backend.Ok({"delete-all"});
    EXPECT_EQ(Listing(backend.store()), (Names{"image.db2inst1.OTHER.0.20261205141541.1"}));

    const OperationReport nothing_left = backend.Run({"delete-all"});
    EXPECT_EQ(nothing_left.status, ExitStatus::kVendorFailure);
    EXPECT_EQ(nothing_left.failure, "sqluvdel(B) returned SQLUV_OBJ_NOT_FOUND (6): \"no such object\"");
  });
}

// A session as DB2 opens it, for calling the entry points one by one.
struct OpenSession {
  SessionRecords records;
  sqlint32 result;

  OpenSession(const VendorCalls& calls, const SessionIdentity& identity)
      : records(identity, kelmar::tools::NoOptions()),
        result(calls.sqluvint(records.input(), records.output(), records.FreshReturnCode())) {}
};

SessionIdentity Identity(char action, std::string database = "SAMPLE", std::string timestamp = kTimestamp) {
  SessionIdentity identity;
  identity.action = action;
  identity.database = std::move(database);
  identity.instance = "db2inst1";
  identity.timestamp = std::move(timestamp);
  identity.sequence = 1;
  identity.log_name = "S0000001.LOG";
  return identity;
}

TEST(SampleBackend, AnswersMisuseWithDb2ReturnCodes) {
  RunIsolated([] {
    const Installed backend;
    const VendorCalls& calls = backend.calls;
    struct Case {
      const char* what;
      sqlint32 expected;
      std::function<sqlint32(Return_code*)> call;
    };
    OpenSession writing(calls, Identity('W'));
    ASSERT_EQ(writing.result, SQLUV_OK);
    OpenSession querying(calls, Identity('I'));
    ASSERT_EQ(querying.result, SQLUV_OK);
    char byte = 'x';
    Data one_byte{1, 1, 0, &byte, nullptr};
    Data negative{1, -1, 0, &byte, nullptr};
    db2VendorQueryInfo object{};

    const Case cases[] = {
        {"sqluvint for a delete action", SQLUV_INV_ACTION,
         [&](Return_code*) { return OpenSession(calls, Identity('M')).result; }},
        {"a database name that leaves the store", SQLUV_INIT_FAILED,
         [&](Return_code*) { return OpenSession(calls, Identity('W', "../x")).result; }},
        {"a timestamp of 3 digits", SQLUV_INIT_FAILED,
         [&](Return_code*) { return OpenSession(calls, Identity('W', "SAMPLE", "123")).result; }},
        {"restoring what was never stored", SQLUV_OBJ_NOT_FOUND,
         [&](Return_code*) { return OpenSession(calls, Identity('R', "SAMPLE", "20000101000000")).result; }},
        {"no session records", SQLUV_INIT_FAILED, [&](Return_code* rc) { return calls.sqluvint(nullptr, nullptr, rc); }},
        {"a put without a handle", SQLUV_INV_DEV_HANDLE,
         [&](Return_code* rc) { return calls.sqluvput(nullptr, &one_byte, rc); }},
        {"a put of a negative size", SQLUV_BUFF_SIZE,
         [&](Return_code* rc) { return calls.sqluvput(writing.records.vendor_cb(), &negative, rc); }},
        {"a get on a writing session", SQLUV_INV_ACTION,
         [&](Return_code* rc) { return calls.sqluvget(writing.records.vendor_cb(), &one_byte, rc); }},
        {"a put on a query session", SQLUV_INV_ACTION,
         [&](Return_code* rc) { return calls.sqluvput(querying.records.vendor_cb(), &one_byte, rc); }},
        {"a query on a writing session", SQLUV_INV_ACTION,
         [&](Return_code* rc) { return calls.db2VendorGetNextObj(writing.records.vendor_cb(), &object, rc); }},
        {"an end that is neither commit nor abort", SQLUV_INV_ACTION,
         [&](Return_code* rc) { return calls.sqluvend(7, writing.records.vendor_cb(), writing.records.output(), rc); }},
        {"sqluvdel for a write action", SQLUV_INV_ACTION,
         [&](Return_code* rc) {
           SessionRecords records(Identity('W'), kelmar::tools::NoOptions());
           return calls.sqluvdel(records.input(), records.output(), rc);
         }},
    };
    for (const Case& c : cases) {
      Return_code rc{};
      rc.return_code = -12345;
      const sqlint32 result = c.call(&rc);
      EXPECT_EQ(result, c.expected) << c.what;
      if (rc.return_code != -12345) {
        EXPECT_EQ(rc.return_code, result) << c.what;
      }
    }
    // Both sessions survived the misuse and end normally.
    EXPECT_EQ(calls.sqluvend(SQLUV_ABORT, writing.records.vendor_cb(), writing.records.output(), nullptr), SQLUV_OK);
    EXPECT_EQ(calls.sqluvend(SQLUV_COMMIT, querying.records.vendor_cb(), querying.records.output(), nullptr), SQLUV_OK);
  });
}

TEST(SampleBackend, OnlyCommittedWritesEverShow) {
  RunIsolated([] {
    const Installed backend;
    const VendorCalls& calls = backend.calls;
    std::string bytes = PatternBytes(100, 7);
    Data data{1, 100, 0, bytes.data(), nullptr};
    for (const sqlint32 end : {SQLUV_ABORT, SQLUV_COMMIT}) {
      OpenSession writing(calls, Identity('W'));
      ASSERT_EQ(writing.result, SQLUV_OK);
      ASSERT_EQ(calls.sqluvput(writing.records.vendor_cb(), &data, writing.records.FreshReturnCode()), SQLUV_OK);
      // Unfinished: neither listed nor restorable.
      EXPECT_TRUE(backend.Run({"query-images"}).objects.empty());
      EXPECT_EQ(OpenSession(calls, Identity('R')).result, SQLUV_OBJ_NOT_FOUND);
      EXPECT_EQ(calls.sqluvend(end, writing.records.vendor_cb(), writing.records.output(), nullptr), SQLUV_OK);
      if (end == SQLUV_ABORT) {
        EXPECT_EQ(Listing(backend.store()), Names{}) << "an aborted write leaves nothing";
      }
    }
    EXPECT_EQ(Listing(backend.store()), Names{"image.db2inst1.SAMPLE.0.20261205141541.1"});
  });
}

TEST(SampleBackend, SessionsOnManyThreadsOfOneProcessKeepToThemselves) {
  RunIsolated([] {
    const Installed backend;
    const std::string dir = ScratchDir();
    constexpr int kOperations = 6;
    std::vector<std::thread> threads;
    for (int t = 0; t < kOperations; ++t) {
      threads.emplace_back([&, t] {
        const std::string timestamp = "2026120514154" + std::to_string(t);
        const std::string image = PatternBytes(50000 + t * 333, static_cast<unsigned>(t));
        const std::string input = dir + "/image" + std::to_string(t);
        kelmar::testbed::WriteFile(input, image);
        const std::vector<std::string> common = {"--timestamp", timestamp, "--sessions", "3", "--buffer-size", "999"};
        std::vector<std::string> backup = {"backup", "--input", input};
        std::vector<std::string> restore = {"restore", "--output", input + ".restored"};
        backup.insert(backup.end(), common.begin(), common.end());
        restore.insert(restore.end(), common.begin(), common.end());
        backend.Ok(backup);
        backend.Ok(restore);
        EXPECT_TRUE(ReadFile(input + ".restored") == image) << "operation " << t;
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(backend.Run({"query-images"}).objects.size(), 3u * kOperations);
  });
}

}  // namespace
