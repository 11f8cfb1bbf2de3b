// kelmar-host driving libkelmar.so and the sample backend: what is stored comes back whole or not at all.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

constexpr const char* kStore = "/tmp/home1/store";
constexpr const char* kTimestamp = "20261205141541";
constexpr int kSessions = 3;
constexpr int kOneSession = 1;
constexpr int kFailed = 1;  // kelmar-host's exit status when an operation fails
constexpr int kSignalled = 128;  // plus the signal, as a shell reports a program a signal ended
constexpr auto npos = std::string::npos;

Names HostArgs(const Names& args) { return Names{KELMAR_HOST_PROGRAM, "--library", KELMAR_SHARED_LIBRARY} + args; }
ProgramRun Host(const Names& args) { return RunProgram(HostArgs(args)); }
void InstallVorlan() {
  Installation().Exported().Instance("Instance001").Home("/tmp/home1").Backend(KELMAR_SAMPLE_BACKEND)
      .Instance("Instance002").Home("/tmp/home2").Backend(KELMAR_SAMPLE_BACKEND);
}
void ExpectOk(const ProgramRun& run) { EXPECT_EQ(run.status, 0) << run.out << run.err; }

Names Backup(const std::string& input, int sessions = kSessions) {
  return {"backup", "--input", input, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions),
          "--buffer-size", "4096"};
}
Names Restore(const std::string& output, int sessions = kSessions) {
  return {"restore", "--output", output, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions)};
}

// A run that fails with `status`, saying so in `lines` (each inside a line of its own), and changes nothing in /tmp/w.
void ExpectFailure(const Names& args, int status, const Names& lines) {
  const Names before = Listing("/tmp/w");
  const ProgramRun run = Host(args);
  EXPECT_EQ(run.status, status);
  for (const std::string& line : lines) {
    EXPECT_NE(run.err.find(line), npos) << run.err;
  }
  EXPECT_EQ(SplitLines(run.err).size(), lines.size()) << run.err;
  EXPECT_EQ(Listing("/tmp/w"), before) << "no output, no leftovers";
}

// The backend's loads and unloads (how many while a session was open) and the most sessions open at once.
std::string ReadLoadStory() {
  int loads = 0, unloads = 0, unloads_while_open = 0, open = 0, peak_open = 0;
  for (const std::string& line : TraceLines()) {
    open += line == "sqluvint(): -----------Leaving, returning 0--------";
    open -= line == "sqluvend(): Calling sqluvendpp()";
    peak_open = std::max(peak_open, open);
    loads += line.find("dlopen succeeded") != npos;
    const bool unload = line.starts_with("unInitializeFptrs(): sqluv_handle is:") && !line.ends_with("(nil)");
    unloads += unload;
    unloads_while_open += unload && open > 0;
  }
  return "loads " + std::to_string(loads) + ", unloads " + std::to_string(unloads) + ", " +
         std::to_string(unloads_while_open) + " while open, peak " + std::to_string(peak_open);
}

