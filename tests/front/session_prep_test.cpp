#include "front/session_prep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "front/registry_root.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

using kelmar::testbed::EnableTrace;
using kelmar::testbed::RunIsolated;
using kelmar::testbed::TraceLines;
using Lines = std::vector<std::string>;

TEST(OpType, NamesTheNineActionsAndNothingElse) {
  struct Case {
    const char* action;
    const char* name;  // null: no name
  };
  const Case cases[] = {
      {"W", "SQLUV_WRITE"},         {"R", "SQLUV_READ"},          {"A", "SQLUV_ARCHIVE"},
      {"T", "SQLUV_RETRIEVE"},      {"I", "SQLUV_QUERY_IMAGES"},  {"L", "SQLUV_QUERY_LOGS"},
      {"M", "SQLUV_DELETE_IMAGES"}, {"O", "SQLUV_DELETE_LOGS"},   {"B", "SQLUV_DELETE_ALL"},
      {"Write", "SQLUV_WRITE"},     {"w", nullptr},               {"C", nullptr},
      {"V", nullptr},               {"X", nullptr},               {"Z", nullptr},
      {"@", nullptr},               {"", nullptr},                {"\xff", nullptr},
      {nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const char* name = opType(c.action);
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr) << (c.action ? c.action : "(absent)");
    } else {
      ASSERT_NE(name, nullptr) << c.action;
      EXPECT_STREQ(name, c.name) << c.action;
    }
  }
}

TEST(CallerAction, LoggedFromTheSessionRecordOrAsNull) {
  RunIsolated([] {
    EnableTrace();
    char write_letter[] = "W";
    char lower_letter[] = "w";
    DB2_info with_action{};
    with_action.action = write_letter;
    DB2_info with_lower{};
    with_lower.action = lower_letter;
    DB2_info without_action{};
    Init_input full{};
    full.DB2_session = &with_action;
    Init_input lower{};
    lower.DB2_session = &with_lower;
    Init_input null_action{};
    null_action.DB2_session = &without_action;
    Init_input no_session{};

    for (const Init_input* in : std::initializer_list<const Init_input*>{&full, &lower, &null_action, &no_session, nullptr}) {
      LogCallerAction("sqluvint()", in);
    }
    EXPECT_EQ(TraceLines(), (Lines{
                                "sqluvint(): ...opType: SQLUV_WRITE",
                                "sqluvint(): ...opType: (null)",
                                "sqluvint(): ...opType: (null)",
                                "sqluvint(): ...opType: (null)",
                                "sqluvint(): ...opType: (null)",
                            }));
  });
}

TEST(RegistryRoot, SettledOnceFromXjregOrTheDefault) {
  struct Case {
    const char* name;
    const char* xjreg;  // null: unset
    const char* expected;
  };
  const Case cases[] = {
      {"unset", nullptr, "/etc/TornevaleRegistry"},
      {"empty", "", "/etc/TornevaleRegistry"},
      {"set", "/opt/reg", "/opt/reg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      EnableTrace();
      if (c.xjreg == nullptr) {
        unsetenv("XJREG");
      } else {
        setenv("XJREG", c.xjreg, 1);
      }
      SettleRegistryRoot("sqluvdel()");
      ASSERT_NE(xjReg.load(), nullptr);
      EXPECT_STREQ(xjReg.load(), c.expected);

      // Later changes of XJREG no longer matter; every call logs the root.
      setenv("XJREG", "/elsewhere", 1);
      SettleRegistryRoot("sqluvint()");
      EXPECT_STREQ(xjReg.load(), c.expected);
      const std::string root = c.expected;
      EXPECT_EQ(TraceLines(), (Lines{"sqluvdel(): -----------XJREG= [" + root + "]",
                                     "sqluvint(): -----------XJREG= [" + root + "]"}));
    });
  }
}

TEST(DebugHold, PassesAtOnceWithoutTheMarker) {
  RunIsolated([] {
    EnableTrace();
    const auto start = std::chrono::steady_clock::now();
    HoldWhileDebugMarker("sqluvint()");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(TraceLines(), Lines{"sqluvint(): -----------Will wait if /tmp/debugDB2 exists --------"});
  });
}

TEST(DebugHold, WaitsWhileTheMarkerExistsAndGoesOnWithin3SecondsOfItsRemoval) {
  RunIsolated([] {
    kelmar::testbed::WriteFile(kelmar::kDebugHoldMarker, "");
    auto held = std::async(std::launch::async, [] { HoldWhileDebugMarker("sqluvdel()"); });
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(3500)), std::future_status::timeout) << "did not hold";

    ASSERT_EQ(unlink(kelmar::kDebugHoldMarker), 0);
    const auto removed = std::chrono::steady_clock::now();
    // One poll interval, plus slack for a loaded machine.
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(4500)), std::future_status::ready);
    held.wait();
    EXPECT_LE(std::chrono::steady_clock::now() - removed, std::chrono::milliseconds(4500));
  });
}

}  // namespace
