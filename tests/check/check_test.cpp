// kelmar-check as operators run it, over installations that each break one step of DB2's first session.
#include <elf.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <map>

#include "backends/test_backend_paths.h"
#include "check/elf_dynamic.h"
#include "check/library_file.h"
#include "check/report_output.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::check;
using namespace kelmar::testbed;
namespace tb = kelmar::test_backend;

constexpr auto npos = std::string::npos;
const std::string kHomeDir = "/tmp/vorlan";
const std::string kBase = kHomeDir + "/Base";
const std::string kBackend = kBase + "/libXjKelmar.so";
const std::string kInstanceDir = "/tmp/reg/Vorlan/Instance001";
const std::string kProperties = kInstanceDir + "/Base/.properties";
const std::string kTripwire = KELMAR_CHECK_TRIPWIRE_BACKEND;  // a working backend whose calls end the process
const std::string kBeside = std::filesystem::path(tb::kBesideLibrary).filename();
const std::string kLibraryPath = "/tmp/llp";
const std::string kOpen = "/tmp/open";  // a directory every user may write, without the sticky bit
const std::string kOptLibrary = "/opt/kelmar/lib/libkelmar.so";  // what --library names unless told otherwise
// Files of the build tree are judged in /tmp, where root owns the way to them whoever owns the checkout.
const std::string kLibraryInLib = "/tmp/lib/libkelmar.so";
const std::string kOlderLibrary = "/tmp/libkelmar-0.9.so";
const std::string kTraceFile = kelmar::kTraceLogPath;  // root's, a file every user may read, in every row

const Names kStepOrder = {"registry",    "instance",         "properties", "home",        "backend",
                          "permissions", "needed_libraries", "load",       "entry_points"};
const std::string kWorks = "ok, DB2 would get a working backend (exit status 0)\n";
const std::string kPermissionsPassed =
    "\npermissions       ok       root alone can change " + kBackend + " and every directory on the way to it\n";
const std::string kInBase = kBase + "/" + kBeside + R"(","found_by":"the backend's )";

void Chown(const std::string& path, uid_t uid, gid_t gid) { ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path; }
void CopyInto(const std::string& copy, const std::string& original, mode_t mode = 0755) {
  MakeDirs(std::filesystem::path(copy).parent_path());
  WriteFile(copy, ReadFile(original), mode);
}
void Properties(const std::string& text) { Installation().Instance(kInstance, Agent::kAbsent).Properties(text); }
void SecondInstance() { Installation().Instance("Instance002").Home("/tmp/other").Backend(kTripwire); }

enum LibraryPath { kEmpty, kHoldsIt, kHolds32BitCopy };
void Beside(LibraryPath holds) {
  std::string library = ReadFile(tb::kBesideLibrary);
  WriteFile(kBase + "/" + kBeside, library);
  MakeDirs(kLibraryPath);
  setenv("LD_LIBRARY_PATH", kLibraryPath.c_str(), 1);
  if (holds == kEmpty) return;
  if (holds == kHolds32BitCopy) library[EI_CLASS] = ELFCLASS32;
  WriteFile(kLibraryPath + "/" + kBeside, library);
}

// A copy of the built libkelmar.so whose version note, the first place the version is written, says 0.9.
void OlderLibrary() {
  const std::string version = KELMAR_VERSION;
  const std::string older = "0.9";
  std::string library = ReadFile(KELMAR_SHARED_LIBRARY);
  library.replace(library.find(version), version.size(), older + std::string(version.size() - older.size(), '\0'));
  WriteFile(kOlderLibrary, library);
}

void HomeMovedBehindALink() {
  MakeDirs(kOpen);
  std::filesystem::rename(kHomeDir, kOpen + "/vorlan");
  std::filesystem::create_symlink(kOpen + "/vorlan", kHomeDir);
}

void TraceNameAnotherUsersLink() {
  std::filesystem::rename(kTraceFile, "/tmp/victim");
  std::filesystem::create_symlink("/tmp/victim", kTraceFile);
  Chown(kTraceFile, kSecondOtherUid, kSecondOtherUid);
}

constexpr int kRefused = 2;  // kelmar-check's exit status for a command line it refuses
enum class Users { kRootAlone, kOthersToo };  // whether the row needs users besides root

// Instance001 with `backend` in /tmp/vorlan/Base, the first with a Db2Agent, broken as `arrange` says.
struct CheckRow {
  const char* name;
  std::string backend = kTripwire;
  std::function<void()> arrange = [] {};
  std::map<std::string, mode_t> modes = {};  // given once `arrange` has run
  Names args = {};
  Users users = Users::kRootAlone;
  int status = 0;                      // kelmar-check's exit status
  std::string step = {}, reason = {};  // the verdict's: the step that failed, and why
  Names plain = {}, json = {};         // more of the plain report (or of its errors) and of the JSON one
};
void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }  // stable test names, not the row's bytes

