// The loader when the platform fails it: a working directory that cannot be
// read back, and a dlclose that fails.
#include <gtest/gtest.h>

#include <algorithm>

#include "backends/backend_probe.h"
#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "front/registry_root.h"
#include "loader/loader_test_support.h"
#include "loader/platform_faults.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace faults = kelmar::platform_faults;
namespace testbed = kelmar::testbed;
using tb::Lines;

bool Logged(const std::string& line) { return tb::TimesLogged(line) > 0; }

TEST(LoaderFaults, UnreadableWorkingDirectoryShowsAsUnknown) {
  struct Case {
    const char* backend;
    int result;
    std::string line;  // after the base directory
  };
  const std::string path = std::string(tb::kHome) + "/Base/libXjKelmar.so";
  const Case cases[] = {
      {tb::kComplete, 1, "dlopen succeeded. Current dir: \"(unknown)\", loaded: \"" + path + "\""},
      {"", 0, "dlopen failed when loading \"" + path + "\", error = \"" + path + ": file too short\", pwd=\"(unknown)\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      tb::InstallBackend(c.backend);
      SettleRegistryRoot("test");
      tb::Db2Session session;
      faults::fail_getcwd = true;
      EXPECT_EQ(tb::Load(&session.in), c.result);
      faults::fail_getcwd = false;
      EXPECT_TRUE(Logged("initializeFptrs(): " + c.line));
      EXPECT_EQ(tb::TableFull(), c.result == 1);
      if (c.result == 0) {
        const std::string base = tb::InstallBackend(tb::kComplete);
        EXPECT_EQ(tb::Load(&session.in), 1) << "the next load is a fresh attempt";
        EXPECT_TRUE(Logged("initializeFptrs(): dlopen succeeded. Current dir: \"" + base + "\", loaded: \"" + path + "\""));
      }
    });
  }
}

TEST(LoaderFaults, FailedDlcloseKeepsTheBackendInUseUntilAnUnloadSucceeds) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session session;
    ASSERT_EQ(sqluvint(&session.in, &session.out, &session.rc), 0);
    void* const handle = sqluv_handle;
    const auto entry = f_sqluvput;

    faults::fail_dlclose = true;
    testbed::ClearTrace();
    EXPECT_EQ(tb::Unload(), 1);
    faults::fail_dlclose = false;
    const std::string tag = "unInitializeFptrs(): ";
    EXPECT_EQ(testbed::TraceLines(),
              (Lines{tag + "-----------Entered--------", tag + "sqluv_handle is:" + tb::Shown(handle),
                     tag + "dlclose() returned failure, non-zero return code: -1, reason:\"" + faults::kDlcloseFailure +
                         ": cannot open shared object file: No such file or directory\"",
                     tag + "-----------Leaving, returning 1--------"}));
    EXPECT_EQ(sqluv_handle, handle);
    EXPECT_EQ(f_sqluvput, entry);
    EXPECT_TRUE(tb::TableFull());

    Data data{};
    tb::SetResult(tb::kPut, 77);
    EXPECT_EQ(sqluvput(session.out.pVendorCB, &data, &session.rc), 77) << "still served by the backend";

    EXPECT_EQ(tb::Unload(), 1);
    EXPECT_TRUE(tb::TableEmpty());
  });
}

}  // namespace
