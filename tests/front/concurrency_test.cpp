// DB2 sessions on threads of one process: one load, calls side by side, an unload waiting for calls and sessions,
// a child forked at any moment.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <latch>
#include <thread>

#include "backends/backend_probe.h"
#include "backends/test_backend_paths.h"
#include "base/process_locks.h"
#include "log/switch_files.h"
#include "testbed/db2_session.h"

namespace {

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

std::vector<sqlint32> OnThreads(std::vector<Db2Session>& sessions, const std::function<sqlint32(Db2Session&)>& call) {
  std::vector<sqlint32> results(sessions.size(), -2);
  std::vector<std::jthread> threads;
  for (std::size_t i = 0; i < sessions.size(); ++i) threads.emplace_back([&, i] { results[i] = call(sessions[i]); });
  threads.clear();
  return results;
}

TEST(Concurrency, SessionsLoadOnceCallSideBySideAndTheUnloadMarkerWaitsForCallsAndSessions) {
  InSession(tb::kComplete, [](const std::string&) {
    std::vector<Db2Session> sessions(6);
    EXPECT_EQ(OnThreads(sessions, StartSession), std::vector<sqlint32>(6, 0));
    EXPECT_EQ(TimesLogged("initializeFptrs(): GetVorlanBaseDir succeeded."), 1u);
    // Every put is inside the backend at once: none waits for another.
    tb::Hold(tb::kPut);
    std::jthread release([] {
      EXPECT_TRUE(tb::AwaitWaiting(tb::kPut, 6));
      tb::Release(tb::kPut);
    });
    const auto put = [](Db2Session& s) { return sqluvput(s.out.pVendorCB, nullptr, &s.rc); };
    EXPECT_EQ(OnThreads(sessions, put), std::vector<sqlint32>(6, 0));
    EXPECT_EQ(OnThreads(sessions, EndSession), std::vector<sqlint32>(6, 0));
    // Under the unload marker, a delete inside the backend: a session that starts must not unload under it.
    WriteFile(kelmar::kUnloadMarker, "");
    Db2Session deleting('M'), last;
    tb::Hold(tb::kDel);
    std::jthread inside([&] { EXPECT_EQ(sqluvdel(&deleting.in, &deleting.out, &deleting.rc), 0); });
    ASSERT_TRUE(tb::AwaitWaiting(tb::kDel, 1));
    ClearTrace();
    EXPECT_EQ(StartSession(last), 0);
    EXPECT_EQ(TimesLogged("sqluvint(): ------libXjKelmar.so is in use, not going to unload it --------"), 1u);
    tb::Release(tb::kDel);
    inside.join();
    // Nobody inside, but a session is open: the marker waits for its end.
    EXPECT_NE(sqluv_handle, nullptr);
    EXPECT_EQ(EndSession(last), 0);
    EXPECT_EQ(sqluv_handle, nullptr);
  });
}

constexpr unsigned kChildSeconds = 20;
extern "C" [[gnu::weak]] void __tsan_init();  // defined under ThreadSanitizer only

// How a thread holds the library's locks: as a load, an unload or a call does, inside the backend.
enum class Holding { kLoad, kUnload, kCall };

void HoldWhile(Holding holding, const std::function<void()>& inside) {
  if (holding == Holding::kCall) {
    const kelmar::SharedTableHold table = kelmar::SharedTableHold::Take();
    return inside();
  }
  const kelmar::LifecycleHold lifecycle;
  if (holding == Holding::kLoad) return inside();
  const kelmar::ExclusiveTableHold table = kelmar::ExclusiveTableHold::Wait(lifecycle);
  inside();
}

// A whole session, ending in an unload, in a forked child: the exit status tells whether every call worked.
[[noreturn]] void SessionInChild() {
  alarm(kChildSeconds);
  Db2Session s;
  _exit(StartSession(s) == 0 && EndSession(s) == 0 ? 0 : 1);
}

// A child forked while another thread holds the library's locks (inside the backend's initialiser, finaliser or an
// entry point), or while the forking thread holds them itself, runs its session: it never waits for a thread it lacks.
TEST(Concurrency, AChildForkedAtAnyMomentRunsItsSession) {
  struct Row { const char* name; Holding holding; bool forker_holds; };
  const Row rows[] = {
      {.name = "another thread loads", .holding = Holding::kLoad, .forker_holds = false},
      {.name = "another thread unloads", .holding = Holding::kUnload, .forker_holds = false},
      {.name = "another thread calls", .holding = Holding::kCall, .forker_holds = false},
      {.name = "the initialiser forks", .holding = Holding::kLoad, .forker_holds = true},
      {.name = "the finaliser forks", .holding = Holding::kUnload, .forker_holds = true},
      {.name = "an entry point forks", .holding = Holding::kCall, .forker_holds = true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // ThreadSanitizer would count the forking thread's own table hold, taken again on the fresh lock, twice.
    if (__tsan_init != nullptr && row.forker_holds && row.holding != Holding::kLoad) continue;
    InSession(tb::kComplete, [&](const std::string&) {
      alarm(2 * kChildSeconds);
      WriteFile(kelmar::kUnloadMarker, "");
      EXPECT_EQ(sqluvput(nullptr, nullptr, nullptr), -1);  // refused, the table held shared for a moment
      bool in_child = false;
      const auto fork_here = [&] { in_child = fork() == 0; };
      if (row.forker_holds) {
        HoldWhile(row.holding, fork_here);
      } else {
        std::latch held(1), released(1);
        std::jthread holder([&] { HoldWhile(row.holding, [&] { held.count_down(); released.wait(); }); });
        held.wait();
        fork_here();
        if (in_child) SessionInChild();
        released.count_down();
      }
      if (in_child) SessionInChild();
      int status = 0;
      ASSERT_GT(wait(&status), 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's status: " << status;
    });
  }
}

}  // namespace
