// DB2 sessions while the platform fails the library: no memory and a refusing
// putenv for the two environment entries, a chdir that fails, a product
// directory that cannot be opened or read to its end, and a dlclose that
// fails. Each gives its trace lines and results, and every call that reaches
// the backend reaches it unchanged. (A trace on a full file system is a case
// of the trace log's own tests.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backends/backend_probe.h"
#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "discovery/environment.h"
#include "faults/wrapped_calls.h"
#include "front/unload_markers.h"
#include "kelmar/libkelmar.h"
#include "loader/loader_test_support.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;
namespace wrapped = kelmar::wrapped_calls;
using tb::Lines;
using wrapped::Call;

constexpr const char* kScannedInstance = "Instance002";
constexpr sqlint32 kUntouched = 0x5a5a5a5a;

std::string B(const std::string& message) { return "GetVorlanBaseDir: " + message; }
std::string F(const std::string& message) { return "get_first_vorlan_instname: " + message; }
const std::string kEntered = "-----------Entered--------";
const std::string kLeaving = "-----------Leaving--------";

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// An installation the first-instance scan has to find: Instance002 with its
// agent and the recording backend, no Instance001, nothing in the environment.
std::string InstallForTheScan() {
  const testbed::RegistryTree tree(tb::kRegistryRoot);
  tree.Export();
  unsetenv("VORLAN_INST");
  unsetenv("VORLAN_VM");
  return tree.Install(kScannedInstance, tb::kHome, tb::kComplete);
}

// sqluvint reached the backend exactly as DB2 called it.
void ExpectInitReachedTheBackend(tb::Db2Session& session) {
  const std::vector<tb::Call> calls = tb::ReceivedCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().entry, tb::kInit);
  EXPECT_EQ(calls.back().args[0], &session.in);
  EXPECT_EQ(calls.back().args[1], &session.out);
  EXPECT_EQ(calls.back().args[2], &session.rc);
}

// A session that cannot load the backend fails as DB2 is told it does, and
// leaves nothing loaded.
void ExpectInitFailed(tb::Db2Session& session) {
  session.rc.return_code = kUntouched;
  EXPECT_EQ(tb::StartSession(session), -1);
  EXPECT_EQ(session.rc.return_code, SQLUV_INIT_FAILED);
  EXPECT_TRUE(tb::TableEmpty());
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(PlatformFaults, VorlanInstThatCannotBeExportedFailsTheLoadUntilItCan) {
  struct Case {
    const char* name;
    Call call;
    int error;  // for putenv, 0: claims success but the entry never arrives
    Lines lines;  // after "Setting the env: Instance002..."
  };
  const Case cases[] = {
      {"no memory for the entry", Call::kMalloc, ENOMEM, {B("malloc(24)failed.")}},
      {"putenv refuses", Call::kPutenv, ENOMEM, {B("putenv(VORLAN_INST=Instance002) failed with error: 12")}},
      {"putenv loses the entry", Call::kPutenv, 0,
       {B("Setting the env: VORLAN_INST=Instance002 succeeded"), B("Environment variable (VORLAN_INST) is not set")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      InstallForTheScan();
      tb::Db2Session session;
      wrapped::FailNext(c.call, c.error);
      ExpectInitFailed(session);
      EXPECT_TRUE(wrapped::Struck(c.call));
      wrapped::DisarmAll();

      Lines expected = {B(kEntered),
                        B("GetVorlanInstanceName failed, trying to get the name of the first vorlan instance name."),
                        B("Setting the env: Instance002...")};
      expected.insert(expected.end(), c.lines.begin(), c.lines.end());
      expected.push_back(B(kLeaving));
      EXPECT_EQ(tb::LinesTagged("GetVorlanBaseDir"), expected);
      EXPECT_EQ(tb::TimesLogged("initializeFptrs(): GetVorlanBaseDir failed, returning error."), 1u);
      EXPECT_EQ(Env("VORLAN_INST"), std::nullopt);
      EXPECT_EQ(Env("VORLAN_VM"), std::nullopt) << "nothing after the failed step runs";

      // The next session scans again, exports the name and loads.
      EXPECT_EQ(tb::StartSession(session), 0);
      EXPECT_EQ(Env("VORLAN_INST"), kScannedInstance);
      ExpectInitReachedTheBackend(session);
    });
  }
}

TEST(PlatformFaults, VorlanVmThatCannotBeExportedIsNotTriedAgain) {
  struct Case {
    const char* name;
    Call call;
  };
  const Case cases[] = {{"no memory to compose the entry", Call::kMalloc},
                        {"no memory for the environment's copy", Call::kStrdup},
                        {"putenv refuses", Call::kPutenv}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      tb::InstallBackend(tb::kComplete);
      tb::Db2Session first;
      wrapped::FailNext(c.call, ENOMEM);
      EXPECT_EQ(tb::StartSession(first), 0) << "the backend loads all the same";
      EXPECT_TRUE(wrapped::Struck(c.call));
      wrapped::DisarmAll();
      ExpectInitReachedTheBackend(first);
      EXPECT_EQ(tb::TimesLogged(B("Set Environment variable VORLAN_VM (Instance001)")), 1u);
      EXPECT_EQ(Env("VORLAN_VM"), std::nullopt);
      EXPECT_STREQ(vorlan_vm, "Instance001");

      // Unloaded at the end of the session; the next one runs discovery
      // again, without another VORLAN_VM step.
      testbed::WriteFile(kelmar::kUnloadMarker, "");
      EXPECT_EQ(tb::EndSession(first), 0);
      ASSERT_TRUE(tb::TableEmpty());
      testbed::ClearTrace();
      tb::Db2Session second;
      EXPECT_EQ(tb::StartSession(second), 0);
      EXPECT_EQ(tb::TimesLogged(B("path for .properties is: /tmp/home")), 1u) << "discovery ran";
      for (const std::string& line : tb::LinesTagged("GetVorlanBaseDir")) {
        EXPECT_EQ(line.find("VORLAN_VM"), std::string::npos) << line;
      }
      EXPECT_EQ(Env("VORLAN_VM"), std::nullopt);
      ExpectInitReachedTheBackend(second);
    });
  }
}

