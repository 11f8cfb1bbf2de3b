// Backup data stays whole end to end: what kelmar-host stores through
// libkelmar.so in the sample backend comes back byte for byte or not at all,
// nothing stored is replaced, and nothing of a failed run stays behind.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

constexpr const char* kStore = "/tmp/home/store";
constexpr const char* kTimestamp = "20261205141541";
constexpr auto npos = std::string::npos;

ProgramRun Host(Names args) {
  args.insert(args.begin(), {KELMAR_HOST_PROGRAM, "--library", KELMAR_SHARED_LIBRARY});
  return RunProgram(args);
}

ProgramRun Backup(const std::string& input, int sessions = 3) {
  return Host({"backup", "--input", input, "--timestamp", kTimestamp, "--sessions", std::to_string(sessions),
               "--buffer-size", "4096"});
}

// A restore of the image into `output`, which must give `expected`, or fail
// with exit status 1 when `expected` is empty.
void ExpectRestore(const std::string& expected, const std::string& output = "/tmp/w/out") {
  const ProgramRun run = Host({"restore", "--output", output, "--timestamp", kTimestamp, "--sessions", "3"});
  EXPECT_EQ(run.status, expected.empty() ? 1 : 0) << run.err;
  if (!expected.empty()) {
    EXPECT_TRUE(ReadFile(output) == expected) << output << " differs";
  }
}

void ExpectFailure(const ProgramRun& run, const std::string& message) {
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(message), npos) << run.err;
}

std::string Part(int sequence) {
  return std::string(kStore) + "/image.db2inst1.SAMPLE.0." + kTimestamp + "." + std::to_string(sequence);
}

// A (and B) are images that differ in every part.
const std::string kA = PatternBytes(40000, 1), kB = PatternBytes(30000, 2);

