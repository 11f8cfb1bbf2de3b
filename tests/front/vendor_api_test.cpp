// The exported vendor functions driven as DB2 drives them, against the test
// backends: what reaches the backend, what reaches DB2, and what is logged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <functional>

#include "backends/backend_probe.h"
#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "front/unload_markers.h"
#include "kelmar/libkelmar.h"
#include "loader/backend_table.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;
using tb::Lines;

constexpr sqlint32 kUntouched = 0x5a5a5a5a;

// The last `count` lines under `tag`.
Lines LastLines(const std::string& tag, std::size_t count) {
  const Lines lines = tb::LinesTagged(tag);
  return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())), lines.end());
}

TEST(VendorApi, FirstSqluvintLogsTheWholeRoadToTheBackend) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const std::string base = tb::InstallBackend(tb::kComplete);
    tb::Db2Session session;
    ASSERT_EQ(sqluvint(&session.in, &session.out, &session.rc), 0);

    const std::string handle = tb::Shown(sqluv_handle);
    const std::string path = base + "/libXjKelmar.so";
    EXPECT_EQ(testbed::TraceLines(), (Lines{
                                "sqluvint(): -----------Entered--------",
                                "sqluvint(): ...opType: SQLUV_WRITE",
                                "sqluvint(): -----------Will wait if /tmp/debugDB2 exists --------",
                                "sqluvint(): -----------XJREG= [/tmp/reg]",
                                "initializeFptrs(): -----------Entered--------",
                                "initializeFptrs(): sqluv_handle is:(nil)",
                                "GetVorlanBaseDir: -----------Entered--------",
                                "GetVorlanInstanceName: -----------Entered--------",
                                "GetVorlanInstanceName: Possibly CommandLine case, VENDOROPT not set.",
                                "GetVorlanInstanceName: VORLAN_INST is set to Instance001",
                                "GetVorlanInstanceName: -----------Leaving--------",
                                "GetVorlanBaseDir: Set Environment variable VORLAN_VM (Instance001)",
                                "GetVorlanBaseDir: path for .properties is: /tmp/reg/Vorlan/Instance001/Base/.properties",
                                "GetVorlanBaseDir: path for .properties is: /tmp/home",
                                "GetVorlanBaseDir: -----------Leaving--------",
                                "initializeFptrs(): GetVorlanBaseDir succeeded.",
                                "initializeFptrs(): Changing to base dir: \"" + base + "\".",
                                "initializeFptrs(): Library to be loaded: \"" + path + "\".",
                                "initializeFptrs(): dlopen succeeded. Current dir: \"" + base + "\", loaded: \"" + path + "\"",
                                "initializeFptrs(): After dlopen: sqluv_handle is:" + handle,
                                "initializeFptrs(): -----------Leaving, returning 1--------",
                                "sqluvint(): sqluv_handle is:" + handle + ", f_sqluvint is " +
                                    tb::Shown(reinterpret_cast<void*>(f_sqluvint)),
                                "sqluvint(): Calling sqluvintpp()",
                                "sqluvint(): -----------Leaving, returning 0--------",
                            }));
    EXPECT_EQ(tb::WorkingDirectory(), base);
  });
}

// One exported function as DB2 calls it, with the arguments it hands on.
struct Forwarded {
  tb::Entry entry;
  std::string tag;
  std::string pointer_name;
  std::function<void*()> pointer;
  std::function<sqlint32(tb::Db2Session&, sqlint32 action, std::array<const void*, 3>& passed)> call;
};

