#include <dlfcn.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <future>
#include <map>

#include "backends/backend_probe.h"
#include "backends/test_backend_paths.h"
#include "discovery/registry_root.h"
#include "front/session_prep.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

const std::string kEntered = "-----------Entered--------";
const std::string kReadAction = "...opType: SQLUV_READ";
const std::string kHoldCheck = "-----------Will wait if /tmp/debugDB2 exists --------";
const std::string kXjreg = "-----------XJREG= [/tmp/reg]";
const std::string kKeepLoaded =
    "------/tmp/debugDB2_nounload exists, not going to unload libXjKelmar.so if it has been loaded --------";
const std::string kReturning0 = "-----------Leaving, returning 0--------";
constexpr sqlint32 kUntouched = 1234;  // a Return_code no call may write
constexpr std::size_t kOnce = 1;

struct Exchange { sqlint32 result; tb::Call forwarded; };

// Calls the exported function of `entry` in `session` as DB2 would; `action` goes to sqluvend only.
Exchange CallExported(tb::Entry entry, Db2Session& session, sqlint32 action) {
  static Data data;
  static db2VendorQueryInfo query;
  Init_input* const in = &session.in;
  Init_output* const out = &session.out;
  Return_code* const rc = &session.rc;
  void* const vendor_cb = out->pVendorCB;
  switch (entry) {
    case tb::kInit: return {sqluvint(in, out, rc), {entry, 0, {in, out, rc}}};
    case tb::kGet: return {sqluvget(vendor_cb, &data, rc), {entry, 0, {vendor_cb, &data, rc}}};
    case tb::kPut: return {sqluvput(vendor_cb, &data, rc), {entry, 0, {vendor_cb, &data, rc}}};
    case tb::kEnd: return {sqluvend(action, vendor_cb, out, rc), {entry, action, {vendor_cb, out, rc}}};
    case tb::kDel: return {sqluvdel(in, out, rc), {entry, 0, {in, out, rc}}};
    default: return {db2VendorGetNextObj(vendor_cb, &query, rc), {entry, 0, {vendor_cb, &query, rc}}};
  }
}

Lines Tagged(const std::string& tag, Lines lines) {
  std::ranges::for_each(lines, [&](std::string& line) { line = TraceTag(tag)(line); });
  return lines;
}

// A call of the exported `name` that reaches the backend: its lines before and after the two that show the entry.
struct Forwarded {
  tb::Entry entry;
  std::string name;
  Lines before = {kEntered};
  Lines after = {};

  Lines Trace(const std::string& leaving) const {
    const std::string pointer = Shown(dlsym(sqluv_handle, (name + "pp").c_str()));
    const Lines backend = {"sqluv_handle is:" + Shown(sqluv_handle) + ", f_" + name + " is " + pointer,
                           "Calling " + name + "pp()"};
    return Tagged(name + "()", before + backend + after + Lines{leaving});
  }
};

TEST(VendorApi, CallsReachTheBackendWithArgumentsAndResultsUnchanged) {
  InSession(tb::kComplete, [](const std::string&) {
    // A keep-loaded marker that cannot be deleted: it spares every check of the unload marker, and shows one.
    MakeDirs(std::string(kelmar::kKeepLoadedMarker) + "/busy");
    WriteFile(kelmar::kUnloadMarker, "");
    Db2Session session(Db2Session::kRead);
    // Before any load, the calls that never load refuse without a look at the markers; the version query logs nothing.
    const Lines refused = {kEntered, "sqluv_handle or function pointer is NULL, returning error.",
                           "-----------Leaving, returning -1--------"};
    EnableTrace();
    EXPECT_EQ(CallExported(tb::kEnd, session, SQLUV_COMMIT).result, -1);
    EXPECT_EQ(CallExported(tb::kGet, session, SQLUV_COMMIT).result, -1);
    sqluint32 version = 0;
    db2VendorQueryApiVersion(&version);
    db2VendorQueryApiVersion(nullptr);
    EXPECT_EQ(version, 8020000u);
    EXPECT_TRUE(TraceIs(Tagged("sqluvend()", refused) + Tagged("sqluvget()", refused)));

    EnableTrace();
    ASSERT_EQ(session.Start(), SQLUV_OK);
    const Forwarded forwarded[] = {
        {.entry = tb::kInit, .name = "sqluvint", .before = {kEntered, kReadAction, kHoldCheck, kXjreg, kKeepLoaded}},
        {.entry = tb::kGet, .name = "sqluvget"},
        {.entry = tb::kPut, .name = "sqluvput"},
        {.entry = tb::kEnd, .name = "sqluvend", .after = {kKeepLoaded}},
        {.entry = tb::kDel, .name = "sqluvdel", .before = {kHoldCheck, kEntered, kReadAction, kXjreg}},
        {.entry = tb::kGetNextObj, .name = "db2VendorGetNextObj"},
    };
    EXPECT_TRUE(SameLines(LinesTagged("sqluvint()"), forwarded[tb::kInit].Trace(kReturning0)));

    // Later calls, sqluvint too, go to the backend already loaded; the extremes show that nothing narrows.
    constexpr sqlint32 kResult = INT_MIN;
    constexpr sqlint32 kAction = INT_MAX;
    session.out.pVendorCB = &session;
    for (const Forwarded& call : forwarded) {
      SCOPED_TRACE(call.name);
      tb::SetResult(call.entry, kResult);
      const std::vector<tb::Call> received_before = tb::ReceivedCalls();
      EnableTrace();
      session.rc.return_code = kUntouched;
      const Exchange exchange = CallExported(call.entry, session, kAction);
      EXPECT_EQ(exchange.result, kResult);
      EXPECT_EQ(session.rc.return_code, kUntouched);
      EXPECT_TRUE(TraceIs(call.Trace("-----------Leaving, returning -2147483648--------")));
      EXPECT_EQ(tb::ReceivedCalls(), received_before + std::vector{exchange.forwarded});
    }
  });
}

