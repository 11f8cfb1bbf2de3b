// Other users' files at the library's /tmp names block, redirect, hold and unload nothing; root's and DB2's count.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backends/test_backend_paths.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

constexpr const char* kVictim = "/tmp/victim";  // a file of the user DB2 runs as
constexpr const char* kTrace = kelmar::kTraceLogPath;
constexpr const char* kHold = kelmar::kDebugHoldMarker;
constexpr const char* kKeep = kelmar::kKeepLoadedMarker;
constexpr const char* kUnload = kelmar::kUnloadMarker;
constexpr mode_t kEveryone = 0666;
constexpr std::size_t kOnce = 1;

enum class Kind { kFile, kFifo, kSymlink, kHardLink };
enum class Owner { kRoot, kSelf, kOther };  // kSelf: the user DB2 runs as, kFirstOtherUid; kOther: kSecondOtherUid
struct Node {
  const char* path;
  Kind kind = Kind::kFile;
  Owner owner = Owner::kRoot;
  const char* target = nullptr;  // of a link
};
constexpr Node kRootsTrace{kTrace};

enum class Trace { kWritten, kRefused };  // whether lines reach the file the trace name leads to
enum class End { kKeeps, kUnloads };      // what the session's end does to the backend

struct Row {
  const char* name;
  std::vector<Node> nodes;
  Trace trace = Trace::kWritten;
  End end = End::kKeeps;
  const char* ignored = nullptr;  // another user's marker that the trace names as ignored
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }  // stable test names, not the row's bytes

const Row kRows[] = {
    {.name = "FifoAtTraceName", .nodes = {{kTrace, Kind::kFifo}}, .trace = Trace::kRefused},
    {.name = "ForeignSymlinkToVictim", .nodes = {{kTrace, Kind::kSymlink, Owner::kOther, kVictim}},
     .trace = Trace::kRefused},
    {.name = "HardLinkToVictim", .nodes = {{kTrace, Kind::kHardLink, Owner::kSelf, kVictim}}, .trace = Trace::kRefused},
    {.name = "ForeignTraceFile", .nodes = {{kTrace, Kind::kFile, Owner::kOther}}, .trace = Trace::kRefused},
    {.name = "ForeignHoldMarker", .nodes = {kRootsTrace, {kHold, Kind::kFile, Owner::kOther}}, .ignored = kHold},
    {.name = "ForeignSymlinkMarkerToRootsFile",
     .nodes = {kRootsTrace, {kUnload, Kind::kSymlink, Owner::kOther, kTrace}}, .ignored = kUnload},
    {.name = "HardLinkToRootsFileAsMarker",
     .nodes = {kRootsTrace, {"/tmp/roots"}, {kUnload, Kind::kHardLink, Owner::kRoot, "/tmp/roots"}}},
    {.name = "ForeignKeepLoadedMarkerSparesNothing",
     .nodes = {kRootsTrace, {kKeep, Kind::kFile, Owner::kOther}, {kUnload, Kind::kFile, Owner::kSelf}},
     .end = End::kUnloads, .ignored = kKeep},
    {.name = "OwnDanglingSymlinkMarker", .nodes = {kRootsTrace, {kUnload, Kind::kSymlink, Owner::kSelf, "/tmp/none"}},
     .end = End::kUnloads},
    {.name = "OwnSymlinkToOwnFile", .nodes = {{kTrace, Kind::kSymlink, Owner::kSelf, kVictim}}},
};

uid_t SelfUid() { return CanUseOtherUsers() ? kFirstOtherUid : geteuid(); }

uid_t Uid(Owner owner) {
  if (owner == Owner::kOther) return kSecondOtherUid;
  return owner == Owner::kSelf ? SelfUid() : 0;
}

int Create(const Node& node) {
  switch (node.kind) {
    case Kind::kFile: return close(open(node.path, O_WRONLY | O_CREAT | O_EXCL, kEveryone));
    case Kind::kFifo: return mkfifo(node.path, kEveryone);
    case Kind::kSymlink: return symlink(node.target, node.path);
    case Kind::kHardLink: return link(node.target, node.path);
  }
  return -1;
}

void Plant(const Node& node) {
  ASSERT_EQ(Create(node), 0) << node.path;
  if (node.kind == Kind::kHardLink) return;  // owned as its target is
  ASSERT_EQ(lchown(node.path, Uid(node.owner), Uid(node.owner)), 0) << node.path;
  if (node.kind == Kind::kSymlink) return;
  ASSERT_EQ(chmod(node.path, kEveryone), 0) << "past the umask: " << node.path;
}

class HostileTmp : public testing::TestWithParam<Row> {};

TEST_P(HostileTmp, NoCallBlocksOrWritesElsewhereAndOnlyOwnMarkersCount) {
  const Row& row = GetParam();
  const bool others = std::ranges::count(row.nodes, Owner::kOther, &Node::owner) > 0;
  if (others && !CanUseOtherUsers()) GTEST_SKIP() << kNeedsUsers;
  RunIsolated([&] {
    InstallBackend(kelmar::test_backend::kComplete);
    Plant({kVictim, Kind::kFile, Owner::kSelf});
    for (const Node& node : row.nodes) {
      Plant(node);
    }
    constexpr unsigned kAlarmSeconds = 5;  // ends a call that blocks
    alarm(kAlarmSeconds);
    // Descriptor 0 free for the trace's own, or the victim's, where lines written to the wrong one land.
    row.trace == Trace::kWritten ? close(STDIN_FILENO) : dup2(open(kVictim, O_WRONLY), STDIN_FILENO);
    const uid_t self = SelfUid();
    ASSERT_EQ(setresgid(self, self, self), 0);
    ASSERT_EQ(setresuid(self, self, self), 0);
    Db2Session session;
    ASSERT_EQ(session.Start(), SQLUV_OK);
    ASSERT_EQ(session.End(), SQLUV_OK);
    EXPECT_EQ(sqluv_handle == nullptr, row.end == End::kUnloads);
    const bool written = std::filesystem::is_regular_file(kTrace) && std::filesystem::file_size(kTrace) > 0;
    EXPECT_EQ(written, row.trace == Trace::kWritten);
    EXPECT_TRUE(row.trace == Trace::kWritten || std::filesystem::file_size(kVictim) == 0) << "lines reached the victim";
    for (const Node& node : row.nodes) {
      EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(node.path))) << node.path << " is gone";
    }
    if (row.ignored == nullptr) return;
    const char* why = " ignored: owner uid 65534, 1 links; only root's or uid 1000's"
                      " with one link counts --------";
    EXPECT_EQ(TimesLogged(std::string("sqluvint(): ------") + row.ignored + why), kOnce);
  });
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTmp, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
