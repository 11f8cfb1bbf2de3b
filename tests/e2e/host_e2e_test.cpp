// DB2 sessions end to end: kelmar-host (or its session code) driving
// libkelmar.so, which finds the installation and forwards to the sample
// backend, with the operators' trace and markers in the private /tmp.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "host/session_records.h"
#include "host/vendor_library.h"
#include "host_test_support.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

using kelmar::testbed::ClearTrace;
using kelmar::testbed::EnableTrace;
using kelmar::testbed::RunIsolated;
using kelmar::testbed::TraceLines;
using kelmar::testbed::WriteFile;
using kelmar::testing::Exists;
using kelmar::testing::HostRun;
using kelmar::testing::Listing;
using kelmar::testing::PatternBytes;
using kelmar::testing::ReadFile;
using kelmar::testing::ReadTraceStory;
using kelmar::testing::RunHost;
using kelmar::testing::ScratchDir;
using kelmar::testing::TraceStory;
using kelmar::testing::Vorlan;
using Args = std::vector<std::string>;

constexpr const char* kUnloadMarker = "/tmp/xj_unloadLibXjKelmar";
constexpr const char* kKeepLoadedMarker = "/tmp/debugDB2_nounload";
constexpr const char* kTimestamp = "20261205141541";

void ExpectSuccess(const HostRun& run, const std::string& what) {
  EXPECT_EQ(run.status, 0) << what << "\n" << run.out << run.err;
  EXPECT_EQ(run.err, "") << what;
}

