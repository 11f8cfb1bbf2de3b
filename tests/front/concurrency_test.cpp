#include <gtest/gtest.h>
#include <sys/wait.h>

#include <thread>

#include "backends/backend_probe.h"
#include "backends/test_backend_paths.h"
#include "base/process_locks.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

constexpr int kSessions = 6;
const std::vector<sqlint32> kAllOk(kSessions, SQLUV_OK);

std::vector<sqlint32> OnThreads(std::vector<Db2Session>& sessions, const std::function<sqlint32(Db2Session&)>& step) {
  std::vector<sqlint32> results(sessions.size());
  std::vector<std::jthread> threads;
  for (std::size_t index = 0; index < sessions.size(); ++index) {
    threads.emplace_back([&, index] { results[index] = step(sessions[index]); });
  }
  threads.clear();
  return results;
}
sqlint32 PutNothing(Db2Session& session) { return sqluvput(session.out.pVendorCB, nullptr, &session.rc); }

TEST(Concurrency, SessionsLoadOnceCallSideBySideAndTheUnloadMarkerWaitsForCallsAndSessions) {
  InSession(tb::kComplete, [](const std::string&) {
    std::vector<Db2Session> sessions(kSessions);
    EXPECT_EQ(OnThreads(sessions, &Db2Session::Start), kAllOk);
    EXPECT_EQ(TimesLogged("initializeFptrs(): GetVorlanBaseDir succeeded."), 1u);
    // Every put is inside the backend at once: none waits for another.
    tb::Hold(tb::kPut);
    const std::jthread releaser([] {
      EXPECT_TRUE(tb::AwaitWaiting(tb::kPut, kSessions));
      tb::Release(tb::kPut);
    });
    EXPECT_EQ(OnThreads(sessions, PutNothing), kAllOk);
    EXPECT_EQ(OnThreads(sessions, [](Db2Session& session) { return session.End(); }), kAllOk);
    // Under the unload marker, a delete inside the backend: a session that starts must not unload under it.
    WriteFile(kelmar::kUnloadMarker, "");
    Db2Session deleting(Db2Session::kDeleteImages);
    tb::Hold(tb::kDel);
    std::jthread inside([&] { EXPECT_EQ(deleting.Delete(), SQLUV_OK); });
    ASSERT_TRUE(tb::AwaitWaiting(tb::kDel, 1));
    Db2Session last;
    EXPECT_EQ(last.Start(), SQLUV_OK);
    EXPECT_EQ(TimesLogged("sqluvint(): ------libXjKelmar.so is in use, not going to unload it --------"), 1u);
    tb::Release(tb::kDel);
    inside.join();
    EXPECT_NE(sqluv_handle, nullptr);
    EXPECT_EQ(last.End(), SQLUV_OK);
    EXPECT_EQ(sqluv_handle, nullptr);
  });
}

constexpr unsigned kChildSeconds = 20;
extern "C" [[gnu::weak]] void __tsan_init();  // defined under ThreadSanitizer only

enum class Holding { kLoad, kUnload, kCall };

bool ForkHolding(Holding holding, bool (*fork)()) {
  if (holding == Holding::kCall) {
    const kelmar::SharedTableHold table = kelmar::SharedTableHold::Take();
    return fork();
  }
  const kelmar::LifecycleHold lifecycle;
  if (holding == Holding::kLoad) return fork();
  const kelmar::ExclusiveTableHold table = kelmar::ExclusiveTableHold::Wait(lifecycle);
  return fork();
}

[[noreturn]] void SessionInChild() {
  alarm(kChildSeconds);
  Db2Session session;
  const bool worked = session.Start() == SQLUV_OK && session.End() == SQLUV_OK;
  _exit(worked ? EXIT_SUCCESS : EXIT_FAILURE);
}

bool ForkHere() { return fork() == 0; }

// The child is a thread that held nothing, with the holds of a thread it lacks; it runs its session at once.
bool ForkOnAnotherThread() {
  std::jthread([] {
    if (fork() == 0) SessionInChild();
  }).join();
  return false;
}

// A child forked while any thread holds the library's locks runs its session: it never waits for a thread it lacks.
TEST(Concurrency, AChildForkedAtAnyMomentRunsItsSession) {
  struct Row {
    const char* name;
    Holding holding;
    bool (*fork)();  // true in the child
  };
  const Row rows[] = {
      {.name = "another thread loads", .holding = Holding::kLoad, .fork = ForkOnAnotherThread},
      {.name = "another thread unloads", .holding = Holding::kUnload, .fork = ForkOnAnotherThread},
      {.name = "another thread calls", .holding = Holding::kCall, .fork = ForkOnAnotherThread},
      {.name = "the initialiser forks", .holding = Holding::kLoad, .fork = ForkHere},
      {.name = "the finaliser forks", .holding = Holding::kUnload, .fork = ForkHere},
      {.name = "an entry point forks", .holding = Holding::kCall, .fork = ForkHere},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // ThreadSanitizer would count the forking thread's own table hold, taken again on the fresh lock, twice.
    if (__tsan_init != nullptr && row.fork == ForkHere && row.holding != Holding::kLoad) continue;
    InSession(tb::kComplete, [&](const std::string&) {
      alarm(2 * kChildSeconds);
      WriteFile(kelmar::kUnloadMarker, "");
      EXPECT_EQ(sqluvput(nullptr, nullptr, nullptr), -1);  // refused, the table held shared for a moment
      if (ForkHolding(row.holding, row.fork)) SessionInChild();
      int status = 0;
      ASSERT_GT(wait(&status), 0);
      EXPECT_EQ(status, EXIT_SUCCESS) << "the child's wait status";
    });
  }
}

}  // namespace