TEST(PlatformFaults, ChdirFailureLoadsInTheOldWorkingDirectory) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const std::string base = tb::InstallBackend(tb::kComplete);
    const std::string before = tb::WorkingDirectory();
    ASSERT_NE(before, base);
    tb::Db2Session session;
    wrapped::FailNext(Call::kChdir, EACCES);
    EXPECT_EQ(tb::StartSession(session), 0);
    EXPECT_TRUE(wrapped::Struck(Call::kChdir));
    wrapped::DisarmAll();
    EXPECT_EQ(tb::WorkingDirectory(), before);
    EXPECT_EQ(tb::TimesLogged("initializeFptrs(): dlopen succeeded. Current dir: \"" + before + "\", loaded: \"" + base +
                              "/libXjKelmar.so\""),
              1u);
    ExpectInitReachedTheBackend(session);
  });
}

TEST(PlatformFaults, ProductDirectoryThatCannotBeListedToItsEnd) {
  struct Case {
    const char* name;
    Call call;
    int error;
    Lines lines;  // get_first_vorlan_instname's, between its entry and exit lines
  };
  const Case cases[] = {
      {"opendir out of descriptors", Call::kOpendir, EMFILE, {F("open(/tmp/reg/Vorlan) failed with errno: 24")}},
      // The read fails where the listing would hand out the only instance.
      {"readdir fails", Call::kReaddir64, EIO,
       {F("Instance001 doesnt have DB2 qZt installed. prop_dirname=[/tmp/reg/Vorlan/Instance001/Db2Agent]")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      InstallForTheScan();
      int entries_before_the_instance = 0;
      {
        DIR* listing = opendir("/tmp/reg/Vorlan");
        ASSERT_NE(listing, nullptr);
        while (const dirent* entry = readdir(listing)) {
          if (std::strcmp(entry->d_name, kScannedInstance) == 0) break;
          ++entries_before_the_instance;
        }
        closedir(listing);
      }
      const std::size_t descriptors = OpenDescriptors();

      tb::Db2Session session;
      wrapped::FailAfter(c.call, c.call == Call::kReaddir64 ? entries_before_the_instance : 0, c.error);
      ExpectInitFailed(session);
      EXPECT_TRUE(wrapped::Struck(c.call));
      wrapped::DisarmAll();
      Lines expected = {F(kEntered)};
      expected.insert(expected.end(), c.lines.begin(), c.lines.end());
      expected.push_back(F(kLeaving));
      EXPECT_EQ(tb::LinesTagged("get_first_vorlan_instname"), expected);
      EXPECT_EQ(tb::TimesLogged(B("get_first_vorlan_instname() failed as well, returning error.")), 1u);
      EXPECT_EQ(OpenDescriptors(), descriptors) << "the listing is closed on every way out";
      EXPECT_EQ(Env("VORLAN_INST"), std::nullopt);

      EXPECT_EQ(tb::StartSession(session), 0);
      EXPECT_EQ(tb::TimesLogged(F("Got instance name:  " + std::string(kScannedInstance))), 1u);
      ExpectInitReachedTheBackend(session);
    });
  }
}

