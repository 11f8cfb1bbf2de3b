// The library driven as DB2 drives it against the test backends: calls, trace, failed loads, markers, preparation.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <future>
#include <map>
#include <regex>

#include "backends/backend_probe.h"
#include "backends/test_backend_paths.h"
#include "discovery/registry_root.h"
#include "front/session_prep.h"
#include "kelmar/backend.h"
#include "log/switch_files.h"
#include "testbed/db2_session.h"

namespace {

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

const std::array<std::string, 6> kTags = {"sqluvint()", "sqluvget()", "sqluvput()",
                                          "sqluvend()", "sqluvdel()", "db2VendorGetNextObj()"};
const std::string kKeepLoaded =
    "------/tmp/debugDB2_nounload exists, not going to unload libXjKelmar.so if it has been loaded --------";
const std::string kEntered = "-----------Entered--------";

// Calls the exported function of `entry` as DB2 would; `sent` gets the call the backend should receive.
sqlint32 CallExported(tb::Entry entry, Db2Session& s, sqlint32 action, tb::Call& sent) {
  static Data data;
  static db2VendorQueryInfo query;
  void* const cb = s.out.pVendorCB;
  switch (entry) {
    case tb::kInit: sent = {entry, 0, {&s.in, &s.out, &s.rc}}; return sqluvint(&s.in, &s.out, &s.rc);
    case tb::kGet: sent = {entry, 0, {cb, &data, &s.rc}}; return sqluvget(cb, &data, &s.rc);
    case tb::kPut: sent = {entry, 0, {cb, &data, &s.rc}}; return sqluvput(cb, &data, &s.rc);
    case tb::kEnd: sent = {entry, action, {cb, &s.out, &s.rc}}; return sqluvend(action, cb, &s.out, &s.rc);
    case tb::kDel: sent = {entry, 0, {&s.in, &s.out, &s.rc}}; return sqluvdel(&s.in, &s.out, &s.rc);
    default: sent = {entry, 0, {cb, &query, &s.rc}}; return db2VendorGetNextObj(cb, &query, &s.rc);
  }
}

// A call's whole trace in a READ session while an undeletable "/tmp/debugDB2_nounload" spares every marker check.
Lines CallLines(tb::Entry entry, sqlint32 result) {
  const std::string t = kTags[entry] + ": ", name = kelmar::kBackendEntryNames[entry];
  const std::string hold = t + "-----------Will wait if /tmp/debugDB2 exists --------", op = "...opType: SQLUV_READ";
  Lines lines = {t + kEntered};
  if (entry == tb::kInit) lines = {t + kEntered, t + op, hold, t + "-----------XJREG= [/tmp/reg]"};
  if (entry == tb::kDel) lines = {hold, t + kEntered, t + op, t + "-----------XJREG= [/tmp/reg]"};
  if (entry == tb::kInit) lines.push_back(t + kKeepLoaded);
  lines.push_back(t + "sqluv_handle is:" + Shown(sqluv_handle) + ", f_" + name.substr(0, name.size() - 2) + " is " +
                  Shown(dlsym(sqluv_handle, name.c_str())));
  lines.push_back(t + "Calling " + name + "()");
  if (entry == tb::kEnd) lines.push_back(t + kKeepLoaded);
  lines.push_back(t + "-----------Leaving, returning " + std::to_string(result) + "--------");
  return lines;
}

const std::string kFailed = "-----------Leaving, returning 0--------";

// The loader's lines without their tag; a handle from dlopen shows as "<p>".
Lines LoaderLines() {
  Lines lines = LinesTagged("initializeFptrs()");
  for (std::string& line : lines) {
    line = std::regex_replace(line.substr(line.find(": ") + 2), std::regex("is:0x[0-9a-f]+$"), "is:<p>");
  }
  return lines;
}

// The loader's lines of a load from `base`, which getcwd shows as `shown` unless that is empty; when `fails`,
// dlopen fails with the text it gives here.
Lines LoadFrom(const std::string& base, bool fails, const Lines& after, std::string shown = "") {
  const std::string path = base + "/libXjKelmar.so";
  shown = shown.empty() ? base : shown;
  Lines lines = {kEntered, "sqluv_handle is:(nil)", "GetVorlanBaseDir succeeded.",
                 "Changing to base dir: \"" + base + "\".", "Library to be loaded: \"" + path + "\".",
                 "dlopen succeeded. Current dir: \"" + shown + "\", loaded: \"" + path + "\"",
                 "After dlopen: sqluv_handle is:<p>"};
  if (fails) {
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW), nullptr);
    const char* error = dlerror();
    lines[5] = "dlopen failed when loading \"" + path + "\", error = \"" + (error ? error : "") + "\", pwd=\"" + shown +
               "\"";
    lines[6] = "After dlopen: sqluv_handle is:(nil)";
  }
  lines.insert(lines.end(), after.begin(), after.end());
  return lines;
}

