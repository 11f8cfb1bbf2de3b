// kelmar-check run as operators run it, over installations that each break
// one step of what the library does on DB2's first session.
#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "backends/test_backend_paths.h"
#include "check/elf_dynamic.h"
#include "check/report_output.h"
#include "host_test_support.h"
#include "loader/backend_table.h"

namespace {

using namespace kelmar::check;
using namespace kelmar::testbed;
using namespace kelmar::testing;
namespace tb = kelmar::test_backend;

const std::string kBase = "/tmp/vorlan/Base";
const std::string kBackend = kBase + "/libXjKelmar.so";
const std::string kBeside = std::filesystem::path(tb::kBesideLibrary).filename();

// The registry /tmp/reg (XJREG), with no instance named by the environment.
RegistryTree Registry() {
  RegistryTree tree("/tmp/reg");
  tree.Export();
  unsetenv("VORLAN_INST");
  unsetenv("VORLAN_VM");
  return tree;
}

void Install(const std::string& backend) { Registry().Install("Instance001", "/tmp/vorlan", backend); }

void Properties(const std::string& content) {
  Registry().AddInstance("Instance001");
  Registry().WriteProperties("Instance001", content);
}

ProgramRun Check(Names args) {
  args.insert(args.begin(), KELMAR_CHECK_PROGRAM);
  return RunProgram(args);
}

// kelmar-check --json with `args` exits with `status` and reports each fragment.
void ExpectReport(Names args, int status, const Names& fragments) {
  args.push_back("--json");
  const ProgramRun run = Check(args);
  EXPECT_EQ(run.status, status) << run.err;
  for (const std::string& fragment : fragments) EXPECT_NE(run.out.find(fragment), std::string::npos) << fragment;
}

TEST(Check, NamesTheFirstFailedStepInTextJsonAndExitStatus) {
  // What breaks the installation, the step that fails, its exit status and summary, a fragment of the JSON report.
  struct Failure { std::function<void()> arrange; std::string failed; int status; std::string summary, fragment; };
  std::vector<Failure> cases = {
      {[] { setenv("XJREG", "", 1); }, "registry", 3, "no registry: /etc/TornevaleRegistry/Vorlan: No such file or "
       "directory", R"("root":"/etc/TornevaleRegistry","source":"default")"},
      {[] { Registry(); }, "instance", 4, "no instance: DB2 passes no options and VORLAN_INST is not set, and no "
       "instance under /tmp/reg/Vorlan has a Db2Agent", ""},
      {[] { Registry().AddInstance("Instance001"); }, "properties", 5,
       "cannot open /tmp/reg/Vorlan/Instance001/Base/.properties: No such file or directory", ""},
      {[] { Properties("dVORLANHOMEDIR /h\ndVORLANHOME\n"); }, "home", 6,
       "no \"dVORLANHOME\" line with a value in /tmp/reg/Vorlan/Instance001/Base/.properties", ""},
      {[] { Properties("dVORLANHOME /tmp/v7\n"); }, "backend", 7,
       "/tmp/v7/Base/libXjKelmar.so: No such file or directory (the home directory /tmp/v7 does not exist)", ""},
      {[] { Install(KELMAR_SAMPLE_BACKEND); chmod(kBackend.c_str(), 0644); }, "backend", 7,
       kBackend + " is not executable for this user (mode 0644", ""},
      {[] { Install(tb::kNeedsBeside); WriteFile(kBase + "/" + kBeside, ReadFile(tb::kBesideLibrary)); },
       "needed_libraries", 8, "not found: " + kBeside,
       R"("found":false,"reason":"cannot open shared object file: No such file or directory (it is in )" + kBase +
           ", but no search path leads there"},
      {[] { Install(tb::kNeedsBesideWithOrigin); WriteFile(kBase + "/" + kBeside, "not a library\n"); },
       "needed_libraries", 8, "not found: " + kBeside, R"("dlerror":")" + kBase + "/" + kBeside + ": file too short\""},
      {[] { Install(tb::kUnresolved); }, "load", 9,
       "dlopen failed: " + kBackend + ": undefined symbol: kelmar_test_function_nowhere", ""},
  };
  for (std::size_t i = 0; i < tb::kWithoutEntry.size(); ++i) {
    const std::string name = kelmar::kBackendEntryNames[i];
    cases.push_back({[i] { Install(tb::kWithoutEntry[i]); }, "entry_points", 10, "missing: " + name,
                     R"({"name":")" + name + R"(","found":false})"});
  }
  for (const Failure& c : cases) {
    SCOPED_TRACE(c.summary);
    RunIsolated([&] {
      c.arrange();
      const std::string verdict = "FAILED at " + c.failed + " (exit status " + std::to_string(c.status) + "): ";
      EXPECT_NE(Check({}).out.find("\nresult: " + verdict + c.summary), std::string::npos);
      // The steps before it passed; discovery stops at its first failure.
      Names fragments = {R"("ok":false,"exit_status":)" + std::to_string(c.status) + R"(,"failed_step":")" + c.failed};
      if (!c.fragment.empty()) fragments.push_back(c.fragment);
      bool before = true;
      for (const StepInfo& step : kSteps) {
        const std::string outcome = step.id == c.failed ? "failed" : (before ? "ok" : "skipped");
        before = before && step.id != c.failed;
        if (outcome != "skipped" || c.status <= 7) {
          fragments.push_back(R"("step":")" + std::string(step.id) + R"(","status":")" + outcome + "\"");
        }
      }
      ExpectReport({}, c.status, fragments);
    });
  }
}