TEST(PlatformFaults, DlcloseThatFailsLeavesTheBackendLoaded) {
  const std::string unload = "unInitializeFptrs(): ";
  const std::string dlclose_failed = std::string("dlclose() returned failure, non-zero return code: -1, reason:\"") +
                                     wrapped::kDlcloseFailure +
                                     ": cannot open shared object file: No such file or directory\"";

  // The unload marker at the end of a session: the backend stays and serves.
  testbed::RunIsolated([&] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session first;
    ASSERT_EQ(tb::StartSession(first), 0);
    void* const handle = sqluv_handle;
    testbed::WriteFile(kelmar::kUnloadMarker, "");
    testbed::ClearTrace();
    wrapped::FailNext(Call::kDlclose, 0);
    EXPECT_EQ(tb::EndSession(first), 0);
    EXPECT_TRUE(wrapped::Struck(Call::kDlclose));
    wrapped::DisarmAll();
    EXPECT_EQ(tb::LinesTagged("unInitializeFptrs()"),
              (Lines{unload + "-----------Entered--------", unload + "sqluv_handle is:" + tb::Shown(handle),
                     unload + dlclose_failed, unload + "-----------Leaving, returning 1--------"}));
    EXPECT_EQ(sqluv_handle, handle);
    EXPECT_FALSE(tb::TableEmpty());

    // Still the same backend for the next session; the next unload works.
    ASSERT_EQ(unlink(kelmar::kUnloadMarker), 0);
    tb::Db2Session second;
    EXPECT_EQ(tb::StartSession(second), 0);
    EXPECT_EQ(sqluv_handle, handle);
    Data data{};
    tb::SetResult(tb::kPut, 77);
    EXPECT_EQ(sqluvput(second.out.pVendorCB, &data, &second.rc), 77);
    testbed::WriteFile(kelmar::kUnloadMarker, "");
    EXPECT_EQ(tb::EndSession(second), 0);
    EXPECT_TRUE(tb::TableEmpty());
  });

  // A backend without all its entry points, which cannot be closed either:
  // no session runs against it, and every session start tries again.
  testbed::RunIsolated([&] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kWithoutEntry[tb::kGetNextObj]);
    for (int attempt = 0; attempt < 2; ++attempt) {
      tb::Db2Session session;
      testbed::ClearTrace();
      wrapped::FailNext(Call::kDlclose, 0);
      ExpectInitFailed(session);
      EXPECT_TRUE(wrapped::Struck(Call::kDlclose));
      wrapped::DisarmAll();
      const Lines lines = tb::LinesTagged("initializeFptrs()");
      ASSERT_GE(lines.size(), 2u);
      EXPECT_EQ(lines[lines.size() - 2], "initializeFptrs(): Entry point db2VendorGetNextObjpp not found, unloading.");
      EXPECT_EQ(lines.back(), "initializeFptrs(): -----------Leaving, returning 0--------");
      EXPECT_EQ(tb::TimesLogged("sqluvint(): initializeFptrs() failed, returning error."), 1u);
    }
  });
}

}  // namespace
