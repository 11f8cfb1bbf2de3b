// kelmar-check as operators run it, over installations that each break one step of DB2's first session.
#include <elf.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "backends/test_backend_paths.h"
#include "check/elf_dynamic.h"
#include "check/library_file.h"
#include "check/report_output.h"
#include "testbed/testbed.h"
#include "kelmar/backend.h"
#include "version_note.h"

namespace {

using namespace kelmar::check;
using namespace kelmar::testbed;
namespace tb = kelmar::test_backend;

const std::string kBase = "/tmp/vorlan/Base";
const std::string kProperties = "/tmp/reg/Vorlan/Instance001/Base/.properties";
const std::string kBeside = std::filesystem::path(tb::kBesideLibrary).filename();
constexpr auto npos = std::string::npos;

RegistryTree Registry() {
  RegistryTree tree("/tmp/reg");
  tree.Export();
  unsetenv("VORLAN_INST");
  unsetenv("VORLAN_VM");
  return tree;
}

void Install(const std::string& backend) { Registry().Install("Instance001", "/tmp/vorlan", backend); }

void Properties(const std::string& content) {
  Install(KELMAR_CHECK_TRIPWIRE_BACKEND);
  Registry().WriteProperties("Instance001", content);
}

// `backend` with the library it needs in Base, and LD_LIBRARY_PATH holding nothing, that library or a 32-bit copy.
void Beside(const std::string& backend, const std::string& in_library_path) {
  Install(backend);
  std::string library = ReadFile(tb::kBesideLibrary);
  WriteFile(kBase + "/" + kBeside, library);
  MakeDirs("/tmp/llp");
  if (in_library_path == "32-bit") library[EI_CLASS] = ELFCLASS32;
  if (!in_library_path.empty()) WriteFile("/tmp/llp/" + kBeside, library);
  setenv("LD_LIBRARY_PATH", "/tmp/llp", 1);
}

ProgramRun Check(Names args) { args.insert(args.begin(), KELMAR_CHECK_PROGRAM); return RunProgram(args); }

// An empty /opt, so that an installation on this machine stays out of the report.
void PrivateOpt() { ASSERT_EQ(mount("tmpfs", "/opt", "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno); }

// Files of the build tree are judged in /tmp, where root owns the way to them whoever owns the checkout.
const std::string kLibraryCopy = "/tmp/libkelmar.so";
void CopyInto(const std::string& copy, const std::string& original) { WriteFile(copy, ReadFile(original), 0755); }

// A copy of the built libkelmar.so whose version note says 0.9, in the room of the version it has.
const std::string kOlderLibrary = "/tmp/libkelmar-0.9.so";
void OlderLibrary() {
  using namespace std::string_literals;
  const std::string owner = KELMAR_NOTE_OWNER "\0\0"s;  // padded to 4 bytes
  const std::string version = KELMAR_VERSION;
  std::string library = ReadFile(KELMAR_SHARED_LIBRARY);
  const std::size_t at = library.find(owner + version);
  ASSERT_NE(at, npos);
  library.replace(at + owner.size(), version.size(), "0.9"s.append(version.size() - 3, '\0'));
  WriteFile(kOlderLibrary, library);
}

TEST(Check, NamesTheCauseWithItsStepInTextJsonAndExitStatus) {
  // The tripwire backend stands in for a working one: each of its entry points ends the process at once.
  // Fragments of the plain report (on failure the first is the summary after the verdict) and of the JSON one.
  struct Case { std::function<void()> arrange; Names args; int status; Names plain = {}, json = {}; };
  const std::string in_base = kBase + "/" + kBeside + R"(","found_by":"the backend's )";
  const std::string entry = kelmar::kBackendEntryNames[0];
  const std::string ok = "\nresult: ok, DB2 would get a working backend (exit status 0)\n";
  const auto other = [] { Registry().Install("Instance002", "/tmp/other", KELMAR_CHECK_TRIPWIRE_BACKEND); };
  std::vector<Case> cases = {
      {[] { setenv("XJREG", "", 1); }, {}, 3, {"no registry: /etc/TornevaleRegistry/Vorlan: No such file or directory"},
       {R"("root":"/etc/TornevaleRegistry","source":"default")"}},
      {[] { setenv("XJREG", "/tmp/\x1b[2J\xc2\x9b\xff\x7f\\reg", 1); }, {}, 3,
       {"no registry: /tmp/\\x1b[2J\\xc2\\x9b\\xff\\x7f\\\\reg/Vorlan: No such file or directory"},
       {R"("root":"/tmp/\u001b[2J\u009b\ufffd\u007f\\reg")"}},
      {[] { Registry(); }, {}, 4,
       {"no instance: DB2 passes no options and VORLAN_INST is not set, and no instance under /tmp/reg/Vorlan has a "
        "Db2Agent"}, {}},
      {[] { Registry().AddInstance("Instance001"); }, {}, 5,
       {"cannot open " + kProperties + ": No such file or directory"}},
      {[] { Properties("dVORLANHOMEDIR /h\ndVORLANHOME\ndVORLANHOME /tmp/vorlan\n"); }, {}, 6,
       {"no \"dVORLANHOME\" line with a value in " + kProperties + ": the first such line has none, and the library "
        "reads no further"}, {}},
      {[] { Properties("dVORLANHOME /tmp/vorlan\r\n"); }, {}, 7,
       {R"(/tmp/vorlan\r/Base/libXjKelmar.so: No such file or directory (the home directory /tmp/vorlan\r does not)",
        "note: dVORLANHOME in " + kProperties + ": the value ends with a carriage return: the file has DOS line ends"},
       {R"("home":"/tmp/vorlan\u000d")"}},
      {[] { Install(KELMAR_SAMPLE_BACKEND); chmod((kBase + "/libXjKelmar.so").c_str(), 0644); }, {}, 7,
       {kBase + "/libXjKelmar.so is not executable for this user (mode 0644"}, {}},
      {[] { Install(tb::kWithoutEntry[0]); }, {}, 10, {"missing: " + entry},
       {R"({"name":")" + entry + R"(","found":false})"}},
      {[] { Beside(tb::kNeedsBeside, ""); }, {}, 8, {"not found: " + kBeside},
       {R"("found":false,"reason":"cannot open shared object file: No such file or directory (it is in )" + kBase +
        ", but no search path leads there"}},
      // Passing checks: a value the library reads otherwise than the registry tool, and each source of the name.
      {[] { Properties("dVORLANHOME /tmp/vorlan old\n"); }, {"--trace"}, 0,
       {ok, "the library takes only \"/tmp/vorlan\" and ignores the rest of the line, \" old\""},
       {R"({"ok":true,"exit_status":0,"failed_step":null,)", R"("root":"/tmp/reg","source":"XJREG")",
        R"("name":"Instance001","source":"first_instance_scan","VORLAN_VM":"Instance001")",
        R"("path":"/tmp/vorlan/Base/libXjKelmar.so","base_directory":"/tmp/vorlan)",
        R"("mode":"RTLD_NOW","working_directory":"/tmp/vorlan)", R"("summary":"all 6 found")"}},
      {other, {"--options", "Other=1,XjInstanceName=Instance002"}, 0, {ok},
       {R"("name":"Instance002","source":"options_text")", R"("home":"/tmp/other)"}},
      {other, {"--record", "instanceName=Vorlan1", "--record", "vmName=Instance002"}, 0, {ok},
       {R"("name":"Instance002","source":"record","VORLAN_VM":"Instance002")", R"("working_directory":"/tmp/other)"}},
      // Where each needed library resolves, in the dynamic loader's order; a 32-bit copy is passed over.
      {[] { Beside(tb::kNeedsBesideWithOrigin, "library"); }, {}, 0, {},
       {"/tmp/llp/" + kBeside + R"(","found_by":"LD_LIBRARY_PATH")"}},
      {[] { Beside(KELMAR_CHECK_RPATH_BACKEND, "library"); }, {}, 0, {}, {in_base + "DT_RPATH\""}},
      {[] { Beside(tb::kNeedsBesideWithOrigin, "32-bit"); }, {}, 0, {}, {in_base + "DT_RUNPATH\""}},
      {[] { Beside(KELMAR_CHECK_SYSTEM_BACKEND, ""); }, {}, 0, {},
       {R"(libresolv.so.2","found_by":"the system's library directories")"}},
      {[] {}, {"--options", "XjInstanceName=a", "--record", "vmName=a"}, 2, {"either as --options or as --record"}},
      // The version of the library DB2 is given, beside kelmar-check's own; it does not change the verdict.
      {[] { Install(KELMAR_CHECK_TRIPWIRE_BACKEND); CopyInto(kLibraryCopy, KELMAR_SHARED_LIBRARY); },
       {"--library", kLibraryCopy}, 0, {"\nlibrary: " + kLibraryCopy + ": version " KELMAR_VERSION ", build id "},
       {R"("library":{"path":")" + kLibraryCopy + R"(","version":")" KELMAR_VERSION R"(","build_id":")"}},
      {[] { Install(KELMAR_CHECK_TRIPWIRE_BACKEND); OlderLibrary(); }, {"--library", kOlderLibrary}, 0,
       {"\nlibrary: " + kOlderLibrary + ": version 0.9, build id ", "\n  warning: it is version 0.9, kelmar-check "
        KELMAR_VERSION ": kelmar-check runs its own copy of the library's code"}, {R"("version":"0.9")"}},
      // kelmar-check itself: notes of 8-byte alignment (the GNU property note) before its build id.
      {[] { Install(KELMAR_CHECK_TRIPWIRE_BACKEND); CopyInto("/tmp/kelmar-check", KELMAR_CHECK_PROGRAM); },
       {"--library", "/tmp/kelmar-check"}, 0,
       {": version unknown, build id ", "\n  warning: it carries no version: it is not libkelmar.so"},
       {R"("version":null,"build_id":")"}},
      {[] { Install(KELMAR_CHECK_TRIPWIRE_BACKEND); }, {"--library", "/tmp/none.so"}, 0,
       {"\nlibrary: /tmp/none.so: cannot open it: No such file or directory\n"},
       {R"("error":"cannot open it: No such file or directory","warnings":[],"findings":[]})"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.status << " " << (c.plain.empty() ? c.json.front() : c.plain.front()));
    RunIsolated([&] {
      PrivateOpt();
      EnableTrace();
      c.arrange();
      const ProgramRun plain = Check(c.args);
      c.args.push_back("--json");
      const ProgramRun json = Check(c.args);
      EXPECT_EQ(std::tuple(plain.status, json.status), std::tuple(c.status, c.status)) << plain.out << plain.err;
      EXPECT_EQ((plain.out + json.out).find_first_of("\x1b\r\x7f"), npos) << "raw control characters";
      const Names trace = TraceLines();  // written only when asked
      EXPECT_EQ(trace.empty(), c.args.front() != "--trace");
      EXPECT_EQ(std::count(trace.begin(), trace.end(), "GetVorlanBaseDir: path for .properties is: " + kProperties),
                c.args.front() == "--trace" ? 2 : 0);
      for (const std::string& fragment : c.plain) EXPECT_NE((plain.out + plain.err).find(fragment), npos) << fragment;
      for (const std::string& fragment : c.json) EXPECT_NE(json.out.find(fragment), npos) << fragment;
      if (c.status == 0) return;
      const auto failed = std::ranges::find(kSteps, c.status, &StepInfo::exit_status);
      if (failed == kSteps.end()) return;  // refused before the first step
      const std::string verdict = std::string("FAILED at ") + failed->id + " (exit status " + std::to_string(c.status);
      EXPECT_NE(plain.out.find("\nresult: " + verdict + "): " + c.plain.front()), npos) << plain.out;
      EXPECT_NE(json.out.find(R"("ok":false,"exit_status":)" + std::to_string(c.status) + R"(,"failed_step":")" +
                              failed->id), npos);
      // The steps before it passed; discovery stops at its first failure.
      for (const StepInfo& step : kSteps) {
        const std::string outcome = &step == &*failed ? "failed" : (&step < &*failed ? "ok" : "skipped");
        if (outcome == "skipped" && c.status > 7) continue;
        EXPECT_NE(json.out.find(R"("step":")" + std::string(step.id) + R"(","status":")" + outcome + "\""), npos);
      }
    });
  }
}

// Who besides root can change what DB2 runs: the backend, every directory on the way to it (through symbolic links
// too) and libkelmar.so. Another user's file, or one every user may write, fails the check; a group's is a warning.
struct WriterRow {
  const char* name;
  std::function<void()> arrange;
  bool needs_other_users = false;
  Names args = {};
  int status;
  std::string plain;      // in the plain report
  std::string json = {};  // in the JSON one
};
void PrintTo(const WriterRow& row, std::ostream* out) { *out << row.name; }

void Chmod(const std::string& path, mode_t mode) { ASSERT_EQ(chmod(path.c_str(), mode), 0) << path; }
void Chown(const std::string& path, uid_t uid, gid_t gid) { ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path; }
void Symlink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}
void Move(const std::string& from, const std::string& to) { ASSERT_EQ(rename(from.c_str(), to.c_str()), 0) << from; }

const std::string kBackend = kBase + "/libXjKelmar.so";
const std::string kOpen = "/tmp/open";  // a directory every user may write, without the sticky bit
const std::string kInstalled = kelmar::check::kInstalledLibrary;

void OpenDirectory() {
  MakeDirs(kOpen);
  Chmod(kOpen, 0777);
}

// /tmp/vorlan leads to the home, which lies in the open directory.
void HomeThroughSymlinkIntoOpenDirectory() {
  OpenDirectory();
  Move("/tmp/vorlan", kOpen + "/vorlan");
  Symlink(kOpen + "/vorlan", "/tmp/vorlan");
}

// The registry names a link in the open directory that leads to the home in /tmp/vorlan.
void HomeThroughSymlinkInOpenDirectory() {
  OpenDirectory();
  Symlink("/tmp/vorlan", kOpen + "/vorlan");
  Registry().WriteProperties("Instance001", "dVORLANHOME " + kOpen + "/vorlan\n");
}

void BaseOfAGroup() {
  Chown(kBase, 0, kFirstOtherUid);
  Chmod(kBase, 0775);
}

void LibraryInOpenDirectory() {
  MakeDirs("/tmp/lib");
  Chmod("/tmp/lib", 0777);
  CopyInto("/tmp/lib/libkelmar.so", KELMAR_SHARED_LIBRARY);
}

void InstalledLibraryOfEveryUser() {
  MakeDirs("/opt/kelmar/lib");
  CopyInto(kInstalled, KELMAR_SHARED_LIBRARY);
  Chmod(kInstalled, 0666);
}

void BaseAndInstalledLibraryOfEveryUser() {
  Chmod(kBase, 0777);
  InstalledLibraryOfEveryUser();
}

class CheckWriters : public ::testing::TestWithParam<WriterRow> {};

TEST_P(CheckWriters, FailOrWarnWithTheirPathAndReason) {
  const WriterRow& row = GetParam();
  if (row.needs_other_users && !CanUseOtherUsers()) GTEST_SKIP() << kNeedsUsers;
  RunIsolated([&] {
    PrivateOpt();
    Install(KELMAR_CHECK_TRIPWIRE_BACKEND);
    row.arrange();
    Names args = row.args;
    const ProgramRun plain = Check(args);
    args.push_back("--json");
    const ProgramRun json = Check(args);
    EXPECT_EQ(plain.status, row.status) << plain.out << plain.err;
    EXPECT_EQ(json.status, row.status);
    EXPECT_NE(plain.out.find(row.plain), npos) << plain.out;
    EXPECT_NE(json.out.find(row.json), npos) << json.out;
  });
}

const std::string kPassed =
    "\npermissions       ok       root alone can change " + kBackend + " and every directory on the way to it\n";
const std::string kFailedAt = "\nresult: FAILED at ";

const WriterRow kWriterRows[] = {
    {.name = "RootsAloneWithStickyTmpOnTheWay", .arrange = [] {}, .status = 0, .plain = kPassed,
     .json = R"({"step":"permissions","status":"ok",)"},
    {.name = "BaseWritableByEveryUser", .arrange = [] { Chmod(kBase, 0777); }, .status = 11,
     .plain = kFailedAt + "permissions (exit status 11): " + kBase + " is writable by every user (mode 0777)\n",
     .json = R"({"path":")" + kBase + R"json(","reason":"is writable by every user (mode 0777)","fails":true})json"},
    {.name = "BackendWritableByEveryUser", .arrange = [] { Chmod(kBackend, 0757); }, .status = 11,
     .plain = "\npermissions       FAILED   " + kBackend + " is writable by every user (mode 0757)\n",
     .json = R"({"step":"needed_libraries","status":"skipped","summary":"not checked: permissions failed",)"},
    {.name = "SymlinkedHomeLeadingIntoADirectoryEveryUserMayWrite", .arrange = HomeThroughSymlinkIntoOpenDirectory,
     .status = 11,
     .plain = kFailedAt + "permissions (exit status 11): /tmp/open is writable by every user (mode 0777), on the way "
                          "through the symbolic link /tmp/vorlan\n"},
    {.name = "SymlinkedHomeKeptInADirectoryEveryUserMayWrite", .arrange = HomeThroughSymlinkInOpenDirectory,
     .status = 11,
     .plain = kFailedAt + "permissions (exit status 11): /tmp/open is writable by every user (mode 0777)\n"},
    // 65534, the uid a user namespace shows for an owner it does not map: here a real user, which fails.
    {.name = "BackendOfAnotherUser", .arrange = [] { Chown(kBackend, kSecondOtherUid, 0); }, .needs_other_users = true,
     .status = 11, .plain = kFailedAt + "permissions (exit status 11): " + kBackend + " belongs to ",
     .json = R"json( (uid 65534), not root","fails":true})json"},
    {.name = "BaseWritableByAGroupOtherThanRoots", .arrange = BaseOfAGroup, .needs_other_users = true, .status = 0,
     .plain = kPassed + "                           warning: " + kBase + " is writable by group ",
     .json = R"json( (gid 1000) (mode 0775)","fails":false})json"},
    {.name = "LibraryWritableByEveryUser", .arrange = LibraryInOpenDirectory,
     .args = {"--library", "/tmp/lib/libkelmar.so"}, .status = 12,
     .plain = "\n  FAILED: /tmp/lib is writable by every user (mode 0777)\nfiles in /tmp, as the library judges them",
     .json = R"("ok":false,"exit_status":12,"failed_step":"library")"},
    {.name = "InstalledLibraryWritableByEveryUser", .arrange = InstalledLibraryOfEveryUser, .status = 12,
     .plain = kFailedAt + "library (exit status 12): " + kInstalled + " is writable by every user (mode 0666)\n"},
    {.name = "BackendFailureComesBeforeTheLibrarys", .arrange = BaseAndInstalledLibraryOfEveryUser, .status = 11,
     .plain = "\n  FAILED: " + kInstalled + " is writable by every user (mode 0666)\n"},
};
INSTANTIATE_TEST_SUITE_P(Rows, CheckWriters, ::testing::ValuesIn(kWriterRows),
                         [](const ::testing::TestParamInfo<WriterRow>& info) { return std::string(info.param.name); });

// A cut object yields an error or, when the cut spares what is read, the whole object's answer: the libraries a
// backend needs, the version and build id of libkelmar.so.
TEST(ElfReaders, CutObjectsGiveAnErrorOrTheWholeAnswer) {
  struct Case { const char* file; std::function<std::string(const std::string& path)> answer; };
  const Case cases[] = {
      {.file = KELMAR_SAMPLE_BACKEND, .answer = [](const std::string& path) {
         std::string error;
         const std::optional<ElfDynamic> dynamic = ReadElfDynamic(path, error);
         return dynamic ? dynamic->needed.front() + " and " + dynamic->needed.back() : "error: " + error;
       }},
      {.file = KELMAR_SHARED_LIBRARY, .answer = [](const std::string& path) {
         const LibraryFile library = ExamineLibrary(path);
         return library.error.empty() ? library.version.value_or("none") + " " + library.build_id : "error: " + library.error;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    RunIsolated([&] {
      const std::string whole = ReadFile(c.file);
      const std::string expected = c.answer(c.file);
      ASSERT_EQ(expected.find("error"), npos) << expected;
      for (std::size_t length = 0; length < whole.size(); length += length < 128 ? 1 : 257) {
        WriteFile("/tmp/cut", whole.substr(0, length));
        const std::string answer = c.answer("/tmp/cut");
        EXPECT_TRUE(answer == expected || answer.starts_with("error: ")) << length << ": " << answer;
      }
    });
  }
}

TEST(JsonText, EscapesWhatJsonMustAndReplacesWhatIsNotUtf8) {
  EXPECT_EQ(JsonString("\"\\\n\t\x01 Zürich €"), R"("\"\\\u000a\u0009\u0001 Zürich €")");
  // Not UTF-8, an overlong form, a surrogate, a cut sequence.
  EXPECT_EQ(JsonString("\xff" "a\xc0\xaf\xed\xa0\x80\xc3"), R"("\ufffda\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd")");
}

}  // namespace