class Check : public ::testing::TestWithParam<CheckRow> {};

TEST_P(Check, NamesTheCauseWithItsStepInTextJsonAndExitStatus) {
  const CheckRow& row = GetParam();
  if (row.users == Users::kOthersToo && !CanUseOtherUsers()) GTEST_SKIP() << kNeedsUsers;
  const std::string code = std::to_string(row.status);
  RunIsolated([&] {
    ASSERT_EQ(mount("tmpfs", "/opt", "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno);  // no installed copy
    Installation().Instance(kInstance).Home(kHomeDir).Backend(row.backend).Selected().TraceOn();
    unsetenv("VORLAN_INST");  // kelmar-check takes the first instance with a Db2Agent
    row.arrange();
    for (const auto& [path, mode] : row.modes) {
      ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
    }
    Names command = row.args;
    command.insert(command.begin(), KELMAR_CHECK_PROGRAM);
    const ProgramRun plain = RunProgram(command);
    command.push_back("--json");
    const ProgramRun json = RunProgram(command);
    EXPECT_EQ(plain.status, row.status) << plain.out << plain.err;
    EXPECT_EQ((plain.out + json.out).find_first_of("\x1b\r\x7f"), npos) << "raw control characters";
    EXPECT_EQ(TraceLines().empty(), std::ranges::count(row.args, "--trace") == 0);
    for (const std::string& fragment : row.plain) {
      EXPECT_NE((plain.out + plain.err).find(fragment), npos) << fragment;
    }
    for (const std::string& fragment : row.json) {
      EXPECT_NE(json.out.find(fragment), npos) << fragment;
    }
    if (row.status == kRefused) return;  // before the first step
    // The steps before the failed one passed, the rest were skipped; but a library missing does not stop the load.
    std::string outcome = "ok";
    for (const std::string& step : kStepOrder) {
      if (step == row.step) outcome = "failed";
      EXPECT_NE(json.out.find(R"("step":")" + step + R"(","status":")" + outcome + "\""), npos) << step << outcome;
      if (outcome == "failed" && step == "needed_libraries") break;
      if (outcome == "failed") outcome = "skipped";
    }
    const std::string failed = "FAILED at " + row.step + " (exit status " + code + "): " + row.reason;
    EXPECT_NE(plain.out.find("\nresult: " + (row.step.empty() ? kWorks : failed)), npos) << plain.out;
    const std::string failed_verdict = R"({"ok":false,"exit_status":)" + code + R"(,"failed_step":")" + row.step + "\"";
    const std::string verdict = row.step.empty() ? R"({"ok":true,"exit_status":0,"failed_step":null)" : failed_verdict;
    EXPECT_EQ(json.out.substr(0, verdict.size()), verdict);
  });
}

