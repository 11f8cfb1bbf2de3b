// DB2 sessions on several threads of one process: loads happen once, the
// unload marker waits for calls inside the backend and for open sessions,
// and forwarded calls run side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>
#include <vector>

#include "backends/backend_probe.h"
#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "front/unload_markers.h"
#include "kelmar/libkelmar.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;

const std::string kInUse = "------libXjKelmar.so is in use, not going to unload it --------";


TEST(Concurrency, SimultaneousFirstSessionsLoadTheBackendOnce) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    constexpr int kSessions = 8;
    std::vector<tb::Db2Session> sessions(kSessions);
    std::vector<sqlint32> results(kSessions, -2);
    std::latch start(kSessions);
    {
      std::vector<std::jthread> threads;
      for (int i = 0; i < kSessions; ++i) {
        threads.emplace_back([&, i] {
          start.arrive_and_wait();
          results[i] = tb::StartSession(sessions[i]);
        });
      }
    }
    EXPECT_EQ(results, std::vector<sqlint32>(kSessions, 0));
    EXPECT_EQ(tb::TimesLogged("initializeFptrs(): GetVorlanBaseDir succeeded."), 1u);
    EXPECT_EQ(tb::ReceivedCalls().size(), static_cast<std::size_t>(kSessions));
  });
}

TEST(Concurrency, UnloadMarkerWaitsUntilNobodyIsInsideAndNoSessionIsOpen) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session deleting('M');
    ASSERT_EQ(sqluvdel(&deleting.in, &deleting.out, &deleting.rc), 0);
    void* const handle = sqluv_handle;
    testbed::WriteFile(kelmar::kUnloadMarker, "");

    // A delete inside the backend: a new session must not unload under it.
    tb::Hold(tb::kDel);
    std::jthread inside([&] { EXPECT_EQ(sqluvdel(&deleting.in, &deleting.out, &deleting.rc), 0); });
    ASSERT_TRUE(tb::AwaitWaiting(tb::kDel, 1));
    tb::Db2Session first;
    testbed::ClearTrace();
    EXPECT_EQ(tb::StartSession(first), 0);
    EXPECT_EQ(tb::TimesLogged("sqluvint(): " + kInUse), 1u);
    EXPECT_EQ(sqluv_handle, handle);
    tb::Release(tb::kDel);
    inside.join();

    // Nobody inside, but the first session is open: neither another
    // session's start nor its end unloads.
    tb::Db2Session second;
    testbed::ClearTrace();
    EXPECT_EQ(tb::StartSession(second), 0);
    EXPECT_EQ(tb::EndSession(second), 0);
    EXPECT_EQ(tb::TimesLogged("sqluvint(): " + kInUse), 1u);
    EXPECT_EQ(tb::TimesLogged("sqluvend(): " + kInUse), 1u);
    EXPECT_EQ(sqluv_handle, handle);
    Data data{};
    EXPECT_EQ(sqluvput(first.out.pVendorCB, &data, &first.rc), 0) << "the open session still reaches its backend";

    // A session whose start failed in the backend is not open.
    tb::SetResult(tb::kInit, SQLUV_INIT_FAILED);
    tb::Db2Session refused;
    EXPECT_EQ(tb::StartSession(refused), SQLUV_INIT_FAILED);
    EXPECT_EQ(sqluv_handle, handle);

    // The last open session ends: now the marker unloads.
    testbed::ClearTrace();
    EXPECT_EQ(tb::EndSession(first), 0);
    EXPECT_EQ(tb::TimesLogged("sqluvend(): " + kInUse), 0u);
    EXPECT_EQ(sqluv_handle, nullptr);
  });
}

TEST(Concurrency, ForwardedCallsRunSideBySide) {
  testbed::RunIsolated([] {
    tb::InstallBackend(tb::kComplete);
    constexpr int kSessions = 4;
    std::vector<tb::Db2Session> sessions(kSessions);
    for (tb::Db2Session& s : sessions) ASSERT_EQ(tb::StartSession(s), 0);
    tb::Hold(tb::kPut);
    std::vector<sqlint32> results(kSessions, -2);
    {
      std::vector<std::jthread> threads;
      for (int i = 0; i < kSessions; ++i) {
        threads.emplace_back([&, i] {
          Data data{};
          results[i] = sqluvput(sessions[i].out.pVendorCB, &data, &sessions[i].rc);
        });
      }
      // Every call is inside the backend at once: none waits for another.
      EXPECT_TRUE(tb::AwaitWaiting(tb::kPut, kSessions));
      tb::Release(tb::kPut);
    }
    EXPECT_EQ(results, std::vector<sqlint32>(kSessions, 0));
  });
}

}  // namespace