// Images through Instance002 (named by the options), then logs one session after another as DB2 archives them. With
// the unload marker the last session to end unloads, never while another is open.
TEST(EndToEnd, BackupRestoreQueryDeleteAndLogs) {
  constexpr std::size_t kBuffer = 65536;
  constexpr std::size_t kLogBytes = 20000;
  // After a restore's last session ends, the look for a part after the last loads the backend again.
  struct Case { const char* name; std::size_t bytes; int sessions; bool unload_marker; const char *backup, *restore; };
  const Case cases[] = {
      {.name = "empty image, 2 sessions", .bytes = 0, .sessions = 2, .unload_marker = false,
       .backup = "loads 1, unloads 0, 0 while open, peak 2", .restore = "loads 1, unloads 0, 0 while open, peak 2"},
      {.name = "10 buffers and a byte, 4 sessions", .bytes = 10 * kBuffer + 1, .sessions = 4, .unload_marker = true,
       .backup = "loads 2, unloads 2, 0 while open, peak 4", .restore = "loads 2, unloads 1, 0 while open, peak 4"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      InstallVorlan();
      ASSERT_EQ(chdir("/tmp"), 0);
      const std::string image = PatternBytes(row.bytes, row.sessions);
      WriteFile("/tmp/image", image);
      if (row.unload_marker) {
        WriteFile("/tmp/xj_unloadLibXjKelmar", "");
      }
      const Names options = {"--options", "XjInstanceName=Instance002"};
      for (const auto& [run, story] : {std::pair(Backup("image", row.sessions), row.backup),
                                       std::pair(Restore("restored", row.sessions), row.restore)}) {
        EnableTrace();
        ExpectOk(Host(run + Names{"--buffer-size", std::to_string(kBuffer)} + options));
        EXPECT_EQ(ReadLoadStory(), story) << run[0];
      }
      EXPECT_TRUE(ReadFile("/tmp/restored") == image) << "the image, byte for byte";
      const std::string images = Host({"query-images", options[0], options[1]}).out;
      EXPECT_NE(images.find("total: " + std::to_string(row.sessions) + " object"), npos) << images;
      ExpectOk(Host({"delete-images", "--timestamp", "202612", options[0], options[1]}));
      EXPECT_EQ(Listing("/tmp/home2/store"), Names{});

      const Names logs = {"S0000001.LOG", "S0000002.LOG", "S0000003.LOG"};
      for (unsigned seed = 0; seed < logs.size(); ++seed) {
        WriteFile("/tmp/" + logs[seed], PatternBytes(kLogBytes + seed, seed));  // sizes differ too
      }
      EnableTrace();
      ExpectOk(Host(Names{"archive", "--buffer-size", "4096"} + logs));
      EXPECT_EQ(ReadLoadStory(), row.unload_marker ? "loads 4, unloads 4, 0 while open, peak 1"
                                                   : "loads 1, unloads 0, 0 while open, peak 1") << "archive";
      ExpectFailure({"archive", "S0000002.LOG"}, kFailed, {"the store already holds log file S0000002.LOG"});
      ExpectOk(Host({"delete-logs", "S0000002.LOG"}));
      MakeDirs("/tmp/back");
      ExpectOk(Host({"retrieve", "--output-dir", "back", "S0000003.LOG"}));
      EXPECT_TRUE(ReadFile("/tmp/back/S0000003.LOG") == ReadFile("/tmp/S0000003.LOG"));
      ExpectFailure({"retrieve", "--output-dir", "back", "S0000002.LOG"}, kFailed,
                    {"S0000002.LOG: sqluvint returned SQLUV_OBJ_NOT_FOUND (6): \"no such object\""});
    });
  }
}

// Small buffers make a big image slow enough to catch with its data under way, in files kept hidden until whole.
constexpr std::size_t kBigImage = 32 << 20;
constexpr int kSmallBuffer = 512;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kPolls = 500;
bool HiddenDataIn(const std::string& dir) {
  return std::ranges::any_of(Listing(dir), [&](const std::string& name) {
    struct stat file {};
    return name.starts_with('.') && stat((dir + "/" + name).c_str(), &file) == 0 && file.st_size > kSmallBuffer;
  });
}

const std::string kA = PatternBytes(40000, 1);  // A and B differ in every part
const std::string kB = PatternBytes(30000, 2);