std::vector<Forwarded> ForwardedFunctions() {
  return {
      {tb::kInit, "sqluvint()", "f_sqluvint", [] { return reinterpret_cast<void*>(f_sqluvint); },
       [](tb::Db2Session& s, sqlint32, auto& passed) {
         passed = {&s.in, &s.out, &s.rc};
         return sqluvint(&s.in, &s.out, &s.rc);
       }},
      {tb::kGet, "sqluvget()", "f_sqluvget", [] { return reinterpret_cast<void*>(f_sqluvget); },
       [](tb::Db2Session& s, sqlint32, auto& passed) {
         static Data data;
         passed = {s.out.pVendorCB, &data, &s.rc};
         return sqluvget(s.out.pVendorCB, &data, &s.rc);
       }},
      {tb::kPut, "sqluvput()", "f_sqluvput", [] { return reinterpret_cast<void*>(f_sqluvput); },
       [](tb::Db2Session& s, sqlint32, auto& passed) {
         static Data data;
         passed = {s.out.pVendorCB, &data, &s.rc};
         return sqluvput(s.out.pVendorCB, &data, &s.rc);
       }},
      {tb::kEnd, "sqluvend()", "f_sqluvend", [] { return reinterpret_cast<void*>(f_sqluvend); },
       [](tb::Db2Session& s, sqlint32 action, auto& passed) {
         passed = {s.out.pVendorCB, &s.out, &s.rc};
         return sqluvend(action, s.out.pVendorCB, &s.out, &s.rc);
       }},
      {tb::kDel, "sqluvdel()", "f_sqluvdel", [] { return reinterpret_cast<void*>(f_sqluvdel); },
       [](tb::Db2Session& s, sqlint32, auto& passed) {
         passed = {&s.in, &s.out, &s.rc};
         return sqluvdel(&s.in, &s.out, &s.rc);
       }},
      {tb::kGetNextObj, "db2VendorGetNextObj()", "f_db2VendorGetNextObj",
       [] { return reinterpret_cast<void*>(f_db2VendorGetNextObj); },
       [](tb::Db2Session& s, sqlint32, auto& passed) {
         static db2VendorQueryInfo query;
         passed = {s.out.pVendorCB, &query, &s.rc};
         return db2VendorGetNextObj(s.out.pVendorCB, &query, &s.rc);
       }},
  };
}

TEST(VendorApi, ArgumentsAndResultsPassThroughUnchanged) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session session('R');
    ASSERT_EQ(sqluvint(&session.in, &session.out, &session.rc), 0);
    int vendor_control_block = 0;
    session.out.pVendorCB = &vendor_control_block;

    const sqlint32 results[] = {SQLUV_OK, SQLUV_ENDOFMEDIA, -1, -123456, INT_MIN, INT_MAX, 2000000000};
    const sqlint32 actions[] = {SQLUV_COMMIT, SQLUV_ABORT, -7, INT_MAX, INT_MIN, 0, 1};
    for (const Forwarded& f : ForwardedFunctions()) {
      for (std::size_t i = 0; i < std::size(results); ++i) {
        SCOPED_TRACE(f.tag + " returning " + std::to_string(results[i]));
        tb::SetResult(f.entry, results[i]);
        const std::size_t calls_before = tb::ReceivedCalls().size();
        testbed::ClearTrace();
        session.rc.return_code = kUntouched;
        std::array<const void*, 3> passed{};
        EXPECT_EQ(f.call(session, actions[i], passed), results[i]);

        const std::vector<tb::Call> calls = tb::ReceivedCalls();
        ASSERT_EQ(calls.size(), calls_before + 1);
        EXPECT_EQ(calls.back().entry, f.entry);
        EXPECT_EQ(calls.back().action, f.entry == tb::kEnd ? actions[i] : 0);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(calls.back().args[a], passed[a]) << "argument " << a;
        EXPECT_EQ(session.rc.return_code, kUntouched);

        EXPECT_EQ(LastLines(f.tag, 3),
                  (Lines{f.tag + ": sqluv_handle is:" + tb::Shown(sqluv_handle) + ", " + f.pointer_name + " is " +
                             tb::Shown(f.pointer()),
                         f.tag + ": Calling " + kelmar::kBackendEntryNames[f.entry] + "()",
                         f.tag + ": -----------Leaving, returning " + std::to_string(results[i]) + "--------"}));
        if (f.entry == tb::kGet || f.entry == tb::kPut || f.entry == tb::kEnd || f.entry == tb::kGetNextObj) {
          EXPECT_EQ(tb::LinesTagged(f.tag).size(), 4u) << "a plain forwarder logs its entry line and nothing else besides";
        }
      }
    }
  });
}