TEST(VendorApi, CallsReachTheBackendWithArgumentsAndResultsUnchanged) {
  InSession(tb::kComplete, [](const std::string&) {
    // A keep-loaded marker that cannot be deleted: it spares every check of the unload marker, and shows one.
    MakeDirs(std::string(kelmar::kKeepLoadedMarker) + "/busy");
    WriteFile(kelmar::kUnloadMarker, "");
    Db2Session session('R');
    // Before any load, the calls that never load refuse without a look at the markers.
    for (const tb::Entry entry : {tb::kGet, tb::kPut, tb::kEnd, tb::kGetNextObj}) {
      const std::string t = kTags[entry] + ": ";
      ClearTrace();
      tb::Call sent{};
      EXPECT_EQ(CallExported(entry, session, SQLUV_COMMIT, sent), -1);
      EXPECT_EQ(TraceLines(), (Lines{t + kEntered, t + "sqluv_handle or function pointer is NULL, returning error.",
                                     t + "-----------Leaving, returning -1--------"}));
    }
    sqluint32 version = 0;
    db2VendorQueryApiVersion(&version);
    db2VendorQueryApiVersion(nullptr);
    EXPECT_EQ(version, 8020000u);
    EXPECT_EQ(TraceLines().size(), 3u) << "the version query logs nothing";

    ClearTrace();
    ASSERT_EQ(session.Start(), 0);
    // The first sqluvint loads, after the marker check; discovery's own lines are its tests' business.
    EXPECT_EQ(TraceLines().at(5), "initializeFptrs(): " + kEntered);
    Lines lines = TraceLines();
    std::erase_if(lines, [](const std::string& l) { return l.starts_with("GetVorlan") || l.starts_with("init"); });
    EXPECT_EQ(lines, CallLines(tb::kInit, 0)) << "the first sqluvint";

    // Every later call, sqluvint included, is exactly the call of the loaded backend: no second load.
    session.out.pVendorCB = &session;
    const sqlint32 results[] = {SQLUV_ENDOFMEDIA, INT_MIN, INT_MAX}, actions[] = {SQLUV_ABORT, INT_MAX, INT_MIN};
    std::size_t received = 1;
    for (int e = tb::kInit; e < tb::kEntryCount; ++e) {
      const auto entry = static_cast<tb::Entry>(e);
      for (std::size_t i = 0; i < std::size(results); ++i) {
        SCOPED_TRACE(kTags[e] + " returning " + std::to_string(results[i]));
        tb::SetResult(entry, results[i]);
        ClearTrace();
        session.rc.return_code = 1234;
        tb::Call sent{};
        EXPECT_EQ(CallExported(entry, session, actions[i], sent), results[i]);
        EXPECT_EQ(session.rc.return_code, 1234);
        EXPECT_EQ(TraceLines(), CallLines(entry, results[i]));
        ASSERT_EQ(tb::ReceivedCalls().size(), ++received);
        EXPECT_EQ(tb::ReceivedCalls().back(), sent);
      }
    }
  });
}

