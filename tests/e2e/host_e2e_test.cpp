// DB2 sessions end to end: kelmar-host driving libkelmar.so, which finds the installation and forwards to the
// sample backend. Backup data stays whole: what is stored comes back byte for byte or not at all, nothing stored
// is replaced, and a failed run says what failed in one line and leaves nothing behind.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

constexpr const char* kStore = "/tmp/home1/store";
constexpr const char* kTimestamp = "20261205141541";
constexpr auto npos = std::string::npos;

// kelmar-host on libkelmar.so, with Instance001 (the instance found without options) and Instance002 of the sample
// backend keeping their objects in /tmp/home1/store and /tmp/home2/store.
ProgramRun Host(Names args) {
  args.insert(args.begin(), {KELMAR_HOST_PROGRAM, "--library", KELMAR_SHARED_LIBRARY});
  return RunProgram(args);
}
void InstallVorlan() {
  const RegistryTree tree("/tmp/reg");
  tree.Export();
  tree.Install("Instance001", "/tmp/home1", KELMAR_SAMPLE_BACKEND);
  tree.Install("Instance002", "/tmp/home2", KELMAR_SAMPLE_BACKEND);
}
void ExpectOk(const ProgramRun& run) { EXPECT_EQ(run.status, 0) << run.out << run.err; }

Names Backup(const std::string& input, int sessions = 3) {
  return {"backup", "--input", input, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions),
          "--buffer-size", "4096"};
}
Names Restore(const std::string& output, int sessions = 3) {
  return {"restore", "--output", output, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions)};
}

