// Damaged installations and unruly backends: every load fails with its reason or goes on, and no session is lost;
// nothing dies of a signal or hangs (an alarm ends a case that would).
#include <sys/stat.h>
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

const std::string kLibrary = std::string(kHome) + "/Base/libXjKelmar.so";
const std::string kProperties = std::string(kRegistryRoot) + "/Vorlan/" + kInstance + "/Base/.properties";

// Puts a symbolic link to `target`, or a FIFO, in the file's place.
void Replace(const std::string& path, const char* target = nullptr) {
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(target != nullptr ? symlink(target, path.c_str()) : mkfifo(path.c_str(), 0755), 0) << path;
}
constexpr sqlint32 kNoSuchAction = 7;  // an end that is neither a commit nor an abort

void InstallUnloading(const char* backend) {
  alarm(30);
  InstallBackend(backend);
  EnableTrace();
  WriteFile(kelmar::kUnloadMarker, "");
}

TEST(DamagedFiles, FailTheLoadWithTheirReason) {
  struct Damage { void (*arrange)(); bool in_properties; std::string reason; };
  const Damage damages[] = {
      {[] { EXPECT_EQ(truncate(kLibrary.c_str(), 100), 0); }, false, "file is cut short: program headers end at "},
      {[] { EXPECT_EQ(truncate(kLibrary.c_str(), 4096), 0); }, false, "file is cut short: segment "},
      // No program header: one read past the table would find the file's end.
      {[] { WriteFile(kLibrary, ReadFile(kLibrary).substr(0, 56) + std::string(8, '\0'), 0755); }, false,
       kLibrary + ": object file has no loadable segments"},
      {[] { Replace(kLibrary); }, false, "not a regular file"},
      {[] { Replace(kProperties, "/dev/zero"); }, true, "it is a device, not a regular file"},
      {[] { Replace(kProperties); }, true, "it is a FIFO, not a regular file"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.reason);
    RunIsolated([&] {
      InstallUnloading(KELMAR_SAMPLE_BACKEND);
      d.arrange();
      Db2Session session;
      EXPECT_EQ(session.Start(), -1);
      const std::string line = d.in_properties ? "GetVorlanBaseDir: Could not open file " + kProperties
                                               : "initializeFptrs(): dlopen failed when loading \"" + kLibrary +
                                                     "\", error = \"" + d.reason;
      EXPECT_TRUE(std::ranges::any_of(TraceLines(), [&](const std::string& l) { return l.starts_with(line); }));
      const std::string failed = d.in_properties ? "properties (exit status 5): cannot open " + kProperties + ": "
                                                 : "load (exit status 9): dlopen failed: ";
      EXPECT_NE(RunProgram({KELMAR_CHECK_PROGRAM}).out.find("FAILED at " + failed + d.reason), std::string::npos);
    });
  }
}

TEST(UnrulyBackend, CallsFromItsOwnLoadOrUnloadAreRefusedAtOnce) {
  RunIsolated([] {
    InstallUnloading(tb::kReentrant);
    Db2Session s;
    EXPECT_EQ(s.Start(), 0);
    EXPECT_EQ(s.End(), 0);
    EXPECT_EQ(s.Start(), 0);  // the thread that unloaded loads again
    EXPECT_STREQ(getenv("KELMAR_REENTRY"), " load:-1,11,-1 unload:-1,11,-1 load:-1,11,-1");
    EXPECT_EQ(TimesLogged("sqluvdel(): Called by libXjKelmar.so during its own load or unload."), 3u);
  });
}