TEST(VendorApi, CallsThatNeverLoadRefuseAnEmptyTable) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    for (const char* marker : {kelmar::kKeepLoadedMarker, kelmar::kUnloadMarker}) testbed::WriteFile(marker, "");
    const std::string directory = tb::WorkingDirectory();
    for (const Forwarded& f : ForwardedFunctions()) {
      if (f.entry == tb::kInit || f.entry == tb::kDel) continue;
      SCOPED_TRACE(f.tag);
      tb::Db2Session session;
      session.rc.return_code = kUntouched;
      testbed::ClearTrace();
      std::array<const void*, 3> passed{};
      EXPECT_EQ(f.call(session, SQLUV_COMMIT, passed), -1);
      EXPECT_EQ(testbed::TraceLines(), (Lines{f.tag + ": -----------Entered--------",
                                     f.tag + ": sqluv_handle or function pointer is NULL, returning error.",
                                     f.tag + ": -----------Leaving, returning -1--------"}));
      EXPECT_EQ(session.rc.return_code, kUntouched);
    }
    EXPECT_EQ(sqluv_handle, nullptr);
    EXPECT_EQ(tb::WorkingDirectory(), directory);
    for (const char* marker : {kelmar::kKeepLoadedMarker, kelmar::kUnloadMarker}) {
      EXPECT_EQ(access(marker, F_OK), 0) << marker << " was touched";
    }
  });
}

TEST(VendorApi, SessionOpenersFailWhenTheBackendCannotBeLoaded) {
  struct Case {
    std::string name;
    std::string backend;  // empty: no installation at all
  };
  std::vector<Case> cases = {{"no installation", ""}};
  for (const char* without : tb::kWithoutEntry) cases.push_back({without, without});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testbed::RunIsolated([&] {
      testbed::EnableTrace();
      if (c.backend.empty()) {
        testbed::RegistryTree(tb::kRegistryRoot).Export();
      } else {
        tb::InstallBackend(c.backend);
      }
      tb::Db2Session session;
      session.rc.return_code = kUntouched;
      EXPECT_EQ(sqluvint(&session.in, &session.out, &session.rc), -1);
      EXPECT_EQ(session.rc.return_code, SQLUV_INIT_FAILED);
      EXPECT_EQ(LastLines("sqluvint()", 2),
                (Lines{"sqluvint(): initializeFptrs() failed, returning error.",
                       "sqluvint(): -----------Leaving, returning -1--------"}));
      EXPECT_EQ(sqluvint(&session.in, &session.out, nullptr), -1) << "a null Return_code is never written";

      session.rc.return_code = kUntouched;
      testbed::ClearTrace();
      EXPECT_EQ(sqluvdel(&session.in, &session.out, &session.rc), -1);
      EXPECT_EQ(session.rc.return_code, kUntouched);
      EXPECT_EQ(LastLines("sqluvdel()", 2),
                (Lines{"sqluvdel(): initializeFptrs() failed, returning error.",
                       "sqluvdel(): -----------Leaving, returning -1--------"}));
      EXPECT_FALSE(tb::LinesTagged("initializeFptrs()").empty()) << "every call tries the load again";
      EXPECT_EQ(sqluv_handle, nullptr);
    });
  }
}

TEST(VendorApi, SqluvdelHoldsBeforeItsEntryLineAndLoadsWhenFirst) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    tb::InstallBackend(tb::kComplete);
    tb::Db2Session session('B');
    ASSERT_EQ(sqluvdel(&session.in, &session.out, &session.rc), 0);
    EXPECT_EQ(tb::LinesTagged("sqluvdel()"),
              (Lines{"sqluvdel(): -----------Will wait if /tmp/debugDB2 exists --------",
                     "sqluvdel(): -----------Entered--------", "sqluvdel(): ...opType: SQLUV_DELETE_ALL",
                     "sqluvdel(): -----------XJREG= [/tmp/reg]",
                     "sqluvdel(): sqluv_handle is:" + tb::Shown(sqluv_handle) + ", f_sqluvdel is " +
                         tb::Shown(reinterpret_cast<void*>(f_sqluvdel)),
                     "sqluvdel(): Calling sqluvdelpp()", "sqluvdel(): -----------Leaving, returning 0--------"}));
    EXPECT_EQ(tb::LinesTagged("initializeFptrs()").back(), "initializeFptrs(): -----------Leaving, returning 1--------");
  });
}

TEST(VendorApi, QueryApiVersionAnswersWithoutLoadingOrLogging) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    db2VendorQueryApiVersion(nullptr);
    sqluint32 version = 0;
    db2VendorQueryApiVersion(&version);
    EXPECT_EQ(version, 8020000u);
    EXPECT_TRUE(testbed::TraceLines().empty());
    EXPECT_EQ(sqluv_handle, nullptr);
  });
}

}  // namespace