Args With(Args args, const Args& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(EndToEnd, BackupAndRestoreRoundTripToTheByte) {
  struct Case {
    std::size_t size;
    int sessions;
    bool unload_marker;
  };
  const Case cases[] = {
      {3 * 65536 + 123, 1, false}, {3 * 65536 + 123, 4, false}, {0, 2, false},
      {3 * 65536 + 123, 1, true},  {10 * 65536 + 1, 4, true},
  };
  for (const Case& c : cases) {
    const std::string label = std::to_string(c.size) + " bytes, " + std::to_string(c.sessions) + " sessions" +
                              (c.unload_marker ? ", unload marker" : "");
    RunIsolated([&] {
      const Vorlan vorlan;
      const std::string home = vorlan.Install("Instance001");
      const std::string dir = ScratchDir();
      const std::string image = PatternBytes(c.size, static_cast<unsigned>(c.sessions));
      WriteFile(dir + "/image", image);
      if (c.unload_marker) WriteFile(kUnloadMarker, "");
      EnableTrace();
      const Args common = {"--timestamp", kTimestamp, "--sessions", std::to_string(c.sessions), "--buffer-size",
                           "65536", "--options", "XjInstanceName=Instance001"};

      for (const Args& operation : {Args{"backup", "--input", dir + "/image"},
                                    Args{"restore", "--output", dir + "/restored"}}) {
        ClearTrace();
        ExpectSuccess(RunHost(With(operation, common)), label + ": " + operation[0]);
        const TraceStory story = ReadTraceStory(TraceLines());
        EXPECT_EQ(story.max_open_sessions, c.sessions) << label;
        EXPECT_EQ(story.unloads_with_open_sessions, 0) << label;
        if (c.unload_marker) {
          EXPECT_GE(story.unloads, 1) << label << ": the last session to end unloads";
        } else {
          EXPECT_EQ(story.loads, 1) << label << ": sessions of one process share one load";
          EXPECT_EQ(story.unloads, 0) << label;
        }
      }
      EXPECT_TRUE(ReadFile(dir + "/restored") == image) << label;
      EXPECT_EQ(Listing(home + "/store").size(), static_cast<std::size_t>(c.sessions)) << label;
    });
  }
}

TEST(EndToEnd, HistoryQueryAndDeletes) {
  RunIsolated([] {
    const Vorlan vorlan;
    vorlan.Install("Instance001");
    const std::string dir = ScratchDir();
    WriteFile(dir + "/image", PatternBytes(1000, 1));
    const Args record = {"--record", "vmName=Instance001", "--record", "instanceName=db2inst1"};
    for (const char* timestamp : {"20260101000000", kTimestamp}) {
      ExpectSuccess(RunHost(With({"backup", "--input", dir + "/image", "--timestamp", timestamp, "--sessions", "2",
                                  "--buffer-size", "400"},
                                 record)),
                    timestamp);
    }
    HostRun query = RunHost(With({"query-images"}, record));
    ExpectSuccess(query, "query-images");
    EXPECT_NE(query.out.find("image SAMPLE (instance db2inst1, node 0) taken at 20260101000000, sequence 2: 200 bytes"),
              std::string::npos)
        << query.out;
    EXPECT_NE(query.out.find("total: 4 objects"), std::string::npos) << query.out;

    ExpectSuccess(RunHost(With({"delete-images", "--timestamp", "2026010"}, record)), "delete-images");
    query = RunHost(With({"query-images"}, record));
    EXPECT_NE(query.out.find("total: 2 objects"), std::string::npos) << query.out;
    EXPECT_EQ(query.out.find("20260101000000"), std::string::npos) << query.out;

    ExpectSuccess(RunHost(With({"delete-all"}, record)), "delete-all");
    query = RunHost(With({"query-images"}, record));
    EXPECT_NE(query.out.find("total: 0 objects"), std::string::npos) << query.out;
  });
}

// The log archiving process of DB2 lives long and opens one session after
// another; with the unload marker each one loads the backend afresh.
TEST(EndToEnd, LogArchiveAndRetrieveOneSessionAfterAnother) {
  for (const bool unload_marker : {false, true}) {
    RunIsolated([&] {
      const Vorlan vorlan;
      vorlan.Install("Instance001");
      const std::string dir = ScratchDir();
      kelmar::testbed::MakeDirs(dir + "/back");
      Args logs;
      for (int i = 1; i <= 3; ++i) {
        logs.push_back(dir + "/S000000" + std::to_string(i) + ".LOG");
        WriteFile(logs.back(), PatternBytes(20000 + i, i));
      }
      if (unload_marker) WriteFile(kUnloadMarker, "");
      EnableTrace();
      ExpectSuccess(RunHost(With({"archive", "--buffer-size", "4096"}, logs)), "archive");
      const TraceStory story = ReadTraceStory(TraceLines());
      EXPECT_EQ(story.loads, unload_marker ? 3 : 1);
      EXPECT_EQ(story.unloads, unload_marker ? 3 : 0);
      EXPECT_EQ(story.unloads_with_open_sessions, 0);

      ExpectSuccess(RunHost({"retrieve", "--output-dir", dir + "/back", "S0000003.LOG", "S0000001.LOG",
                             "S0000002.LOG"}),
                    "retrieve");
      for (const std::string& log : logs) {
        EXPECT_TRUE(ReadFile(dir + "/back/" + log.substr(log.rfind('/') + 1)) == ReadFile(log)) << log;
      }
      const HostRun query = RunHost({"query-logs"});
      EXPECT_NE(query.out.find("total: 3 objects"), std::string::npos) << query.out;
    });
  }
}

TEST(EndToEnd, TheOptionsChooseTheInstance) {
  struct Case {
    const char* what;
    Args options;
    const char* vorlan_inst;  // null: unset
    const char* served_by;
  };
  const Case cases[] = {
      {"options text", {"--options", "XjInstanceName=Instance002,Other=1"}, nullptr, "Instance002"},
      {"options record", {"--record", "vmName=Instance002", "--record", "instanceName=db2inst1"}, nullptr,
       "Instance002"},
      {"no options, VORLAN_INST", {}, "Instance002", "Instance002"},
      {"no options, no VORLAN_INST: the preferred instance", {}, nullptr, "Instance001"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      const Vorlan vorlan;
      const std::string homes[] = {vorlan.Install("Instance001"), vorlan.Install("Instance002")};
      if (c.vorlan_inst != nullptr) {
        setenv("VORLAN_INST", c.vorlan_inst, 1);
      } else {
        unsetenv("VORLAN_INST");
      }
      const std::string dir = ScratchDir();
      WriteFile(dir + "/image", "image");
      ExpectSuccess(RunHost(With({"backup", "--input", dir + "/image", "--timestamp", kTimestamp}, c.options)), c.what);
      const bool second = std::string(c.served_by) == "Instance002";
      EXPECT_EQ(Listing(homes[second ? 1 : 0] + "/store").size(), 1u) << c.what;
      EXPECT_EQ(Listing(homes[second ? 0 : 1] + "/store").size(), 0u) << c.what;
    });
  }
}

