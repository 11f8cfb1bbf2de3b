// What other local users can plant at the library's fixed /tmp names may not block a call, reach another file,
// hold a session or unload the backend; what root or the user DB2 runs as put there keeps working.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/test_backend_paths.h"
#include "log/switch_files.h"
#include "testbed/db2_session.h"
#include "testbed/program_run.h"

namespace {

using namespace kelmar::testbed;

// The user DB2 runs as and another local user, where root can switch to them; a file of the first.
constexpr uid_t kSelfUid = kFirstOtherUid, kOtherUid = kSecondOtherUid;
constexpr const char *kVictim = "/tmp/victim", *kTrace = kelmar::kTraceLogPath, *kHold = kelmar::kDebugHoldMarker,
                     *kKeep = kelmar::kKeepLoadedMarker, *kUnload = kelmar::kUnloadMarker;

enum class Kind { kFile, kFifo, kSymlink, kHardLink };
enum class Owner { kRoot, kSelf, kOther };
struct Node {
  const char* path = nullptr;
  Kind kind = Kind::kFile;
  Owner owner = Owner::kRoot;
  const char* target = nullptr;  // of a link
};
constexpr Node kRootTrace{kTrace};

struct Row {
  const char* name;
  bool traced;          // lines reach the file the trace name leads to
  bool unloaded;        // the session's end unloads the backend
  const char* ignored;  // the marker of another user that the trace names
  std::array<Node, 3> nodes;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }  // stable test names, not the row's bytes

// clang-format off
const Row kRows[] = {
    {"FifoAtTraceName", false, false, nullptr, {{{kTrace, Kind::kFifo}}}},
    {"ForeignSymlinkToVictim", false, false, nullptr, {{{kTrace, Kind::kSymlink, Owner::kOther, kVictim}}}},
    {"HardLinkToVictim", false, false, nullptr, {{{kTrace, Kind::kHardLink, Owner::kSelf, kVictim}}}},
    {"ForeignTraceFile", false, false, nullptr, {{{kTrace, Kind::kFile, Owner::kOther}}}},
    {"ForeignHoldMarker", true, false, kHold, {{kRootTrace, {kHold, Kind::kFile, Owner::kOther}}}},
    {"ForeignSymlinkMarkerToRootsFile", true, false, kUnload,
     {{kRootTrace, {kUnload, Kind::kSymlink, Owner::kOther, kTrace}}}},
    {"HardLinkToRootsFileAsMarker", true, false, nullptr,
     {{kRootTrace, {"/tmp/roots"}, {kUnload, Kind::kHardLink, {}, "/tmp/roots"}}}},
    {"ForeignKeepLoadedMarkerSparesNothing", true, true, kKeep,
     {{kRootTrace, {kKeep, Kind::kFile, Owner::kOther}, {kUnload, Kind::kFile, Owner::kSelf}}}},
    {"OwnDanglingSymlinkMarker", true, true, nullptr,
     {{kRootTrace, {kUnload, Kind::kSymlink, Owner::kSelf, "/tmp/none"}}}},
    {"OwnSymlinkToOwnFile", true, false, nullptr, {{{kTrace, Kind::kSymlink, Owner::kSelf, kVictim}}}},
};
// clang-format on

uid_t SelfUid() { return CanUseOtherUsers() ? kSelfUid : geteuid(); }

void Plant(const Node& node) {
  const char* path = node.path;
  if (path == nullptr) return;
  const uid_t owner = node.owner == Owner::kOther ? kOtherUid : node.owner == Owner::kSelf ? SelfUid() : 0;
  switch (node.kind) {
    case Kind::kFile: WriteFile(path, "", 0666); break;
    case Kind::kFifo: ASSERT_EQ(mkfifo(path, 0), 0); break;
    case Kind::kSymlink: ASSERT_EQ(symlink(node.target, path), 0); break;
    case Kind::kHardLink: ASSERT_EQ(link(node.target, path), 0); return;  // the target's owner
  }
  ASSERT_EQ(node.kind == Kind::kSymlink ? 0 : chmod(path, 0666), 0);
  ASSERT_EQ(lchown(path, owner, owner), 0) << path;
}

off_t RegularSize(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : -1;
}

class HostileTmp : public testing::TestWithParam<Row> {};

TEST_P(HostileTmp, NoCallBlocksOrWritesElsewhereAndOnlyOwnMarkersCount) {
  const Row& row = GetParam();
  if (std::ranges::any_of(row.nodes, [](const Node& n) { return n.owner == Owner::kOther; }) && !CanUseOtherUsers()) {
    GTEST_SKIP() << kNeedsUsers;
  }
  RunIsolated([&] {
    InstallBackend(kelmar::test_backend::kComplete);
    Plant({kVictim, Kind::kFile, Owner::kSelf});
    for (const Node& node : row.nodes) Plant(node);
    // A DB2 session as SelfUid() in a child that an alarm ends after 5 s; it exits with 1 when its end unloaded.
    const pid_t child = fork();
    if (child == 0) {
      alarm(5);
      // Descriptor 0 free for the trace's own, or the victim's, where lines written to the wrong one land.
      row.traced ? close(STDIN_FILENO) : dup2(open(kVictim, O_WRONLY), STDIN_FILENO);
      const uid_t self = SelfUid();
      if (self != geteuid() && (setresgid(self, self, self) != 0 || setresuid(self, self, self) != 0)) _exit(3);
      Db2Session session;
      _exit(session.Start() != 0 || session.End() != 0 ? 2 : sqluv_handle == nullptr ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "blocked, died or failed: " << status;
    EXPECT_EQ(WEXITSTATUS(status) == 1, row.unloaded);
    EXPECT_EQ(RegularSize(kTrace) > 0, row.traced);
    EXPECT_TRUE(row.traced || RegularSize(kVictim) == 0) << "the victim received lines";
    struct stat left {};
    for (const Node& node : row.nodes) EXPECT_TRUE(node.path == nullptr || lstat(node.path, &left) == 0) << node.path;
    EXPECT_TRUE(!row.ignored || TimesLogged("sqluvint(): ------" + std::string(row.ignored) +
                                            " ignored: owner uid 65534, 1 links; only root's or uid " +
                                            std::to_string(SelfUid()) + "'s with one link counts --------") == 1);
  });
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTmp, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(HostileTmp, CheckReportsTheLibrarysVerdictAndWarnsInTextAndJson) {
  if (!CanUseOtherUsers()) GTEST_SKIP() << kNeedsUsers;
  struct Case { Node node; const char *json, *plain; };
  const Case cases[] = {
      {{kTrace, Kind::kSymlink, Owner::kOther, kVictim},
       R"("path":"/tmp/libkelmar.log","role":"trace","honoured":false,"type":"symbolic link to /tmp/victim")",
       "  /tmp/libkelmar.log: trace, IGNORED; symbolic link to /tmp/victim, owner "},
      {kRootTrace, R"("role":"trace","honoured":true,"type":"regular file","owner_uid":0,"owner":"root")",
       "    warning: readable by every local user, and it records option fields such as jmToken and serverId"},
      {{kHold}, R"("path":"/tmp/debugDB2","role":"debug_hold","honoured":true)",
       "    warning: every sqluvint and sqluvdel waits while this file exists\n"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      setenv("XJREG", "/tmp/none", 1);
      Plant({kVictim, Kind::kFile, Owner::kSelf});
      Plant(c.node);
      EXPECT_NE(RunProgram({KELMAR_CHECK_PROGRAM, "--json"}).out.find(c.json), std::string::npos) << c.json;
      EXPECT_NE(RunProgram({KELMAR_CHECK_PROGRAM}).out.find(c.plain), std::string::npos) << c.plain;
      EXPECT_EQ(RegularSize(kVictim), 0);
    });
  }
}

}  // namespace