TEST(Integrity, EachCaseEndsWholeOrFailsCleanly) {
  struct Case { const char* name; std::function<void()> run; };
  const Case cases[] = {
      {.name = "same timestamp, one after the other; then a restore on fewer sessions", .run = [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         ExpectFailure(Backup("/tmp/w/b", kOneSession), kFailed, {"holds an image taken at 20261205141541 (3 parts)"});
         ExpectFailure(Restore("/tmp/w/out", kOneSession), kFailed, {"than this restore's 1 session (part 2 exists)"});
       }},
      {.name = "same timestamp, at once: one stores, the other is refused", .run = [] {
         ProgramRun other;
         std::thread racing([&] { other = Host(Backup("/tmp/w/b")); });
         const ProgramRun run = Host(Backup("/tmp/w/a"));
         racing.join();
         ASSERT_EQ(run.status + other.status, kFailed) << run.err << other.err;
         const bool first_won = run.status == 0;
         // "object already exists" at its first commit, or "already holds" once the other was done.
         EXPECT_NE((first_won ? other : run).err.find(" already "), npos) << run.err << other.err;
         ExpectOk(Host(Restore("/tmp/w/out")));
         EXPECT_TRUE(ReadFile("/tmp/w/out") == (first_won ? kA : kB)) << "the winner's image, whole";
       }},
      {.name = "a restore stopped by SIGTERM with its data under way ends by that signal, leaving no image", .run = [] {
         WriteFile("/tmp/w/big", std::string(kBigImage, 'x'));
         ExpectOk(Host(Backup("/tmp/w/big")));
         const Names args = HostArgs(Restore("/tmp/w/out") + Names{"--buffer-size", std::to_string(kSmallBuffer)});
         const pid_t host = StartProgram(args, "/dev/null", "/dev/null");
         ASSERT_NE(host, 0);
         for (int poll = 0; poll < kPolls && !HiddenDataIn("/tmp/w"); ++poll) {
           std::this_thread::sleep_for(kPollInterval);
         }
         kill(host, SIGTERM);
         EXPECT_EQ(WaitForProgram(host), kSignalled + SIGTERM);
         EXPECT_EQ(Listing("/tmp/w"), (Names{"a", "b", "big"})) << "no restored image";
       }},
      {.name = "a commit fails in one session: the backup deletes the parts it committed", .run = [] {
         const std::string parts = std::string(kStore) + "/image.db2inst1.SAMPLE.0.20261205141541.";
         ExpectOk(Host(Backup("/tmp/w/a")));
         unlink((parts + "1").c_str());
         unlink((parts + "2").c_str());
         ExpectFailure(Backup("/tmp/w/b"), kFailed,
                       {"\"object already exists\"; "
                        "deleted the parts it had committed: 1, 2"});
         EXPECT_EQ(Listing(kStore), Names{"image.db2inst1.SAMPLE.0.20261205141541.3"});
       }},
      {.name = "a store this user may not write, then may not list: the backend names it", .run = [] {
         ExpectOk(Host(Backup("/tmp/w/a")));
         DropPrivileges();
         ASSERT_EQ(chmod(kStore, S_IRUSR | S_IXUSR), 0);
         ExpectFailure({"backup", "--input", "/tmp/w/b"}, kFailed,
                       {"create a file in /tmp/home1/store: Permission denied", "IO_ERROR (25): \"store: Permission"});
         ASSERT_EQ(chmod(kStore, S_IWUSR | S_IXUSR), 0);
         ExpectFailure({"query-images"}, kFailed,
                       {"cannot list /tmp/home1/store: Permission denied", "session 1: sqluvint returned SQLUV_IO"});
         ASSERT_EQ(chmod(kStore, S_IRWXU), 0);  // for the look for hidden files below
       }},
      {.name = "refusals by the library and by the backend, forwarded unchanged", .run = [] {
         ExpectFailure({"backup", "--input", "/tmp/w/a", "--options", "XjInstanceName=Instance009"}, kFailed,
                       {"store: sqluvint returned -1, return code SQLUV_INIT_FAILED (11);"});
         ExpectFailure({"backup", "--input", "/tmp/w/a", "--db", "../x"}, kFailed,
                       {"sqluvint returned SQLUV_INIT_FAILED (11): \"invalid database name\";"});
       }},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      InstallVorlan();
      MakeDirs("/tmp/w");
      WriteFile("/tmp/w/a", kA);
      WriteFile("/tmp/w/b", kB);
      row.run();
      // Nothing hidden anywhere: no part of a restore, no object the store did not commit.
      for (const char* dir : {"/tmp/w", kStore}) {
        for (const std::string& entry : Listing(dir)) {
          EXPECT_FALSE(entry.starts_with('.')) << dir << "/" << entry;
        }
      }
    });
  }
}

}  // namespace
