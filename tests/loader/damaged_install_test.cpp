// Unruly backends: no session is lost, and nothing dies of a signal or hangs (an alarm ends a case that would).
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "backends/backend_probe.h"
#include "backends/test_backend_paths.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

const std::string kLibrary = "/tmp/home/Base/libXjKelmar.so";
constexpr unsigned kLongestCaseSeconds = 30;

// The trace on, and the end of the last open session unloads the backend.
void InstallUnloading(const char* backend) {
  alarm(kLongestCaseSeconds);
  InstallBackend(backend);
  EnableTrace();
  WriteFile(kelmar::kUnloadMarker, "");
}

TEST(UnrulyBackend, CallsFromItsOwnLoadOrUnloadAreRefusedAtOnce) {
  RunIsolated([&] {
    InstallUnloading(tb::kReentrant);
    Db2Session session;
    EXPECT_EQ(session.Start(), SQLUV_OK);
    EXPECT_EQ(session.End(), SQLUV_OK);
    EXPECT_EQ(session.Start(), SQLUV_OK);  // the thread that unloaded loads again
    EXPECT_STREQ(getenv("KELMAR_REENTRY"), " load:-1,11,-1 unload:-1,11,-1 load:-1,11,-1");
  });
}

// Two sessions are open under the unload marker when the event comes; the backend stays until the last ends.
TEST(UnrulyBackend, OnlyAnEndThatEndsASessionClosesIt) {
  constexpr sqlint32 kUnknownAction = 7;
  constexpr std::size_t kEndsThatKeepItLoaded = 2;
  struct Event { std::string name; sqlint32 answer; std::function<void(Db2Session& second)> happen; };
  const Event events[] = {
      {.name = "an unknown action", .answer = SQLUV_INV_ACTION,
       .happen = [](Db2Session& second) { second.End(kUnknownAction); }},
      {.name = "a failed commit, which DB2 aborts next", .answer = SQLUV_COMMIT_FAILED,
       .happen = [](Db2Session& second) { second.End(SQLUV_COMMIT); }},
      {.name = "the abort of a session that failed to start: an end for no open session", .answer = SQLUV_OK,
       .happen = [](Db2Session&) {
         Db2Session failed;
         tb::SetResult(tb::kInit, SQLUV_INIT_FAILED);
         EXPECT_EQ(failed.Start(), SQLUV_INIT_FAILED);
         EXPECT_EQ(failed.End(SQLUV_ABORT), SQLUV_OK);
       }},
  };
  for (const Event& e : events) {
    SCOPED_TRACE(e.name);
    RunIsolated([&] {
      InstallUnloading(tb::kComplete);
      Db2Session first, second;
      first.out.pVendorCB = &first;  // as the backend hands them back
      second.out.pVendorCB = &second;
      ASSERT_EQ(first.Start(), SQLUV_OK);
      ASSERT_EQ(second.Start(), SQLUV_OK);
      tb::SetResult(tb::kEnd, e.answer);
      e.happen(second);
      tb::SetResult(tb::kEnd, SQLUV_OK);
      EXPECT_EQ(first.End(), SQLUV_OK);
      EXPECT_EQ(TimesLogged("sqluvend(): ------libXjKelmar.so is in use, not going to unload it --------"),
                kEndsThatKeepItLoaded);
      EXPECT_EQ(second.End(SQLUV_ABORT), SQLUV_OK);
      EXPECT_TRUE(tb::TableEmpty());
    });
  }
}

// Beyond the sessions the library tracks, an end cannot be told from a stray one: the backend stays for good.
TEST(UnrulyBackend, AnUntrackedSessionKeepsTheBackendLoaded) {
  constexpr std::size_t kTrackedSessions = 1024;
  RunIsolated([] {
    InstallUnloading(tb::kComplete);
    std::vector<Db2Session> sessions(kTrackedSessions + 1);
    for (Db2Session& session : sessions) {
      session.out.pVendorCB = &session;
      ASSERT_EQ(session.Start(), SQLUV_OK);
    }
    for (Db2Session& session : sessions) {
      EXPECT_EQ(session.End(), SQLUV_OK);
    }
    EXPECT_NE(sqluv_handle, nullptr);
  });
}

// Replaced between two sessions as an upgrade does, the backend runs its new code, or the old that stayed mapped.
// XJREG is relative: the second load finds the registry only if the first made the root absolute before its chdir.
TEST(UnrulyBackend, AReplacedBackendRunsAfterTheUnloadUnlessTheOldStaysMapped) {
  constexpr std::size_t kLoads = 2;
  struct Case { std::string name; const char* before; const char* after; std::size_t notes; };
  const Case cases[] = {
      {.name = "the new code runs", .before = KELMAR_SAMPLE_BACKEND, .after = tb::kComplete, .notes = 0},
      {.name = "the old code stays mapped", .before = tb::kStaysMapped, .after = KELMAR_SAMPLE_BACKEND, .notes = 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      InstallUnloading(c.before);
      ASSERT_EQ(chdir("/tmp"), 0);
      setenv("XJREG", "reg", 1);
      Db2Session session;
      session.Start();
      session.End();
      WriteFile(kLibrary + ".new", ReadFile(c.after), 0755);
      ASSERT_EQ(std::rename((kLibrary + ".new").c_str(), kLibrary.c_str()), 0);
      session.Start();
      EXPECT_NE(tb::LoadedBackend(), nullptr);
      EXPECT_EQ(TimesLogged("sqluvint(): -----------XJREG= [/tmp/reg]"), kLoads);
      const std::string note = "\" stays mapped after dlclose(), the next load reuses its old code";
      EXPECT_EQ(TimesLogged("unInitializeFptrs(): \"" + kLibrary + note), c.notes);
    });
  }
}

}  // namespace