std::string LongDirectory(std::size_t length) {
  std::string path = "/tmp/h";  // no name longer than 199 characters
  while (path.size() < length) path += path.size() % 200 == 0 ? '/' : 'd';
  MakeDirs(path);
  return path;
}

TEST(Loader, EveryFailedLoadFailsTheCallLeavesNothingAndTheNextCallLoadsAfresh) {
  const Lines no_base_dir = {kEntered, "sqluv_handle is:(nil)", "GetVorlanBaseDir failed, returning error.", kFailed};
  // The name; lays out the installation and gives the expected lines; how getcwd shows the base, if not as itself.
  struct Case { std::string name; std::function<Lines()> arrange; std::string shown = ""; };
  std::vector<Case> cases = {
      {"no base directory", [&] { RegistryTree(kRegistryRoot).Export(); return no_base_dir; }},
      {"not a library, in a directory too long to read back", [] {
         std::filesystem::create_directory_symlink(LongDirectory(1100), kHome);
         return LoadFrom(InstallBackend(""), true, {kFailed}, "(unknown)");
       }, "(unknown)"},
      {"not a library, in a home named with a control character, shown escaped", [] {
         InstallBackend("", "/tmp/h\x01me");
         const std::string base = "/tmp/h\\x01me/Base", library = base + "/libXjKelmar.so";
         return Lines{kEntered, "sqluv_handle is:(nil)", "GetVorlanBaseDir succeeded.",
                      "Changing to base dir: \"" + base + "\".", "Library to be loaded: \"" + library + "\".",
                      "dlopen failed when loading \"" + library + "\", error = \"" + library +
                          ": file too short\", pwd=\"" + base + "\"", "After dlopen: sqluv_handle is:(nil)", kFailed};
       }},
      {"unresolved symbol, with the entry names in the global scope", [] {
         // A failed load must not take the entry points from the process.
         EXPECT_NE(dlopen(tb::kComplete, RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
         return LoadFrom(InstallBackend(tb::kUnresolved), true, {kFailed});
       }},
      {"base directory too long for the file name", [&] {
         // Cut, the path would name another file: that file is never loaded.
         const std::string base = InstallBackend(tb::kComplete, LongDirectory(1004));
         std::filesystem::copy_file(tb::kComplete, base + "/libXjKelmar.s");
         return no_base_dir;
       }},
  };
  for (std::size_t missing = 0; missing < tb::kWithoutEntry.size(); ++missing) {
    const std::string entry = kelmar::kBackendEntryNames[missing];
    cases.push_back({"without " + entry, [=] {
                       return LoadFrom(InstallBackend(tb::kWithoutEntry[missing]), false,
                                       {"Entry point " + entry + " not found, unloading.", kFailed});
                     }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      EnableTrace();
      setenv("VORLAN_INST", kInstance, 1);
      const Lines expected = c.arrange();
      Db2Session session;
      session.info.action = nullptr;
      EXPECT_EQ(session.Start(), -1);
      EXPECT_EQ(LoaderLines(), expected);
      EXPECT_TRUE(tb::TableEmpty());
      EXPECT_EQ(dlopen((std::string(kHome) + "/Base/libXjKelmar.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
      EXPECT_EQ(sqluvint(nullptr, &session.out, nullptr), -1) << "a null Return_code is never written";
      Init_input without_session{};
      session.rc.return_code = 1234;
      EXPECT_EQ(sqluvdel(&without_session, &session.out, &session.rc), -1);
      EXPECT_EQ(session.rc.return_code, 1234);
      // No action, no input, no session record: no action name, and no crash; every call tries to load.
      EXPECT_EQ(TimesLogged("sqluvint(): ...opType: (null)"), 2u);
      EXPECT_EQ(TimesLogged("sqluvdel(): initializeFptrs() failed, returning error."), 1u);
      EXPECT_EQ(TimesLogged("initializeFptrs(): " + kEntered), 3u);
      const std::string base = InstallBackend(tb::kComplete);
      ClearTrace();
      EXPECT_EQ(session.Start(), 0);
      EXPECT_EQ(LoaderLines(), LoadFrom(base, false, {"-----------Leaving, returning 1--------"}, c.shown));
    });
  }
}

TEST(UnloadMarkers, KeepLoadedMarkerSparesOneCheckThenTheUnloadMarkerUnloads) {
  InSession(tb::kComplete, [](const std::string& base) {
    Db2Session first('R'), second('R'), third('R');
    ASSERT_EQ(first.Start(), 0);
    ASSERT_EQ(first.End(), 0);
    WriteFile(kelmar::kUnloadMarker, "");
    void* const handle = sqluv_handle;
    for (const bool start : {true, false}) {  // a check by sqluvint, then one by sqluvend
      WriteFile(kelmar::kKeepLoadedMarker, "");
      ClearTrace();
      EXPECT_EQ(start ? second.Start() : second.End(), 0);
      EXPECT_EQ(TimesLogged((start ? "sqluvint(): " : "sqluvend(): ") + kKeepLoaded), 1u);
      EXPECT_NE(access(kelmar::kKeepLoadedMarker, F_OK), 0) << "the check deletes the keep-loaded marker";
      EXPECT_EQ(sqluv_handle, handle) << "spared";
    }
    // Unspared, sqluvint unloads before it loads afresh, and sqluvend unloads.
    ClearTrace();
    EXPECT_EQ(third.Start(), 0);
    EXPECT_EQ(TimesLogged("unInitializeFptrs(): sqluv_handle is:" + Shown(handle)), 1u);
    EXPECT_EQ(third.End(), 0);
    EXPECT_EQ(dlopen((base + "/libXjKelmar.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped";
  });
}

TEST(SessionPrep, OpTypeNamesTheNineActionsByTheFirstCharacterAndNothingElse) {
  const std::map<char, std::string> names = {{'W', "SQLUV_WRITE"}, {'R', "SQLUV_READ"}, {'A', "SQLUV_ARCHIVE"},
      {'T', "SQLUV_RETRIEVE"}, {'I', "SQLUV_QUERY_IMAGES"}, {'L', "SQLUV_QUERY_LOGS"}, {'M', "SQLUV_DELETE_IMAGES"},
      {'O', "SQLUV_DELETE_LOGS"}, {'B', "SQLUV_DELETE_ALL"}};
  for (int c = 0; c < 256; ++c) {
    const char action[] = {static_cast<char>(c), 'W', '\0'};
    const char* name = opType(action);
    EXPECT_EQ(name != nullptr ? name : "", names.contains(action[0]) ? names.at(action[0]) : "") << c;
  }
  EXPECT_EQ(opType(nullptr), nullptr);
}

TEST(SessionPrep, RegistryRootIsSettledOnceFromXjregOrTheDefault) {
  RunIsolated([] {
    EnableTrace();
    unsetenv("XJREG");
    SettleRegistryRoot("sqluvdel()");
    setenv("XJREG", "/elsewhere", 1);  // too late: the root stays
    SettleRegistryRoot("sqluvint()");
    EXPECT_EQ(TraceLines(), (Lines{"sqluvdel(): -----------XJREG= [/etc/TornevaleRegistry]",
                                   "sqluvint(): -----------XJREG= [/etc/TornevaleRegistry]"}));
  });
}

TEST(SessionPrep, DebugHoldPassesAtOnceWithoutTheMarkerAndGoesOnWithin3SecondsOfItsRemoval) {
  RunIsolated([] {
    const auto start = std::chrono::steady_clock::now();
    HoldWhileDebugMarker("sqluvint()");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    WriteFile(kelmar::kDebugHoldMarker, "");
    auto held = std::async(std::launch::async, [] { HoldWhileDebugMarker("sqluvdel()"); });
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(3500)), std::future_status::timeout) << "did not hold";
    ASSERT_EQ(unlink(kelmar::kDebugHoldMarker), 0);
    // One poll interval, plus slack for a loaded machine.
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(4500)), std::future_status::ready);
  });
}

}  // namespace
