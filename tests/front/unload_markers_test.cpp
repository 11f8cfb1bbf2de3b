// The unload and keep-loaded markers, checked by sqluvint before its load and
// by sqluvend after the backend ended its session, one session at a time.
#include "front/unload_markers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "kelmar/libkelmar.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;
using tb::Lines;

const std::string kKeepLoadedLine =
    "------/tmp/debugDB2_nounload exists, not going to unload libXjKelmar.so if it has been loaded --------";

void Put(const char* marker) { testbed::WriteFile(marker, ""); }
bool Exists(const char* path) { return access(path, F_OK) == 0; }

bool Logged(const std::string& line) { return tb::TimesLogged(line) > 0; }

// The three lines of an unload of `handle` (null: nothing loaded).
Lines UnloadLines(const void* handle) {
  return {"unInitializeFptrs(): -----------Entered--------", "unInitializeFptrs(): sqluv_handle is:" + tb::Shown(handle),
          "unInitializeFptrs(): -----------Leaving, returning 1--------"};
}

bool Mapped(const std::string& base) {
  void* handle = dlopen((base + "/libXjKelmar.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

TEST(UnloadMarkers, SqluvendUnloadsAfterTheBackendEndedTheSession) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const std::string base = tb::InstallBackend(tb::kComplete);
    tb::Db2Session session;
    ASSERT_EQ(tb::StartSession(session), 0);
    Put(kelmar::kUnloadMarker);
    const void* handle = sqluv_handle;
    const std::string entry = tb::Shown(reinterpret_cast<void*>(f_sqluvend));
    testbed::ClearTrace();

    EXPECT_EQ(tb::EndSession(session), 0);
    Lines expected = {"sqluvend(): -----------Entered--------",
                      "sqluvend(): sqluv_handle is:" + tb::Shown(handle) + ", f_sqluvend is " + entry,
                      "sqluvend(): Calling sqluvendpp()"};
    for (const std::string& line : UnloadLines(handle)) expected.push_back(line);
    expected.push_back("sqluvend(): -----------Leaving, returning 0--------");
    EXPECT_EQ(testbed::TraceLines(), expected);
    EXPECT_EQ(sqluv_handle, nullptr);
    EXPECT_EQ(f_sqluvint, nullptr);
    EXPECT_FALSE(Mapped(base));
    EXPECT_TRUE(Exists(kelmar::kUnloadMarker)) << "the library never deletes the unload marker";
  });
}

TEST(UnloadMarkers, UnloadMarkerReloadsFromDiscoveryAtEverySessionStart) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const std::string base = tb::InstallBackend(tb::kComplete);
    Put(kelmar::kUnloadMarker);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE("session " + std::to_string(round));
      tb::Db2Session session;
      testbed::ClearTrace();
      EXPECT_EQ(tb::StartSession(session), 0);
      // Nothing is loaded between sessions: the check unloads nothing, then
      // the whole load follows.
      const Lines lines = testbed::TraceLines();
      const Lines unload = UnloadLines(nullptr);
      const auto at = std::search(lines.begin(), lines.end(), unload.begin(), unload.end());
      ASSERT_NE(at, lines.end());
      EXPECT_EQ(*(at - 1), "sqluvint(): -----------XJREG= [/tmp/reg]");
      EXPECT_EQ(*(at + 3), "initializeFptrs(): -----------Entered--------");
      EXPECT_TRUE(Logged("initializeFptrs(): GetVorlanBaseDir succeeded."));
      EXPECT_TRUE(Mapped(base));

      EXPECT_EQ(tb::EndSession(session), 0);
      EXPECT_EQ(sqluv_handle, nullptr);
      EXPECT_FALSE(Mapped(base));
    }
  });
}

TEST(UnloadMarkers, KeepLoadedMarkerSparesOneCheckThenTheUnloadMarkerActs) {
  for (const bool spared_by_sqluvend : {true, false}) {
    SCOPED_TRACE(spared_by_sqluvend ? "spared by sqluvend" : "spared by sqluvint");
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      tb::InstallBackend(tb::kComplete);
      tb::Db2Session first;
      ASSERT_EQ(tb::StartSession(first), 0);
      if (!spared_by_sqluvend) {
        ASSERT_EQ(tb::EndSession(first), 0);
      }
      Put(kelmar::kKeepLoadedMarker);
      Put(kelmar::kUnloadMarker);
      void* const handle = sqluv_handle;
      testbed::ClearTrace();

      tb::Db2Session second;
      const std::string tag = spared_by_sqluvend ? "sqluvend(): " : "sqluvint(): ";
      EXPECT_EQ(spared_by_sqluvend ? tb::EndSession(first) : tb::StartSession(second), 0);
      EXPECT_TRUE(Logged(tag + kKeepLoadedLine));
      EXPECT_FALSE(Exists(kelmar::kKeepLoadedMarker));
      EXPECT_EQ(sqluv_handle, handle) << "spared";
      EXPECT_FALSE(Logged("unInitializeFptrs(): -----------Entered--------"));

      testbed::ClearTrace();
      EXPECT_EQ(spared_by_sqluvend ? tb::StartSession(second) : tb::EndSession(second), 0);
      EXPECT_TRUE(Logged(UnloadLines(handle)[1])) << "the next check unloads";
    });
  }
}

TEST(UnloadMarkers, UndeletableKeepLoadedMarkerSparesEveryCheck) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    testbed::MakeDirs(std::string(kelmar::kKeepLoadedMarker) + "/busy");
    Put(kelmar::kUnloadMarker);
    for (int round = 0; round < 2; ++round) {
      tb::Db2Session session;
      testbed::ClearTrace();
      ASSERT_EQ(tb::StartSession(session), 0);
      ASSERT_EQ(tb::EndSession(session), 0);
      EXPECT_EQ(testbed::TraceLines()[4], "sqluvint(): " + kKeepLoadedLine);
      EXPECT_EQ(testbed::TraceLines().end()[-2], "sqluvend(): " + kKeepLoadedLine);
      EXPECT_NE(sqluv_handle, nullptr);
      EXPECT_FALSE(Logged("unInitializeFptrs(): -----------Entered--------"));
    }
  });
}

TEST(UnloadMarkers, OnlySqluvintAndSqluvendCheckThem) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session session('M');
    ASSERT_EQ(sqluvdel(&session.in, &session.out, &session.rc), 0);
    Put(kelmar::kKeepLoadedMarker);
    Put(kelmar::kUnloadMarker);
    void* const handle = sqluv_handle;
    Data data{};
    db2VendorQueryInfo query{};
    testbed::ClearTrace();
    EXPECT_EQ(sqluvdel(&session.in, &session.out, &session.rc), 0);
    EXPECT_EQ(sqluvget(session.out.pVendorCB, &data, &session.rc), 0);
    EXPECT_EQ(sqluvput(session.out.pVendorCB, &data, &session.rc), 0);
    EXPECT_EQ(db2VendorGetNextObj(session.out.pVendorCB, &query, &session.rc), 0);
    EXPECT_TRUE(Exists(kelmar::kKeepLoadedMarker));
    EXPECT_EQ(sqluv_handle, handle);
    for (const std::string& line : testbed::TraceLines()) EXPECT_EQ(line.find("unload"), std::string::npos) << line;
  });
}

}  // namespace