// A run that fails with `status` and one line holding `message`, and changes nothing in /tmp/w.
void ExpectFailure(const Names& args, int status, const std::string& message) {
  const Names before = Listing("/tmp/w");
  const ProgramRun run = Host(args);
  EXPECT_EQ(run.status, status);
  EXPECT_NE(run.err.find(message), npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(Listing("/tmp/w"), before) << "no output, no leftovers";
}

// Images through Instance002, named by the options, queried and deleted as DB2 does; then logs, one session after
// another as DB2's log archiving process stores them: with the unload marker each session loads the backend afresh.
// Relative paths: kelmar-host takes them against its own working directory, wherever the library goes.
TEST(EndToEnd, BackupRestoreQueryDeleteAndLogs) {
  struct Case { std::size_t size; int sessions; bool unloads; };
  const Case cases[] = {{0, 2, false}, {3 * 65536 + 1, 4, false}, {65535, 1, true}, {10 * 65536 + 1, 4, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size << " bytes, " << c.sessions << " sessions, marker " << c.unloads);
    RunIsolated([&] {
      InstallVorlan();
      ASSERT_EQ(chdir("/tmp"), 0);
      const std::string image = PatternBytes(c.size, c.sessions);
      WriteFile("/tmp/image", image);
      if (c.unloads) WriteFile("/tmp/xj_unloadLibXjKelmar", "");
      const Names options = {"--options", "XjInstanceName=Instance002"};
      for (Names run : {Backup("image", c.sessions), Restore("restored", c.sessions)}) {
        run.insert(run.end(), {"--buffer-size", "65536", "--progress", options[0], options[1]});  // the last counts
        const ProgramRun result = Host(run);
        ExpectOk(result);
        EXPECT_EQ(result.err.rfind(run[0] + ": " + std::to_string(c.size) + " bytes (", 0), 0u) << "the totals line";
      }
      EXPECT_TRUE(ReadFile("/tmp/restored") == image);
      EXPECT_EQ(Listing("/tmp/home2/store").size(), static_cast<std::size_t>(c.sessions));
      EXPECT_NE(Host({"query-images", options[0], options[1]}).out.find("total: " + std::to_string(c.sessions)), npos);
      ExpectOk(Host({"delete-images", "--timestamp", "202612", options[0], options[1]}));
      EXPECT_EQ(Listing("/tmp/home2/store"), Names{});

      MakeDirs("/tmp/back");
      Names archive = {"archive", "--buffer-size", "4096"};
      for (const char* name : {"S0000001.LOG", "S0000002.LOG", "S0000003.LOG"}) {
        archive.push_back(name);
        WriteFile(std::string("/tmp/") + name, PatternBytes(20000 + name[7], name[7]));
      }
      ClearTrace();
      ExpectOk(Host(archive));
      // Without the marker the sessions share one load; one query session looks for the names in the store first.
      int loads = 0, unloads = 0;
      for (const std::string& line : TraceLines()) {
        loads += line.find("dlopen succeeded") != npos;
        unloads += line.rfind("unInitializeFptrs(): sqluv_handle is:", 0) == 0 && line.find("(nil)") == npos;
      }
      EXPECT_EQ(std::tuple(loads, unloads), c.unloads ? std::tuple(4, 4) : std::tuple(1, 0));
      ExpectFailure({"archive", "S0000002.LOG"}, 1, "the store already holds log file S0000002.LOG");
      ExpectOk(Host({"retrieve", "--output-dir", "back", "S0000003.LOG", "S0000001.LOG"}));
      EXPECT_EQ(Listing("/tmp/back"), (Names{"S0000001.LOG", "S0000003.LOG"}));
      EXPECT_TRUE(ReadFile("/tmp/back/S0000001.LOG") == ReadFile("/tmp/S0000001.LOG") &&
                  ReadFile("/tmp/back/S0000003.LOG") == ReadFile("/tmp/S0000003.LOG"));
      ExpectOk(Host({"delete-logs", "S0000002.LOG"}));
      const std::string logs = Host({"query-logs"}).out;
      EXPECT_TRUE(logs.find("total: 2 objects") != npos && logs.find("S0000002.LOG") == npos) << logs;
    });
  }
}

std::string Part(int sequence) {
  return std::string(kStore) + "/image.db2inst1.SAMPLE.0." + kTimestamp + "." + std::to_string(sequence);
}

// Runs `command` (kelmar-host on libkelmar.so is $0 $1) and stops it once a hidden file in `dir` has grown.
int Interrupted(const std::string& command, const std::string& dir) {
  const std::string script = "\"$0\" --library \"$1\" " + command + " & for i in $(seq 500); do [ -n \"$(find " +
                             dir + " -name '.*' -size +1)\" ] && break; sleep 0.01; done; kill -TERM $!; wait $!";
  return RunProgram({"/bin/sh", "-c", script, KELMAR_HOST_PROGRAM, KELMAR_SHARED_LIBRARY}).status;
}

// A (and B) are images that differ in every part.
const std::string kA = PatternBytes(40000, 1), kB = PatternBytes(30000, 2);

TEST(Integrity, EachCaseEndsWholeOrFailsCleanly) {
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"same timestamp, one after the other; the clock's, twice in one second", [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         ExpectFailure(Backup("/tmp/w/b", 2), 1, "the store already holds an image taken at 20261205141541 (3 parts)");
         ExpectOk(Host(Restore("/tmp/w/out")));
         EXPECT_TRUE(ReadFile("/tmp/w/out") == kA);
         for (int run = 0; run < 2; ++run) ExpectOk(Host({"backup", "--input", "/tmp/w/a"}));
         EXPECT_NE(Host({"query-images"}).out.find("total: 5 objects"), npos);
       }},
      {"same timestamp, at once", [] {
         ProgramRun runs[2];
         std::thread other([&] { runs[1] = Host(Backup("/tmp/w/b")); });
         runs[0] = Host(Backup("/tmp/w/a"));
         other.join();
         ASSERT_EQ(runs[0].status + runs[1].status, 1) << "one stores, one is refused";
         // "object already exists" at its first commit, or "already holds" when the other one was done already.
         const std::string& refusal = (runs[0].status == 0 ? runs[1] : runs[0]).err;
         EXPECT_NE(refusal.find(" already "), npos) << refusal;
         ExpectOk(Host(Restore("/tmp/w/out")));
         EXPECT_TRUE(ReadFile("/tmp/w/out") == (runs[0].status == 0 ? kA : kB));
       }},
      {"a part is damaged; then a commit fails in one session", [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         std::string part = ReadFile(Part(2));
         part.at(100) ^= 1;  // within part 2's data, after its header
         WriteFile(Part(2), part);
         ExpectFailure(Restore("/tmp/w/out"), 1, "kelmar-host: restore failed: ");
         unlink(Part(1).c_str());
         unlink(Part(2).c_str());
         ExpectFailure(Backup("/tmp/w/b"), 1, "\"object already exists\"; deleted the parts it had committed: 1, 2");
         EXPECT_EQ(Listing(kStore), Names{Part(3).substr(strlen(kStore) + 1)});
         EXPECT_NE(Host({"query-images"}).out.find("total: 0 objects"), npos);
       }},
      {"outputs that are not regular files", [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         ExpectOk(Host(Restore("/dev/null")));
         EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
         ASSERT_EQ(symlink("/tmp/w/b", "/tmp/w/link"), 0);
         ExpectOk(Host(Restore("/tmp/w/link")));
         EXPECT_TRUE(ReadFile("/tmp/w/b") == kA) << "the link's target holds the image";
         ExpectFailure(Restore("/tmp/w"), 1,
                       "/tmp/w is neither a regular file, a character device nor a pipe: not replaced");
       }},
      {"interrupted restore and backup, once their data has begun to arrive", [] {
         WriteFile("/tmp/w/big", std::string(32 << 20, 'x'));
         ExpectOk(Host(Backup("/tmp/w/big")));
         EXPECT_EQ(Interrupted(std::string("restore --output /tmp/w/out --sessions 3 --buffer-size 512 --timestamp ") +
                                   kTimestamp, "/tmp/w"), 128 + SIGTERM);
         EXPECT_EQ(Interrupted("backup --input /tmp/w/big --buffer-size 512", kStore), 128 + SIGTERM);
         EXPECT_EQ(Listing(kStore).size(), 3u) << "only the first backup's parts";
       }},
      {"a store this user may not write, then may not list: the backend names it", [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         DropPrivileges();  // only the owner's bits count now
         const std::string store = kStore;
         struct Denied { mode_t mode; Names args; std::string backend_line, host_line; };
         const Denied denials[] = {
             {.mode = 0500, .args = {"backup", "--input", "/tmp/w/b"},
              .backend_line = "libXjKelmar.so: cannot create a file in " + store + ": Permission denied\n",
              .host_line = "session 1: sqluvint returned SQLUV_IO_ERROR (25): \"store: Permission denied\""},
             {.mode = 0300, .args = {"query-images"},
              .backend_line = "libXjKelmar.so: cannot list " + store + ": Permission denied\n",
              .host_line = "sqluvint returned SQLUV_IO_ERROR (25): \"store: Permission denied\""},
         };
         for (const Denied& denied : denials) {
           SCOPED_TRACE(denied.args.front());
           ASSERT_EQ(chmod(kStore, denied.mode), 0);
           const ProgramRun run = Host(denied.args);
           EXPECT_EQ(run.status, 1);
           EXPECT_NE(run.err.find(denied.backend_line), npos) << run.err;
           EXPECT_NE(run.err.find(denied.host_line), npos) << run.err;
         }
         ASSERT_EQ(chmod(kStore, 0700), 0);
       }},
      {"refusals by the library, the backend and the tool", [] {
         ExpectFailure({"backup", "--input", "/tmp/w/a", "--options", "XjInstanceName=Instance009"}, 1,
                       "kelmar-host: backup failed: looking into the store: sqluvint returned -1, return code "
                       "SQLUV_INIT_FAILED (11); run kelmar-check with the same options, or switch the trace on "
                       "(/tmp/libkelmar.log)\n");
         ExpectFailure(Restore("/tmp/w/out", 1), 1, "kelmar-host: restore failed: session 1: sqluvint returned "
                                                      "SQLUV_OBJ_NOT_FOUND (6): \"no such object\"\n");
         ExpectFailure({"backup", "--input", "/tmp/w/missing"}, 2,
                       "kelmar-host: backup failed: cannot open input file /tmp/w/missing: No such file or "
                       "directory\n");
         ExpectFailure({"--library", "/nowhere/libkelmar.so", "query-logs"}, 3,
                       "kelmar-host: cannot load /nowhere/libkelmar.so: ");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    RunIsolated([&] {
      InstallVorlan();
      MakeDirs("/tmp/w");
      WriteFile("/tmp/w/a", kA);
      WriteFile("/tmp/w/b", kB);
      c.second();
      // Nothing hidden anywhere: no part of a restore, no object the store did not commit.
      for (const char* dir : {"/tmp/w", kStore}) {
        for (const std::string& entry : Listing(dir)) EXPECT_NE(entry[0], '.') << dir << "/" << entry;
      }
    });
  }
}

}  // namespace