// Success on the demo's installation, whichever source names the instance.
TEST(Check, ReportsSuccessNamingTheInstanceAndWhereItsNameCameFrom) {
  struct Case { Names args; std::string instance; };
  const Case cases[] = {
      {{"--options", "Other=1,XjInstanceName=Instance002"}, R"("name":"Instance002","source":"options_text")"},
      {{"--record", "instanceName=Vorlan1", "--record", "vmName=Instance002"},
       R"("name":"Instance002","source":"record","VORLAN_VM":"Instance002")"},
      {{}, R"("name":"Instance001","source":"first_instance_scan","VORLAN_VM":"Instance001")"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      Registry().Install("Instance002", "/tmp/other", KELMAR_SAMPLE_BACKEND);
      Install(KELMAR_SAMPLE_BACKEND);
      const bool first = c.instance.find("Instance001") != std::string::npos;
      const std::string home = first ? "/tmp/vorlan" : "/tmp/other", name = first ? "Instance001" : "Instance002";
      const std::string ok = "\nresult: ok, DB2 would get a working backend (exit status 0)\n";
      EXPECT_NE(Check(c.args).out.find(ok), std::string::npos);
      ExpectReport(c.args, 0, {R"({"ok":true,"exit_status":0,"failed_step":null,)", c.instance, R"("home":")" + home,
                               R"("root":"/tmp/reg","source":"XJREG")", name + "/Base/.properties\"",
                               R"("path":")" + home + R"(/Base/libXjKelmar.so","base_directory":")" + home,
                               R"("mode":"RTLD_NOW","working_directory":")" + home, R"("summary":"all 6 found")"});
    });
  }
}

// Where each library the backend needs resolves, in the dynamic loader's
// order; the load that follows must agree, or the check would not pass.
TEST(Check, FindsNeededLibrariesAsTheDynamicLoaderDoes) {
  const std::string in_base = kBase + "/" + kBeside + R"(","found_by":"the backend's )";
  const std::string in_path = "/tmp/llp/" + kBeside + R"(","found_by":"LD_LIBRARY_PATH")";
  // The backend, what /tmp/llp holds under the library's name, where it resolves.
  struct Case { std::string backend, in_library_path, found; };
  const Case cases[] = {
      {tb::kNeedsBesideWithOrigin, "", in_base + "DT_RUNPATH\""},
      {tb::kNeedsBesideWithOrigin, "library", in_path},
      {KELMAR_CHECK_RPATH_BACKEND, "library", in_base + "DT_RPATH\""},
      {tb::kNeedsBesideWithOrigin, "32-bit", in_base + "DT_RUNPATH\""},  // passed over
      {KELMAR_CHECK_SYSTEM_BACKEND, "", R"(libresolv.so.2","found_by":"the system's library directories")"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      Install(c.backend);
      std::string library = ReadFile(tb::kBesideLibrary);
      WriteFile(kBase + "/" + kBeside, library);
      MakeDirs("/tmp/llp");
      if (c.in_library_path == "32-bit") library[EI_CLASS] = ELFCLASS32;
      if (!c.in_library_path.empty()) WriteFile("/tmp/llp/" + kBeside, library);
      setenv("LD_LIBRARY_PATH", "/tmp/llp", 1);
      ExpectReport({}, 0, {c.found});
    });
  }
}

