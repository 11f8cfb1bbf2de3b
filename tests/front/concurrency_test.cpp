// DB2 sessions on threads of one process: one load, calls side by side, an unload waiting for calls and sessions,
// a child forked at any moment.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <thread>

#include "backends/backend_probe.h"
#include "backends/forking_backend.h"
#include "backends/test_backend_paths.h"
#include "front/unload_markers.h"
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

namespace fb = kelmar::forking_backend;

// A whole session in a forked child, after `begun`, the result of a call that began in the parent: the exit status
// tells whether every call worked.
[[noreturn]] void SessionInChild(sqlint32 begun) {
  alarm(fb::kChildSeconds);
  Db2Session s;
  _exit(begun == 0 && StartSession(s) == 0 && EndSession(s) == 0 ? 0 : 1);
}

// Ends the session under the unload marker, which unloads the backend.
sqlint32 EndUnloading(Db2Session& s) {
  WriteFile(kelmar::kUnloadMarker, "");
  return EndSession(s);
}

// A child forked while another thread waits inside the backend's initialiser or finaliser, holding the library's
// locks, or forked by the initialiser itself, runs its session: it never waits for a thread it lacks.
TEST(Concurrency, AChildForkedAtAnyMomentRunsItsSession) {
  struct Row { const char* name; const char* when; sqlint32 (*held)(Db2Session&); };
  const Row rows[] = {
      {.name = "another thread loads", .when = fb::kHoldLoad, .held = StartSession},
      {.name = "another thread unloads", .when = fb::kHoldUnload, .held = EndUnloading},
      {.name = "the initialiser forks", .when = fb::kForkInLoad, .held = nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      alarm(2 * fb::kChildSeconds);
      InstallBackend(tb::kForking);
      setenv(fb::kWhen, row.when, 1);
      const pid_t parent = getpid();
      Db2Session first;
      EXPECT_EQ(sqluvput(nullptr, nullptr, &first.rc), -1);  // refused, the table held shared for a moment
      const sqlint32 started = row.held == StartSession ? SQLUV_OK : StartSession(first);
      if (getpid() != parent) SessionInChild(started);
      if (row.held != nullptr) {
        std::jthread holding([&] { EXPECT_EQ(row.held(first), 0); });
        while (access(fb::kInside, F_OK) != 0) usleep(1000);
        if (fork() == 0) SessionInChild(SQLUV_OK);
        WriteFile(fb::kRelease, "");
      }
      int status = 0;
      ASSERT_GT(wait(&status), 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's status: " << status;
    });
  }
}

}  // namespace