// dir/image backed up at kTimestamp on `sessions` sessions, in parts of 1000-byte buffers.
void BackUpImage(const std::string& dir, int sessions) {
  ASSERT_EQ(RunHost({"backup", "--input", dir + "/image", "--timestamp", kTimestamp, "--sessions",
                     std::to_string(sessions), "--buffer-size", "1000"})
                .status,
            0);
}

TEST(EndToEnd, FailuresNameWhatFailedAndLeaveNothingThatLooksLikeSuccess) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> setup;
    Args args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"no installation for the instance", [](const std::string&) {},
       {"backup", "--input", "@/image", "--options", "XjInstanceName=Instance009"}, 1,
       "kelmar-host: backup failed: session 1: sqluvint returned -1, return code SQLUV_INIT_FAILED (11)\n"},
      {"an image never taken", [](const std::string&) {},
       {"restore", "--output", "@/restored", "--timestamp", "20000101000000"}, 1,
       "kelmar-host: restore failed: session 1: sqluvint returned SQLUV_OBJ_NOT_FOUND (6): \"no such object\"\n"},
      {"a restore whose second object is gone",
       [](const std::string& dir) {
         BackUpImage(dir, 2);
         ASSERT_EQ(RunHost({"delete-images", "--timestamp", kTimestamp}).status, 0);
         BackUpImage(dir, 1);
       },
       {"restore", "--output", "@/restored", "--timestamp", kTimestamp, "--sessions", "2", "--buffer-size", "1000"},
       1, "kelmar-host: restore failed: session 2: sqluvint returned SQLUV_OBJ_NOT_FOUND (6): \"no such object\"\n"},
      {"a restore on fewer sessions than its backup had", [](const std::string& dir) { BackUpImage(dir, 2); },
       {"restore", "--output", "@/restored", "--timestamp", kTimestamp, "--buffer-size", "1000"}, 1,
       "kelmar-host: restore failed: the image has more parts than this restore's 1 session (part 2 exists): "
       "restore it with as many sessions as its backup had\n"},
      {"a missing input file", [](const std::string&) {}, {"backup", "--input", "@/missing"}, 2,
       "kelmar-host: backup failed: cannot open input file @/missing: No such file or directory\n"},
      {"malformed options", [](const std::string&) {}, {"query-logs", "--record", "vmName=Instance0000000000001"}, 2,
       "kelmar-host: value for options record field vmName must be at most 17 characters"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      const Vorlan vorlan;
      vorlan.Install("Instance001");
      const std::string dir = ScratchDir();
      WriteFile(dir + "/image", PatternBytes(3000, 9));
      c.setup(dir);
      Args args = c.args;
      for (std::string& arg : args) {
        if (arg[0] == '@') arg = dir + arg.substr(1);
      }
      std::string message = c.message;
      if (const std::size_t at = message.find('@'); at != std::string::npos) message.replace(at, 1, dir);

      const HostRun run = RunHost(args);
      EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.err;
      EXPECT_EQ(run.err.substr(0, message.size()), message) << c.what;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": one line";
      EXPECT_EQ(Listing(dir), Args{"image"}) << c.what << ": no output, no leftovers";
    });
  }
  RunIsolated([] {
    Vorlan vorlan;
    const HostRun run = RunHost({"--library", "/nowhere/libkelmar.so", "query-logs"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err.rfind("kelmar-host: cannot load /nowhere/libkelmar.so: ", 0), 0u) << run.err;
  });
}

// Sessions driven call by call through libkelmar.so, so that the markers can
// be laid between the calls of overlapping sessions.
class Sessions {
 public:
  Sessions() {
    std::string error;
    const auto library = kelmar::host::LoadVendorLibrary(kelmar::testing::kLibkelmar, false, error);
    if (!library) ADD_FAILURE() << error;
    if (library) calls_ = library->calls;
    void* handle = dlopen(kelmar::testing::kLibkelmar.c_str(), RTLD_NOW | RTLD_NOLOAD);
    backend_handle_ = handle != nullptr ? static_cast<void**>(dlsym(handle, "sqluv_handle")) : nullptr;
  }

