// DB2 sessions while malloc, strdup, putenv, chdir, opendir, readdir, dlclose or pthread_key_create fail: the
// trace lines and results of each, and the next session recovers. (A full file system under the trace: the trace
// log's tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "backends/backend_probe.h"
#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "base/process_locks.h"
#include "faults/wrapped_calls.h"
#include "log/switch_files.h"

namespace {

namespace tb = kelmar::test_backend;
namespace wrapped = kelmar::wrapped_calls;
using tb::Lines;
using wrapped::Call;

std::string B(const std::string& message) { return "GetVorlanBaseDir: " + message; }
std::string F(const std::string& message) { return "get_first_vorlan_instname: " + message; }

// Runs `body` with `call` failing after `pass` calls with `error`; the fault must strike.
template <typename Body>
void Striking(Call call, int pass, int error, Body body) {
  wrapped::FailAfter(call, pass, error);
  body();
  EXPECT_TRUE(wrapped::Disarm(call));
}

// A session reached the backend exactly as DB2 called sqluvint.
void ExpectStarted(tb::Db2Session& session) {
  EXPECT_EQ(session.Start(), 0);
  const tb::Call init{tb::kInit, 0, {&session.in, &session.out, &session.rc}};
  EXPECT_EQ(std::ranges::count(tb::ReceivedCalls(), init), 1);
}

TEST(PlatformFaults, InstanceThatCannotBeScannedOrExportedFailsTheLoadUntilItCan) {
  // readdir fails where the listing would hand out the only instance; putenv's error 0 claims success, but the
  // entry never arrives. The lines of each between its entry and exit lines.
  const std::string set = "Setting the env: ", no_preferred = "Instance001 doesnt have DB2 qZt installed. "
                                                               "prop_dirname=[/tmp/reg/Vorlan/Instance001/Db2Agent]";
  const std::string fallback =
      B("GetVorlanInstanceName failed, trying to get the name of the first vorlan instance name.");
  const Lines found = {F(no_preferred), F("Got instance name:  Instance002")},
              not_found = {fallback, B("get_first_vorlan_instname() failed as well, returning error.")};
  const struct { Call call; int error; Lines base_dir, scan; } cases[] = {
      {Call::kMalloc, ENOMEM, {fallback, B(set + "Instance002..."), B("malloc(24)failed.")}, found},
      {Call::kPutenv, ENOMEM,
       {fallback, B(set + "Instance002..."), B("putenv(VORLAN_INST=Instance002) failed with error: 12")}, found},
      {Call::kPutenv, 0, {fallback, B(set + "Instance002..."), B(set + "VORLAN_INST=Instance002 succeeded"),
                          B("Environment variable (VORLAN_INST) is not set")}, found},
      {Call::kOpendir, EMFILE, not_found, {F("open(/tmp/reg/Vorlan) failed with errno: 24")}},
      {Call::kReaddir64, EIO, not_found, {F(no_preferred)}},
  };
  for (const auto& c : cases) {
    // Only the scan can find Instance002, listed on tmpfs after "." and "..".
    tb::InSession(tb::kComplete, [&](const std::string&) {
      std::filesystem::rename("/tmp/reg/Vorlan/Instance001", "/tmp/reg/Vorlan/Instance002");
      unsetenv("VORLAN_INST");
      const auto descriptors = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
      tb::Db2Session session;
      Striking(c.call, c.call == Call::kReaddir64 ? 2 : 0, c.error, [&] { EXPECT_EQ(session.Start(), -1); });
      EXPECT_EQ(session.rc.return_code, SQLUV_INIT_FAILED);
      EXPECT_TRUE(tb::TableEmpty());
      for (auto [tag, steps] : {std::pair{"GetVorlanBaseDir", c.base_dir}, {"get_first_vorlan_instname", c.scan}}) {
        steps.insert(steps.begin(), std::string(tag) + ": -----------Entered--------");
        steps.push_back(std::string(tag) + ": -----------Leaving--------");
        EXPECT_EQ(tb::LinesTagged(tag), steps);
      }
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), descriptors) << "closed";
      ExpectStarted(session);  // the next session scans again, exports the name and loads
      EXPECT_STREQ(getenv("VORLAN_INST"), "Instance002");
    });
  }
}