// A directory `length` characters long, whose names are short enough to be made.
std::string LongDirectory(std::size_t length) {
  constexpr std::size_t kNameLength = 200;
  std::string path = "/tmp/h";
  while (path.size() < length) {
    path += path.size() % kNameLength == 0 ? '/' : 'd';
  }
  MakeDirs(path);
  return path;
}

const std::string kLoadTag = "initializeFptrs()";
const TraceTag kLoad(kLoadTag);
const std::string kBase = "/tmp/home/Base";
const std::string kLibrary = kBase + "/libXjKelmar.so";
const Lines kLoadFailed = {kLoad(kReturning0), "sqluvint(): initializeFptrs() failed, returning error.",
                           "sqluvint(): -----------Leaving, returning -1--------"};
const std::string kNoBaseDir = kLoad("GetVorlanBaseDir failed, returning error.");
// A base directory that getcwd cannot give back, and one that leaves no room for the backend's file name.
constexpr std::size_t kUnreadableLength = 1100;
constexpr std::size_t kCutOffLength = 1004;

Lines DlopenFailed(const std::string& error, const std::string& pwd) {
  const std::string failed = "\", error = \"" + kLibrary + ": " + error + "\", pwd=\"" + pwd + "\"";
  return {kLoad("dlopen failed when loading \"" + kLibrary + failed), kLoad("After dlopen: sqluv_handle is:(nil)")};
}

struct FailedLoad { std::string name; std::function<void()> arrange; Lines last_lines; std::string shown_dir = kBase; };