  struct Session {
    kelmar::host::SessionRecords records;
    explicit Session(int sequence) : records(Identity(sequence), kelmar::tools::NoOptions()) {}
    static kelmar::host::SessionIdentity Identity(int sequence) {
      kelmar::host::SessionIdentity identity;
      identity.action = 'W';
      identity.database = "SAMPLE";
      identity.instance = "db2inst1";
      identity.timestamp = kTimestamp;
      identity.sequence = sequence;
      return identity;
    }
  };

  sqlint32 Open(Session& s) { return calls_.sqluvint(s.records.input(), s.records.output(), s.records.FreshReturnCode()); }
  sqlint32 Put(Session& s) {
    char byte = 'x';
    Data data{s.records.sequence(), 1, 0, &byte, nullptr};
    return calls_.sqluvput(s.records.vendor_cb(), &data, s.records.FreshReturnCode());
  }
  sqlint32 End(Session& s) {
    return calls_.sqluvend(SQLUV_COMMIT, s.records.vendor_cb(), s.records.output(), s.records.FreshReturnCode());
  }
  bool BackendLoaded() const { return backend_handle_ != nullptr && *backend_handle_ != nullptr; }

 private:
  kelmar::host::VendorCalls calls_;
  void** backend_handle_ = nullptr;
};

// Two sessions of one process with the unload marker present and the trace on.
void WithUnloadMarker(const std::function<void(Sessions&, Sessions::Session&, Sessions::Session&)>& body) {
  RunIsolated([&] {
    Vorlan vorlan;
    vorlan.Install("Instance001");
    setenv("VORLAN_INST", "Instance001", 1);
    WriteFile(kUnloadMarker, "");
    EnableTrace();
    Sessions sessions;
    Sessions::Session first(1), second(2);
    body(sessions, first, second);
  });
}

TEST(EndToEnd, TheUnloadMarkerWaitsForTheLastOpenSession) {
  WithUnloadMarker([](Sessions& sessions, Sessions::Session& first, Sessions::Session& second) {
    ASSERT_EQ(sessions.Open(first), SQLUV_OK);
    ASSERT_EQ(sessions.Open(second), SQLUV_OK);
    ASSERT_EQ(sessions.End(first), SQLUV_OK);
    EXPECT_TRUE(sessions.BackendLoaded()) << "the second session is still open";
    EXPECT_EQ(sessions.Put(second), SQLUV_OK);
    ASSERT_EQ(sessions.End(second), SQLUV_OK);
    EXPECT_FALSE(sessions.BackendLoaded()) << "the last session to end unloads";

    const TraceStory story = ReadTraceStory(TraceLines());
    EXPECT_GE(story.refused_in_use, 2) << "the second sqluvint and the first sqluvend";
    EXPECT_EQ(story.unloads, 1);
    EXPECT_EQ(story.unloads_with_open_sessions, 0);
  });
}

TEST(EndToEnd, TheKeepLoadedMarkerSparesOneUnload) {
  WithUnloadMarker([](Sessions& sessions, Sessions::Session& first, Sessions::Session& second) {
    ASSERT_EQ(sessions.Open(first), SQLUV_OK);
    WriteFile(kKeepLoadedMarker, "");
    ASSERT_EQ(sessions.End(first), SQLUV_OK);
    EXPECT_TRUE(sessions.BackendLoaded()) << "spared by the keep-loaded marker";
    EXPECT_FALSE(Exists(kKeepLoadedMarker)) << "honoured once, then deleted";
    EXPECT_EQ(ReadTraceStory(TraceLines()).kept_loaded, 1);

    // The next check unloads again: sqluvint unloads and loads afresh.
    ClearTrace();
    ASSERT_EQ(sessions.Open(second), SQLUV_OK);
    TraceStory story = ReadTraceStory(TraceLines());
    EXPECT_EQ(story.unloads, 1);
    EXPECT_EQ(story.loads, 1);
    ASSERT_EQ(sessions.End(second), SQLUV_OK);
    EXPECT_FALSE(sessions.BackendLoaded());
  });
}

}  // namespace