TEST(PlatformFaults, VorlanVmThatCannotBeExportedIsNotTriedAgain) {
  for (const Call call : {Call::kMalloc, Call::kStrdup, Call::kPutenv}) {
    tb::InSession(tb::kComplete, [&](const std::string&) {
      tb::Db2Session first, second;
      Striking(call, 0, ENOMEM, [&] { ExpectStarted(first); });  // the backend loads all the same
      // Unloaded at the end of the session; the next one runs discovery again, without another VORLAN_VM step.
      tb::WriteFile(kelmar::kUnloadMarker, "");
      EXPECT_EQ(first.End(), 0);
      tb::ClearTrace();
      ExpectStarted(second);
      EXPECT_EQ(tb::TimesLogged(B("path for .properties is: /tmp/home")), 1u) << "discovery ran";
      for (const std::string& line : tb::TraceLines()) EXPECT_EQ(line.find("VORLAN_VM"), std::string::npos) << line;
    });
  }
}

// A session that loads while chdir fails: it loads in the old working directory. At its end a dlclose that fails
// leaves the backend loaded and serving; the next unload works.
TEST(PlatformFaults, ChdirAndDlcloseFailuresLeaveTheBackendWorking) {
  const std::string u = "unInitializeFptrs(): ";
  tb::InSession(tb::kComplete, [&](const std::string& base) {
    const std::string before = std::filesystem::current_path();
    tb::Db2Session first, second;
    Striking(Call::kChdir, 0, EACCES, [&] { ExpectStarted(first); });
    EXPECT_EQ(tb::TimesLogged("initializeFptrs(): dlopen succeeded. Current dir: \"" + before + "\", loaded: \"" +
                              base + "/libXjKelmar.so\""), 1u);
    void* const handle = sqluv_handle;
    tb::WriteFile(kelmar::kUnloadMarker, "");
    tb::ClearTrace();
    Striking(Call::kDlclose, 0, 0, [&] { EXPECT_EQ(first.End(), 0); });
    EXPECT_EQ(tb::LinesTagged("unInitializeFptrs()"),
              (Lines{u + "-----------Entered--------", u + "sqluv_handle is:" + tb::Shown(handle),
                     u + "dlclose() returned failure, non-zero return code: -1, reason:\"" + wrapped::kDlcloseFailure +
                         ": cannot open shared object file: No such file or directory\"",
                     u + "-----------Leaving, returning 1--------"}));
    EXPECT_FALSE(tb::TableEmpty());
    ASSERT_EQ(unlink(kelmar::kUnloadMarker), 0);
    ExpectStarted(second);
    tb::WriteFile(kelmar::kUnloadMarker, "");
    EXPECT_EQ(second.End(), 0);
    EXPECT_TRUE(tb::TableEmpty());
  });
}

// A process whose thread keys are used up: the library counts no shared holds, and its sessions work without
// touching the value another component keeps under key 0, which the library's key would be had it been created.
TEST(PlatformFaults, ThreadKeysUsedUpLeaveOtherComponentsKeysAlone) {
  constexpr pthread_key_t kLowestKey = 0;
  tb::InSession(tb::kComplete, [&](const std::string&) {
    pthread_key_t own = kLowestKey;
    ASSERT_EQ(pthread_key_create(&own, nullptr), 0);  // key 0 is in use now, if it was not before
    int others_value = 0;
    ASSERT_EQ(pthread_setspecific(kLowestKey, &others_value), 0);
    tb::Db2Session session;
    Striking(Call::kPthreadKeyCreate, 0, EAGAIN, [&] { ExpectStarted(session); });
    {
      // As around every call into the backend.
      const kelmar::SharedTableHold inside_a_call = kelmar::SharedTableHold::Take();
      EXPECT_EQ(pthread_getspecific(kLowestKey), &others_value);
    }
    EXPECT_EQ(session.End(), 0);
    EXPECT_EQ(pthread_getspecific(kLowestKey), &others_value);
  });
}

}  // namespace