// Each entry point of this backend ends the process at once.
TEST(Check, CallsNoEntryPointWritesTheTraceOnlyWhenAskedAndRefusesABadCommandLine) {
  RunIsolated([] {
    Install(KELMAR_CHECK_TRIPWIRE_BACKEND);
    EnableTrace();
    EXPECT_EQ(Check({}).status, 0);
    EXPECT_TRUE(RawTraceLines().empty());
    EXPECT_EQ(Check({"--trace"}).status, 0);
    const Names lines = TraceLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "GetVorlanBaseDir: path for .properties is: /tmp/reg/Vorlan/Instance001/Base/.properties"),
              lines.end());
    const ProgramRun run = Check({"--options", "XjInstanceName=a", "--record", "vmName=a"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("either as --options or as --record"), std::string::npos) << run.err;
    EXPECT_NE(Check({"--help"}).out.find("  8  needed_libraries: "), std::string::npos);
  });
}

// A cut object yields an error or, when the cut spares what is read, the whole object's answer.
TEST(ElfDynamic, CutObjectsGiveAnErrorOrTheWholeAnswer) {
  RunIsolated([] {
    const std::string whole = ReadFile(KELMAR_SAMPLE_BACKEND);
    std::string error;
    const std::optional<ElfDynamic> expected = ReadElfDynamic(KELMAR_SAMPLE_BACKEND, error);
    ASSERT_TRUE(expected && !expected->needed.empty()) << error;
    for (std::size_t length = 0; length < whole.size(); length += length < 128 ? 1 : 257) {
      WriteFile("/tmp/cut", whole.substr(0, length));
      const std::optional<ElfDynamic> dynamic = ReadElfDynamic("/tmp/cut", error);
      EXPECT_TRUE(dynamic ? dynamic->needed == expected->needed : !error.empty()) << length;
    }
  });
}

TEST(JsonText, EscapesWhatJsonMustAndReplacesWhatIsNotUtf8) {
  EXPECT_EQ(JsonString("\"\\\n\t\x01 Zürich €"), R"("\"\\\u000a\u0009\u0001 Zürich €")");
  // Not UTF-8, a cut sequence, an overlong form, a surrogate.
  EXPECT_EQ(JsonString("\xff" "a\xc3"), R"("\ufffda\ufffd")");
  EXPECT_EQ(JsonString("\xc0\xaf\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd\ufffd\ufffd")");
}

// `cmake --install` puts the library and the two tools where GNUInstallDirs
// says, and nothing else.
TEST(Install, PutsTheLibraryAndTheToolsInTheUsualPlaces) {
  RunIsolated([] {
    const std::string lib = std::string("/tmp/prefix/") + KELMAR_INSTALL_LIBDIR;
    const std::string bin = std::string("/tmp/prefix/") + KELMAR_INSTALL_BINDIR;
    const ProgramRun install =
        RunProgram({KELMAR_CMAKE_COMMAND, "--install", KELMAR_BINARY_DIR, "--prefix", "/tmp/prefix"});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    EXPECT_EQ(Listing("/tmp/prefix").size(), 3u);  // bin, lib and share/man
    EXPECT_EQ(Listing(bin), (Names{"kelmar-check", "kelmar-host"}));
    EXPECT_EQ(Listing(lib), Names{"libkelmar.so"});
    // The library keeps the search path DB2's sessions rely on.
    std::string error;
    const std::optional<ElfDynamic> library = ReadElfDynamic(lib + "/libkelmar.so", error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->rpath, "$ORIGIN:$ORIGIN/../Base64:.");
    EXPECT_FALSE(library->runpath);
  });
}

}  // namespace
