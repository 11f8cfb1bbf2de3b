// Backup data stays whole end to end: what kelmar-host stores through libkelmar.so in the sample backend comes
// back byte for byte or not at all, nothing stored is replaced, and a failed run says what failed in one line
// and leaves nothing behind.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

constexpr const char* kStore = "/tmp/home1/store";
constexpr const char* kTimestamp = "20261205141541";
constexpr auto npos = std::string::npos;

Names Backup(const std::string& input, int sessions = 3) {
  return {"backup", "--input", input, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions),
          "--buffer-size", "4096"};
}

Names Restore(const std::string& output, const char* sessions = "3") {
  return {"restore", "--output", output, "--timestamp", kTimestamp, "--sessions", sessions};
}

// A restore into `output`, which must give `expected`, or fail with exit status 1 when `expected` is empty.
void ExpectRestore(const std::string& expected, const std::string& output = "/tmp/w/out") {
  const ProgramRun run = Host(Restore(output));
  EXPECT_EQ(run.status, expected.empty() ? 1 : 0) << run.err;
  EXPECT_TRUE(expected.empty() || ReadFile(output) == expected) << output << " differs";
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
      {"same timestamp, one after the other", [] {
         EXPECT_EQ(Host(Backup("/tmp/w/a")).status, 0);
         ExpectFailure(Backup("/tmp/w/b", 2), 1, "the store already holds an image taken at 20261205141541 (3 parts)");
         ExpectRestore(kA);
       }},
      {"the clock's timestamp, twice in one second", [] {
         for (int run = 0; run < 2; ++run) EXPECT_EQ(Host({"backup", "--input", "/tmp/w/a"}).status, 0);
         const std::string listed = Host({"query-images"}).out;
         EXPECT_NE(listed.find("total: 2 objects"), npos) << listed;
       }},
      {"same timestamp, at once", [] {
         ProgramRun runs[2];
         std::thread other([&] { runs[1] = Host(Backup("/tmp/w/b")); });
         runs[0] = Host(Backup("/tmp/w/a"));
         other.join();
         ASSERT_EQ(runs[0].status + runs[1].status, 1) << "one stores, one is refused";
         // Refused at its first commit, or before any data when the other one was done already.
         const std::string& refusal = (runs[0].status == 0 ? runs[1] : runs[0]).err;
         EXPECT_TRUE(refusal.find("\"object already exists\"") != npos || refusal.find("already holds") != npos)
             << refusal;
         ExpectRestore(runs[0].status == 0 ? kA : kB);
       }},
      {"a commit fails in one session", [] {
         EXPECT_EQ(Host(Backup("/tmp/w/b")).status, 0);
         unlink(Part(1).c_str());
         unlink(Part(2).c_str());
         ExpectFailure(Backup("/tmp/w/a"), 1, "\"object already exists\"; deleted the parts it had committed: 1, 2");
         EXPECT_EQ(Listing(kStore), Names{Part(3).substr(strlen(kStore) + 1)});
         EXPECT_NE(Host({"query-images"}).out.find("total: 0 objects"), npos);
         ExpectRestore("");
       }},
      {"a part is damaged", [] {
         EXPECT_EQ(Host(Backup("/tmp/w/a")).status, 0);
         std::string part = ReadFile(Part(2));
         part[100] ^= 1;
         WriteFile(Part(2), part);
         ExpectRestore("");
       }},
      {"relative paths", [] {
         ASSERT_EQ(chdir("/tmp/w"), 0);
         const ProgramRun backup =
             Host({"backup", "--input", "a", "--timestamp", kTimestamp, "--sessions", "3", "--progress"});
         EXPECT_EQ(backup.status, 0);
         EXPECT_EQ(backup.err.rfind("backup: 40000 bytes (0.0 MiB) in ", 0), 0u) << "the totals line";
         EXPECT_EQ(Host({"archive", "b"}).status, 0);
         ExpectFailure({"archive", "b"}, 1, "the store already holds log file b");
         MakeDirs("/tmp/w/od");
         EXPECT_EQ(Host({"retrieve", "--output-dir", "od", "b"}).status, 0);
         EXPECT_TRUE(ReadFile("/tmp/w/od/b") == kB);
         ExpectRestore(kA, "out");
       }},
      {"outputs that are not regular files", [] {
         EXPECT_EQ(Host(Backup("/tmp/w/a")).status, 0);
         EXPECT_EQ(Host(Restore("/dev/null")).status, 0);
         struct stat status {};
         EXPECT_TRUE(stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode));
         ASSERT_EQ(symlink("/tmp/w/b", "/tmp/w/link"), 0);
         ExpectRestore(kA, "/tmp/w/link");
         EXPECT_TRUE(ReadFile("/tmp/w/b") == kA) << "the link's target holds the image";
         ExpectFailure(Restore("/tmp/w"), 1,
                       "/tmp/w is neither a regular file, a character device nor a pipe: not replaced");
       }},
      {"interrupted restore and backup, once their data has begun to arrive", [] {
         WriteFile("/tmp/w/big", std::string(32 << 20, 'x'));
         EXPECT_EQ(Host(Backup("/tmp/w/big")).status, 0);
         EXPECT_EQ(Interrupted(std::string("restore --output /tmp/w/out --sessions 3 --buffer-size 512 --timestamp ") +
                                   kTimestamp, "/tmp/w"), 128 + SIGTERM);
         EXPECT_EQ(Interrupted("backup --input /tmp/w/big --buffer-size 512", kStore), 128 + SIGTERM);
         EXPECT_EQ(Listing(kStore).size(), 3u) << "only the first backup's parts";
       }},
      {"an unknown instance", [] {
         ExpectFailure({"backup", "--input", "/tmp/w/a", "--options", "XjInstanceName=Instance009"}, 1,
                       "kelmar-host: backup failed: looking into the store: sqluvint returned -1, return code "
                       "SQLUV_INIT_FAILED (11); run kelmar-check with the same options, or switch the trace on "
                       "(/tmp/libkelmar.log)\n");
       }},
      {"a bad database name", [] {
         ExpectFailure({"backup", "--input", "/tmp/w/a", "--db", "../x"}, 1,
                       "kelmar-host: backup failed: looking into the store: sqluvint returned SQLUV_INIT_FAILED (11): "
                       "\"invalid database name\"; run kelmar-check");
       }},
      {"a restore of nothing, and of an image with more parts than sessions", [] {
         ExpectFailure(Restore("/tmp/w/out", "1"), 1, "kelmar-host: restore failed: session 1: sqluvint returned "
                                                      "SQLUV_OBJ_NOT_FOUND (6): \"no such object\"\n");
         EXPECT_EQ(Host(Backup("/tmp/w/a", 2)).status, 0);
         ExpectFailure(Restore("/tmp/w/out", "1"), 1,
                       "kelmar-host: restore failed: the image has more parts than this restore's 1 session (part 2 "
                       "exists): restore it with as many sessions as its backup had\n");
       }},
      {"the tool's own refusals", [] {
         ExpectFailure({"backup", "--input", "/tmp/w/missing"}, 2,
                       "kelmar-host: backup failed: cannot open input file /tmp/w/missing: No such file or "
                       "directory\n");
         ExpectFailure({"query-logs", "--record", "vmName=Instance0000000001"}, 2,  // 18 characters
                       "kelmar-host: value for options record field vmName must be at most 17 characters");
         ExpectFailure({"--library", "/nowhere/libkelmar.so", "query-logs"}, 3,
                       "kelmar-host: cannot load /nowhere/libkelmar.so: ");
       }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    const std::function<void()>& body = act;
    RunIsolated([&] {
      InstallVorlan();
      MakeDirs("/tmp/w");
      WriteFile("/tmp/w/a", kA);
      WriteFile("/tmp/w/b", kB);
      body();
      // Nothing hidden anywhere: no part of a restore, no object the store did not commit.
      for (const char* dir : {"/tmp/w", kStore}) {
        for (const std::string& entry : Listing(dir)) EXPECT_NE(entry[0], '.') << dir << "/" << entry;
      }
    });
  }
}

}  // namespace