TEST(Loader, EveryFailedLoadFailsTheCallLeavesNothingAndTheNextCallLoadsAfresh) {
  const FailedLoad cases[] = {
      {.name = "no base directory", .arrange = [] { Installation().Exported(); }, .last_lines = {kNoBaseDir}},
      {.name = "not a library, in a directory too long to read back",
       .arrange = [] {
         std::filesystem::create_directory_symlink(LongDirectory(kUnreadableLength), kHome);
         InstallBackend("");
       },
       .last_lines = DlopenFailed("file too short", "(unknown)"), .shown_dir = "(unknown)"},
      {.name = "unresolved symbol", .arrange = [] { InstallBackend(tb::kUnresolved); },
       .last_lines = DlopenFailed("undefined symbol: kelmar_test_function_nowhere", kBase)},
      {.name = "base directory too long for the file name",
       .arrange = [] {
         // Cut, the path would name another file: that file is never loaded.
         const std::string base = InstallBackend(tb::kComplete, LongDirectory(kCutOffLength));
         std::filesystem::copy_file(tb::kComplete, base + "/libXjKelmar.s");
       },
       .last_lines = {kNoBaseDir}},
      {.name = "without the last entry", .arrange = [] { InstallBackend(tb::kWithoutEntry[tb::kGetNextObj]); },
       .last_lines = {kLoad("Entry point db2VendorGetNextObjpp not found, unloading.")}},
  };
  for (const FailedLoad& failed : cases) {
    SCOPED_TRACE(failed.name);
    RunIsolated([&] {
      // The entry names in the global scope: a failed load must not take the entry points from the process.
      EXPECT_NE(dlopen(tb::kComplete, RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
      EnableTrace();
      setenv("VORLAN_INST", kInstance, 1);
      failed.arrange();
      Db2Session session;
      session.info.action = nullptr;
      EXPECT_EQ(session.Start(), -1);
      EXPECT_TRUE(TraceEndsWith(failed.last_lines + kLoadFailed));
      EXPECT_TRUE(tb::TableEmpty());
      EXPECT_EQ(dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
      EXPECT_EQ(sqluvint(nullptr, &session.out, nullptr), -1) << "a null Return_code is never written";
      Init_input without_session{};
      session.rc.return_code = kUntouched;
      EXPECT_EQ(sqluvdel(&without_session, &session.out, &session.rc), -1);
      EXPECT_EQ(session.rc.return_code, kUntouched);
      // No action, no input, no session record: no action name, and no crash; every call tries to load.
      constexpr std::size_t kStartsWithoutAction = 2;
      constexpr std::size_t kLoadsTried = 3;
      EXPECT_EQ(TimesLogged("sqluvint(): ...opType: (null)"), kStartsWithoutAction);
      EXPECT_EQ(TimesLogged(kLoad(kEntered)), kLoadsTried);
      InstallBackend(tb::kComplete);
      EnableTrace();
      EXPECT_EQ(session.Start(), SQLUV_OK);
      const std::string loaded = "\", loaded: \"" + kLibrary + "\"";
      const Lines good_load = {kEntered, "sqluv_handle is:(nil)", "GetVorlanBaseDir succeeded.",
                               "Changing to base dir: \"" + kBase + "\".",
                               "Library to be loaded: \"" + kLibrary + "\".",
                               "dlopen succeeded. Current dir: \"" + failed.shown_dir + loaded,
                               "After dlopen: sqluv_handle is:" + Shown(sqluv_handle),
                               "-----------Leaving, returning 1--------"};
      EXPECT_TRUE(SameLines(LinesTagged(kLoadTag), Tagged(kLoadTag, good_load)));
    });
  }
}

TEST(UnloadMarkers, KeepLoadedMarkerSparesOneCheckThenSessionStartUnloadsFirst) {
  InSession(tb::kComplete, [](const std::string&) {
    Db2Session session;
    ASSERT_EQ(session.Start(), SQLUV_OK);
    ASSERT_EQ(session.End(), SQLUV_OK);
    void* const handle = sqluv_handle;
    WriteFile(kelmar::kUnloadMarker, "");
    WriteFile(kelmar::kKeepLoadedMarker, "");
    EXPECT_EQ(session.Start(), SQLUV_OK);
    EXPECT_NE(access(kelmar::kKeepLoadedMarker, F_OK), 0) << "the check deletes the keep-loaded marker";
    WriteFile(kelmar::kKeepLoadedMarker, "");
    ASSERT_EQ(session.End(), SQLUV_OK);
    EnableTrace();
    EXPECT_EQ(session.Start(), SQLUV_OK);
    EXPECT_EQ(TimesLogged("unInitializeFptrs(): sqluv_handle is:" + Shown(handle)), kOnce);
  });
}

TEST(SessionPrep, OpTypeNamesTheNineActionsByTheFirstCharacterAndNothingElse) {
  const std::map<char, const char*> names = {
      {'W', "SQLUV_WRITE"},         {'R', "SQLUV_READ"},         {'A', "SQLUV_ARCHIVE"},
      {'T', "SQLUV_RETRIEVE"},      {'I', "SQLUV_QUERY_IMAGES"}, {'L', "SQLUV_QUERY_LOGS"},
      {'M', "SQLUV_DELETE_IMAGES"}, {'O', "SQLUV_DELETE_LOGS"},  {'B', "SQLUV_DELETE_ALL"},
  };
  for (int code = CHAR_MIN; code <= CHAR_MAX; ++code) {
    SCOPED_TRACE(code);
    const char action[] = {static_cast<char>(code), 'W', '\0'};
    const auto named = names.find(action[0]);
    EXPECT_STREQ(opType(action), named == names.end() ? nullptr : named->second);
  }
  EXPECT_EQ(opType(nullptr), nullptr);
}

// The first call settles it for the process: a later change of XJREG is not seen.
TEST(SessionPrep, RegistryRootIsSettledOnceFromXjregOrTheDefault) {
  RunIsolated([] {
    EnableTrace();
    unsetenv("XJREG");
    SettleRegistryRoot("sqluvdel()");
    setenv("XJREG", kRegistryRoot, 1);
    SettleRegistryRoot("sqluvint()");
    const std::string kDefaultRootLine = "-----------XJREG= [/etc/TornevaleRegistry]";
    EXPECT_TRUE(TraceIs({TraceTag("sqluvdel()")(kDefaultRootLine), TraceTag("sqluvint()")(kDefaultRootLine)}));
  });
}

TEST(SessionPrep, DebugHoldGoesOnWithin3SecondsOfTheMarkersRemoval) {
  RunIsolated([] {
    constexpr auto kLongerThanAPoll = std::chrono::milliseconds(3500);
    constexpr auto kOnePollAndSlack = std::chrono::milliseconds(4500);  // for a loaded machine
    WriteFile(kelmar::kDebugHoldMarker, "");
    auto held = std::async(std::launch::async, [] { HoldWhileDebugMarker("sqluvdel()"); });
    EXPECT_EQ(held.wait_for(kLongerThanAPoll), std::future_status::timeout) << "did not hold";
    ASSERT_EQ(unlink(kelmar::kDebugHoldMarker), 0);
    EXPECT_EQ(held.wait_for(kOnePollAndSlack), std::future_status::ready);
  });
}

}  // namespace