const CheckRow kRows[] = {
    {.name = "RegistryPathShownWithoutItsControlCharacters",
     .arrange = [] { setenv("XJREG", "/tmp/\x1b[2J\xc2\x9b\xff\x7f\\reg", 1); }, .status = 3, .step = "registry",
     .reason = "no registry: /tmp/\\x1b[2J\\xc2\\x9b\\xff\\x7f\\\\reg/Vorlan: No such file or directory",
     .json = {R"("root":"/tmp/\u001b[2J\u009b\ufffd\u007f\\reg")"}},
    {.name = "NoInstanceHasADb2Agent", .arrange = [] { std::filesystem::remove(kInstanceDir + "/Db2Agent"); },
     .status = 4, .step = "instance", .reason = "no instance: DB2 passes no options and VORLAN_INST is not set, "
                                                "and no instance under /tmp/reg/Vorlan has a Db2Agent"},
    {.name = "NoProperties", .arrange = [] { std::filesystem::remove(kProperties); }, .status = 5, .step = "properties",
     .reason = "cannot open " + kProperties + ": No such file or directory"},
    {.name = "FirstHomeLineWithoutAValue",
     .arrange = [] { Properties("dVORLANHOMEDIR /h\ndVORLANHOME\ndVORLANHOME /tmp/vorlan\n"); }, .status = 6,
     .step = "home", .reason = "no \"dVORLANHOME\" line with a value in " + kProperties +
                               ": the first such line has none, and the library reads no further"},
    {.name = "HomeWithADosLineEnd", .arrange = [] { Properties("dVORLANHOME /tmp/vorlan\r\n"); }, .status = 7,
     .step = "backend",
     .reason = R"(/tmp/vorlan\r/Base/libXjKelmar.so: No such file or directory (the home directory /tmp/vorlan\r does)",
     .plain = {"note: dVORLANHOME in " + kProperties + ": the value ends with a carriage return: the file has DOS "
               "line ends"}},
    {.name = "BackendNotExecutable", .modes = {{kBackend, 0644}}, .status = 7, .step = "backend",
     .reason = kBackend + " is not executable for this user (mode 0644"},
    {.name = "BackendLacksAnEntryPoint", .backend = tb::kWithoutEntry.front(), .status = 10, .step = "entry_points",
     .reason = "missing: sqluvintpp", .json = {R"({"name":"sqluvintpp","found":false})"}},
    {.name = "LibraryBesideTheBackendOutOfItsReach", .backend = tb::kNeedsBeside, .arrange = [] { Beside(kEmpty); },
     .status = 8, .step = "needed_libraries", .reason = "not found: " + kBeside,
     .json = {R"("found":false,"reason":"cannot open shared object file: No such file or directory (it is in )" +
              kBase + ", but no search path leads there"}},
    {.name = "HomeLineWithMoreAfterTheValue", .arrange = [] { Properties("dVORLANHOME /tmp/vorlan old\n"); },
     .plain = {"the library takes only \"/tmp/vorlan\" and ignores the rest of the line, \" old\"", kPermissionsPassed},
     .json = {R"("root":"/tmp/reg","source":"XJREG")", R"("mode":"RTLD_NOW","working_directory":"/tmp/vorlan)",
              R"("name":"Instance001","source":"first_instance_scan","VORLAN_VM":"Instance001")", R"(all 6 found")",
              R"("path":"/tmp/vorlan/Base/libXjKelmar.so","base_directory":"/tmp/vorlan)"}},
    {.name = "InstanceFromTheOptionsText", .arrange = SecondInstance,
     .args = {"--options", "Other=1,XjInstanceName=Instance002"},
     .json = {R"("name":"Instance002","source":"options_text")", R"("home":"/tmp/other)"}},
    {.name = "InstanceGivenTwice", .args = {"--options", "XjInstanceName=a", "--record", "vmName=a"},
     .status = kRefused, .plain = {"either as --options or as --record"}},
    {.name = "NeededFoundByLdLibraryPathFirst", .backend = tb::kNeedsBesideWithOrigin,
     .arrange = [] { Beside(kHoldsIt); }, .json = {"/tmp/llp/" + kBeside + R"(","found_by":"LD_LIBRARY_PATH")"}},
    {.name = "NeededFoundByRpathBeforeLdLibraryPath", .backend = KELMAR_CHECK_RPATH_BACKEND,
     .arrange = [] { Beside(kHoldsIt); }, .json = {kInBase + "DT_RPATH\""}},
    {.name = "NeededFoundByRunpathPastA32BitCopy", .backend = tb::kNeedsBesideWithOrigin,
     .arrange = [] { Beside(kHolds32BitCopy); }, .json = {kInBase + "DT_RUNPATH\""}},
    {.name = "LibraryOfAnOlderVersion", .arrange = OlderLibrary, .args = {"--library", kOlderLibrary},
     .plain = {"\n  warning: it is version 0.9, kelmar-check " KELMAR_VERSION
               ": kelmar-check runs its own copy of the library's code"},
     .json = {R"("library":{"path":")" + kOlderLibrary + R"(","version":"0.9","build_id":")"}},
    {.name = "LibraryMissing", .args = {"--library", "/tmp/none.so", "--trace"},
     .plain = {"\nlibrary: /tmp/none.so: cannot open it: No such file or directory\n"},
     .json = {R"("error":"cannot open it: No such file or directory","warnings":[],"findings":[]})"}},
    {.name = "TraceNameAnotherUsersLink", .arrange = TraceNameAnotherUsersLink, .users = Users::kOthersToo,
     .plain = {"\n  /tmp/libkelmar.log: trace, IGNORED; symbolic link to /tmp/victim, owner "},
     .json = {R"({"path":"/tmp/libkelmar.log","role":"trace","honoured":false,"type":"symbolic link to /tmp/victim")"}},
    {.name = "RootsTraceAndDebugHoldMarker", .arrange = [] { Installation().Marker("/tmp/debugDB2"); },
     .plain = {"\n    warning: readable by every local user, and it records option fields such as jmToken and serverId",
               "\n    warning: every sqluvint and sqluvdel waits while this file exists\n"},
     .json = {R"({"path":"/tmp/debugDB2","role":"debug_hold","honoured":true,"type":"regular file","owner_uid":0,)"}},
    // Another user's file, or one every user may write, on the way to what DB2 runs fails; a group's is a warning.
    {.name = "SymlinkedHomeLeadingIntoADirectoryEveryUserMayWrite", .arrange = HomeMovedBehindALink,
     .modes = {{kOpen, 0777}}, .status = 11, .step = "permissions",
     .reason = "/tmp/open is writable by every user (mode 0777), on the way through the symbolic link /tmp/vorlan\n"},
    // 65534, the uid a user namespace shows for an owner it does not map: here a real user, which fails.
    {.name = "BackendOfAnotherUser", .arrange = [] { Chown(kBackend, kSecondOtherUid, 0); }, .users = Users::kOthersToo,
     .status = 11, .step = "permissions", .reason = kBackend + " belongs to ",
     .json = {R"json( (uid 65534), not root","fails":true})json"}},
    {.name = "BaseWritableByAGroupOtherThanRoots", .arrange = [] { Chown(kBase, 0, kFirstOtherUid); },
     .modes = {{kBase, 0775}}, .users = Users::kOthersToo,
     .plain = {kPermissionsPassed + "                           warning: " + kBase + " is writable by group "},
     .json = {R"json( (gid 1000) (mode 0775)","fails":false})json"}},
    {.name = "LibraryWritableByEveryUser", .arrange = [] { CopyInto(kLibraryInLib, KELMAR_SHARED_LIBRARY); },
     .modes = {{"/tmp/lib", 0777}}, .args = {"--library", kLibraryInLib}, .status = 12, .step = "library",
     .reason = "/tmp/lib is writable by every user (mode 0777)\n", .plain = {"\nfiles in /tmp, as the library judges"}},
    {.name = "BackendWritableByEveryUserFailsBeforeTheLibrary",
     .arrange = [] { CopyInto(kOptLibrary, KELMAR_SHARED_LIBRARY, 0666); }, .modes = {{kBackend, 0757}},
     .status = 11, .step = "permissions", .reason = kBackend + " is writable by every user (mode 0757)\n",
     .plain = {"\n  FAILED: " + kOptLibrary + " is writable by every user (mode 0666)\n"},
     .json = {R"({"path":")" + kBackend + R"json(","reason":"is writable by every user (mode 0757)","fails":true})json",
              R"({"step":"needed_libraries","status":"skipped","summary":"not checked: permissions failed",)"}},
};
INSTANTIATE_TEST_SUITE_P(Verdicts, Check, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });

TEST(ElfReaders, CutObjectsGiveAnErrorOrTheWholeAnswer) {
  constexpr std::size_t kEveryLengthBelow = 128;  // where the headers are; past them, lengths a stride apart
  constexpr std::size_t kStride = 257;
  const std::string kCut = "/tmp/libkelmar.so";
  RunIsolated([&] {
    const std::string library = ReadFile(KELMAR_SHARED_LIBRARY);
    std::string error;
    const std::optional<ElfDynamic> whole_dynamic = ReadElfDynamic(KELMAR_SHARED_LIBRARY, error);
    ASSERT_TRUE(whole_dynamic.has_value()) << error;
    const LibraryFile whole = ExamineLibrary(KELMAR_SHARED_LIBRARY);
    EXPECT_EQ(whole.version, KELMAR_VERSION) << whole.error;
    for (std::size_t length = 0; length < library.size(); length += length < kEveryLengthBelow ? 1 : kStride) {
      SCOPED_TRACE(length);
      WriteFile(kCut, library.substr(0, length));
      const std::optional<ElfDynamic> cut_dynamic = ReadElfDynamic(kCut, error);
      const LibraryFile cut = ExamineLibrary(kCut);
      EXPECT_EQ(cut_dynamic.value_or(*whole_dynamic).needed, whole_dynamic->needed);
      EXPECT_EQ(cut.error.empty() ? cut.version : whole.version, whole.version);
      EXPECT_EQ(cut.error.empty() ? cut.build_id : whole.build_id, whole.build_id);
    }
  });
}

TEST(JsonText, EscapesWhatJsonMustAndReplacesWhatIsNotUtf8) {
  EXPECT_EQ(JsonString("\"\\\n\t\x01 Zürich €"), R"("\"\\\u000a\u0009\u0001 Zürich €")");
  // Not UTF-8, an overlong form, a surrogate, a cut sequence.
  EXPECT_EQ(JsonString("\xff" "a\xc0\xaf\xed\xa0\x80\xc3"), R"("\ufffda\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd")");
}

}  // namespace
