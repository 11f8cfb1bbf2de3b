// DB2 sessions on threads of one process: one load, calls side by side, an unload waiting for calls and sessions.
#include <gtest/gtest.h>

#include <thread>

#include "backends/backend_probe.h"
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

}  // namespace