TEST(Integrity, EachCaseEndsWholeOrFailsCleanly) {
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"same timestamp, one after the other",
       [] {
         EXPECT_EQ(Backup("/tmp/w/a").status, 0);
         ExpectFailure(Backup("/tmp/w/b", 2), "the store already holds an image taken at 20261205141541 (3 parts)");
         ExpectRestore(kA);
       }},
      {"the clock's timestamp, twice in one second",
       [] {
         for (int run = 0; run < 2; ++run) EXPECT_EQ(Host({"backup", "--input", "/tmp/w/a"}).status, 0);
         const std::string listed = Host({"query-images"}).out;
         EXPECT_NE(listed.find("total: 2 objects"), npos) << listed;
       }},
      {"same timestamp, at once",
       [] {
         ProgramRun runs[2];
         std::thread other([&] { runs[1] = Backup("/tmp/w/b"); });
         runs[0] = Backup("/tmp/w/a");
         other.join();
         ASSERT_EQ(runs[0].status + runs[1].status, 1) << "one stores, one is refused";
         // Refused at its first commit, or before any data when the other one was done already.
         const std::string& refusal = (runs[0].status == 0 ? runs[1] : runs[0]).err;
         EXPECT_TRUE(refusal.find("\"object already exists\"") != npos || refusal.find("already holds") != npos)
             << refusal;
         ExpectRestore(runs[0].status == 0 ? kA : kB);
       }},
      {"a commit fails in one session",
       [] {
         EXPECT_EQ(Backup("/tmp/w/b").status, 0);
         unlink(Part(1).c_str());
         unlink(Part(2).c_str());
         ExpectFailure(Backup("/tmp/w/a"), "\"object already exists\"; deleted the parts it had committed: 1, 2");
         EXPECT_EQ(Listing(kStore), Names{Part(3).substr(strlen(kStore) + 1)});
         EXPECT_NE(Host({"query-images"}).out.find("total: 0 objects"), npos);
         ExpectRestore("");
       }},
      {"a part is damaged",
       [] {
         EXPECT_EQ(Backup("/tmp/w/a").status, 0);
         std::string part = ReadFile(Part(2));
         part[100] ^= 1;
         WriteFile(Part(2), part);
         ExpectRestore("");
       }},
      {"relative paths",
       [] {
         ASSERT_EQ(chdir("/tmp/w"), 0);
         const ProgramRun backup =
             Host({"backup", "--input", "a", "--timestamp", kTimestamp, "--sessions", "3", "--progress"});
         EXPECT_EQ(backup.status, 0);
         EXPECT_EQ(backup.err.rfind("backup: 40000 bytes (0.0 MiB) in ", 0), 0u) << "the totals line";
         EXPECT_EQ(Host({"archive", "b"}).status, 0);
         ExpectFailure(Host({"archive", "b"}), "the store already holds log file b");
         MakeDirs("/tmp/w/od");
         EXPECT_EQ(Host({"retrieve", "--output-dir", "od", "b"}).status, 0);
         EXPECT_TRUE(ReadFile("/tmp/w/od/b") == kB);
         ExpectRestore(kA, "out");
       }},
      {"outputs that are not regular files",
       [] {
         EXPECT_EQ(Backup("/tmp/w/a").status, 0);
         EXPECT_EQ(Host({"restore", "--output", "/dev/null", "--timestamp", kTimestamp, "--sessions", "3"}).status, 0);
         struct stat status {};
         EXPECT_TRUE(stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode));
         ASSERT_EQ(symlink("/tmp/w/b", "/tmp/w/link"), 0);
         ExpectRestore(kA, "/tmp/w/link");
         EXPECT_TRUE(ReadFile("/tmp/w/b") == kA) << "the link's target holds the image";
         ExpectFailure(Host({"restore", "--output", "/tmp/w", "--timestamp", kTimestamp, "--sessions", "3"}),
                       "/tmp/w is neither a regular file, a character device nor a pipe: not replaced");
       }},
      {"interrupted restore and backup",
       [] {
         WriteFile("/tmp/w/big", std::string(32 << 20, 'x'));
         EXPECT_EQ(Host({"backup", "--input", "/tmp/w/big", "--timestamp", kTimestamp, "--sessions", "3"}).status, 0);
         // Stopped once its data has begun to arrive.
         const std::string script =
             "\"$0\" --library \"$1\" restore --output /tmp/w/out --timestamp $2 --sessions 3 --buffer-size 512 & "
             "for i in $(seq 500); do [ -n \"$(find /tmp/w -name '.out*' -size +0)\" ] && break; sleep 0.01; done; "
             "kill -TERM $!; wait $!";
         const ProgramRun run = RunProgram({"/bin/sh", "-c", script, KELMAR_HOST_PROGRAM, KELMAR_SHARED_LIBRARY, kTimestamp});
         EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
         const std::string backup = "\"$0\" --library \"$1\" backup --input /tmp/w/big --buffer-size 512 & "
                                    "for i in $(seq 500); do [ -n \"$(find /tmp/home/store -name '.*' -size +1)\" ] "
                                    "&& break; sleep 0.01; done; kill -TERM $!; wait $!";
         EXPECT_EQ(RunProgram({"/bin/sh", "-c", backup, KELMAR_HOST_PROGRAM, KELMAR_SHARED_LIBRARY}).status,
                   128 + SIGTERM);
         EXPECT_EQ(Listing(kStore).size(), 3u) << "only the first backup's parts";
       }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    const std::function<void()>& body = act;
    RunIsolated([&] {
      const RegistryTree tree("/tmp/reg");
      tree.Export();
      tree.Install("Instance001", "/tmp/home", KELMAR_SAMPLE_BACKEND);
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

// An image is named by its timestamp: only a real date and time names one.
TEST(Integrity, TimestampsAreRealDatesAndTimes) {
  const std::pair<const char*, bool> cases[] = {
      {"20240229235959", true},  {"20000229000000", true},  {"20261305141541", false}, {"20230229120000", false},
      {"21000229120000", false}, {"20261131120000", false}, {"20261205240000", false}, {"20261205146000", false},
      {"20261205141560", false}, {"00001205141541", false}, {"2026120514154", false},
  };
  for (const auto& [timestamp, real] : cases) {
    const auto parsed = kelmar::host::ParseCommandLine({"--library=l", "restore", "--output=o", "--timestamp", timestamp});
    EXPECT_EQ(parsed.outcome == kelmar::host::ParsedCommandLine::Outcome::kRun, real) << timestamp;
  }
}

}  // namespace