// Two sessions are open under the unload marker when the event comes; the backend stays until the last ends.
TEST(UnrulyBackend, OnlyAnEndThatEndsASessionClosesIt) {
  // The backend's answer to the ends during the event, and the event.
  const std::pair<sqlint32, std::function<void(Db2Session&)>> events[] = {
      {SQLUV_INV_ACTION, [](Db2Session& second) { second.End(kNoSuchAction); }},
      {SQLUV_COMMIT_FAILED, [](Db2Session& second) { second.End(SQLUV_COMMIT); }},  // DB2 aborts next
      {SQLUV_OK, [](Db2Session&) { Db2Session stray; stray.End(SQLUV_COMMIT); }},
      {SQLUV_OK, [](Db2Session&) {
         Db2Session failed;
         tb::SetResult(tb::kInit, SQLUV_INIT_FAILED);
         EXPECT_EQ(failed.Start(), SQLUV_INIT_FAILED);
         EXPECT_EQ(failed.End(SQLUV_ABORT), SQLUV_OK);
       }},
  };
  for (const auto& e : events) {
    RunIsolated([&] {
      InstallUnloading(tb::kComplete);
      Db2Session first, second;
      first.out.pVendorCB = &first;  // as the backend hands them back
      second.out.pVendorCB = &second;
      ASSERT_EQ(first.Start(), 0);
      ASSERT_EQ(second.Start(), 0);
      tb::SetResult(tb::kEnd, e.first);
      e.second(second);
      tb::SetResult(tb::kEnd, SQLUV_OK);
      EXPECT_EQ(first.End(SQLUV_COMMIT), SQLUV_OK);
      EXPECT_EQ(TimesLogged("sqluvend(): ------libXjKelmar.so is in use, not going to unload it --------"), 2u);
      EXPECT_EQ(second.End(SQLUV_ABORT), SQLUV_OK);
      EXPECT_TRUE(tb::TableEmpty());
    });
  }
}

// Beyond the 1024 sessions the library tracks, an end cannot be told from a stray one: the backend stays for good.
TEST(UnrulyBackend, AnUntrackedSessionKeepsTheBackendLoaded) {
  RunIsolated([] {
    InstallUnloading(tb::kComplete);
    std::vector<Db2Session> sessions(1025);
    for (Db2Session& s : sessions) {
      s.out.pVendorCB = &s;
      ASSERT_EQ(s.Start(), 0);
    }
    for (Db2Session& s : sessions) EXPECT_EQ(s.End(SQLUV_COMMIT), SQLUV_OK);
    EXPECT_NE(sqluv_handle, nullptr);
  });
}

// The file is replaced between two sessions as an upgrade replaces it; the recording backend runs afterwards:
// the new code, or the old that stayed mapped. XJREG is relative: the second load finds the registry only if the
// root was made absolute before the first load changed the working directory.
TEST(UnrulyBackend, AReplacedBackendRunsAfterTheUnloadUnlessTheOldStaysMapped) {
  struct Case { const char* installed; const char* replacement; bool stays_mapped; };
  for (const Case& c :
       {Case{KELMAR_SAMPLE_BACKEND, tb::kComplete, false}, Case{tb::kStaysMapped, KELMAR_SAMPLE_BACKEND, true}}) {
    RunIsolated([&] {
      InstallUnloading(c.installed);
      ASSERT_EQ(chdir("/tmp"), 0);
      setenv("XJREG", "reg", 1);
      const std::string check = RunProgram({KELMAR_CHECK_PROGRAM}).out;
      EXPECT_NE(check.find("note: XJREG is relative (\"reg\")"), std::string::npos);
      EXPECT_EQ(check.find("note: the backend cannot be reloaded") != std::string::npos, c.stays_mapped) << check;
      Db2Session s;
      s.Start();
      s.End();
      WriteFile(kLibrary + ".new", ReadFile(c.replacement), 0755);
      ASSERT_EQ(std::rename((kLibrary + ".new").c_str(), kLibrary.c_str()), 0);
      s.Start();
      EXPECT_NE(tb::LoadedBackend(), nullptr);
      EXPECT_EQ(TimesLogged("sqluvint(): -----------XJREG= [/tmp/reg]"), 2u);
      EXPECT_EQ(TimesLogged("unInitializeFptrs(): \"" + kLibrary +
                            "\" stays mapped after dlclose(), the next load reuses its old code"),
                c.stays_mapped ? 1u : 0u);
    });
  }
}

}  // namespace
