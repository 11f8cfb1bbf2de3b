// kelmar-check run as an operator runs it, over installations that each
// break one step of what the library does on DB2's first session.
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backends/test_backend_paths.h"
#include "check_test_support.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

using namespace kelmar::check_test;
using kelmar::testbed::RegistryTree;
using kelmar::testbed::RunIsolated;
namespace tb = kelmar::test_backend;

const std::string kBesideName = std::filesystem::path(tb::kBesideLibrary).filename();

const std::vector<std::string> kStepIds = {"registry", "instance", "properties",  "home",
                                           "backend",  "needed_libraries", "load", "entry_points"};

struct FailureCase {
  std::string name;
  std::function<void(const RegistryTree&)> arrange;
  std::vector<std::string> args;
  std::string failed_step;
  int status;
  std::string in_summary;
  std::string skipped_before = {};  // a step before the failed one that could not be made
};

std::vector<FailureCase> FailureCases() {
  std::vector<FailureCase> cases = {
      {"no registry", [](const RegistryTree&) { setenv("XJREG", "/tmp/nothing-here", 1); }, {}, "registry", 3,
       "no registry: /tmp/nothing-here/Vorlan: No such file or directory"},
      {"no instance, no options", [](const RegistryTree&) {}, {}, "instance", 4,
       "DB2 passes no options and VORLAN_INST is not set, and no instance under /tmp/reg/Vorlan has a Db2Agent"},
      {"no instance, options without the key", [](const RegistryTree& tree) { tree.AddInstance("Instance001", false); },
       {"--options", "Other=1"}, "instance", 4, "the options text has no \"XjInstanceName=\""},
      {"instance name leading out of the registry", [](const RegistryTree&) {}, {"--options", "XjInstanceName=.."},
       "instance", 4, "the name \"..\" is refused"},
      {"no .properties", [](const RegistryTree& tree) { tree.AddInstance("Instance001"); }, {}, "properties", 5,
       "cannot open /tmp/reg/Vorlan/Instance001/Base/.properties: No such file or directory"},
      {"no dVORLANHOME",
       [](const RegistryTree& tree) {
         tree.AddInstance("Instance001");
         tree.WriteProperties("Instance001", "dVORLANHOMEDIR /tmp/vorlan\ndVORLANHOME\n");
       },
       {}, "home", 6, "no \"dVORLANHOME\" line with a value in /tmp/reg/Vorlan/Instance001/Base/.properties"},
      {"backend missing",
       [](const RegistryTree& tree) {
         InstallInstance001(tree, kSampleBackend);
         unlink(kBackendPath.c_str());
       },
       {}, "backend", 7, kBackendPath + ": No such file or directory"},
      {"home directory missing",
       [](const RegistryTree& tree) {
         tree.AddInstance("Instance001");
         tree.WriteProperties("Instance001", "dVORLANHOME /tmp/vorlan-7.1\n");
       },
       {}, "backend", 7,
       "/tmp/vorlan-7.1/Base/libXjKelmar.so: No such file or directory (the home directory /tmp/vorlan-7.1 does not "
       "exist)"},
      {"backend not executable",
       [](const RegistryTree& tree) {
         InstallInstance001(tree, kSampleBackend);
         chmod(kBackendPath.c_str(), 0644);
       },
       {}, "backend", 7, kBackendPath + " is not executable for this user (mode 0644"},
      {"needed library not found, although beside the backend",
       [](const RegistryTree& tree) {
         InstallInstance001(tree, tb::kNeedsBeside);
         CopyFile(tb::kBesideLibrary, kBase + "/" + kBesideName);
       },
       {}, "needed_libraries", 8, "not found: " + kBesideName},
      {"backend not loadable", [](const RegistryTree& tree) { InstallInstance001(tree, tb::kUnresolved); }, {}, "load",
       9, "dlopen failed: " + kBackendPath + ": undefined symbol: kelmar_test_function_nowhere"},
      {"backend not an object", [](const RegistryTree& tree) { InstallInstance001(tree, ""); }, {}, "load", 9,
       "dlopen failed: " + kBackendPath + ": file too short", "needed_libraries"},
  };
  for (std::size_t entry = 0; entry < tb::kWithoutEntry.size(); ++entry) {
    const std::string missing = kEntryNames[entry];
    cases.push_back({"entry point " + missing + " missing",
                     [entry](const RegistryTree& tree) { InstallInstance001(tree, tb::kWithoutEntry[entry]); },
                     {}, "entry_points", 10, "missing: " + missing});
  }
  return cases;
}

TEST(CheckCommand, NamesTheFirstFailedStepInTextJsonAndExitStatus) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const RegistryTree tree = Registry();
      c.arrange(tree);

      const kelmar::testbed::ProgramRun plain = RunCheck(c.args);
      EXPECT_EQ(plain.status, c.status) << plain.out << plain.err;
      const std::string verdict =
          "result: FAILED at " + c.failed_step + " (exit status " + std::to_string(c.status) + "): ";
      const std::size_t at = plain.out.find(verdict);
      ASSERT_NE(at, std::string::npos) << plain.out;
      EXPECT_NE(plain.out.find(c.in_summary, at), std::string::npos) << plain.out;

      const JsonRun json = RunCheckJson(c.args);
      EXPECT_EQ(json.status, c.status);
      EXPECT_FALSE(json.report["ok"].boolean());
      EXPECT_EQ(json.report["exit_status"].number(), c.status);
      EXPECT_EQ(json.report["failed_step"].str(), c.failed_step);
      const JsonValue& failed = StepOf(json.report, c.failed_step);
      EXPECT_EQ(failed["status"].str(), "failed");
      EXPECT_NE(failed["summary"].str().find(c.in_summary), std::string::npos) << failed["summary"].str();

      // The steps before it passed; the library's chain stops at a failure
      // of discovery, so those after it were not checked.
      bool before = true;
      for (const std::string& id : kStepIds) {
        if (id == c.failed_step) {
          before = false;
          continue;
        }
        const std::string status = StepOf(json.report, id)["status"].str();
        if (before) {
          EXPECT_EQ(status, id == c.skipped_before ? "skipped" : "ok") << id;
        } else if (c.status <= 7) {
          EXPECT_EQ(status, "skipped") << id;
        }
      }
    });
  }
}

TEST(CheckCommand, ReportsSuccessOnTheDemosInstallation) {
  RunIsolated([] {
    InstallInstance001(Registry(), kSampleBackend);
    const kelmar::testbed::ProgramRun plain = RunCheck({"--options", "XjInstanceName=Instance001"});
    EXPECT_EQ(plain.status, 0) << plain.out << plain.err;
    EXPECT_NE(plain.out.find("result: ok, DB2 would get a working backend (exit status 0)"), std::string::npos)
        << plain.out;

    const JsonRun json = RunCheckJson({"--options", "XjInstanceName=Instance001"});
    const JsonValue& report = json.report;
    EXPECT_EQ(json.status, 0);
    EXPECT_TRUE(report["ok"].boolean());
    EXPECT_TRUE(report["failed_step"].is_null());
    for (const std::string& id : kStepIds) EXPECT_EQ(StepOf(report, id)["status"].str(), "ok") << id;

    EXPECT_EQ(StepOf(report, "registry")["root"].str(), kRoot);
    EXPECT_EQ(StepOf(report, "registry")["source"].str(), "XJREG");
    EXPECT_EQ(StepOf(report, "properties")["path"].str(), kRoot + "/Vorlan/Instance001/Base/.properties");
    EXPECT_EQ(StepOf(report, "home")["home"].str(), kHome);
    EXPECT_EQ(StepOf(report, "backend")["path"].str(), kBackendPath);
    EXPECT_EQ(StepOf(report, "backend")["base_directory"].str(), kBase);
    const JsonValue& libc = ItemOf(StepOf(report, "needed_libraries"), "libraries", "libc.so.6");
    EXPECT_TRUE(libc["found"].boolean());
    EXPECT_EQ(StepOf(report, "load")["working_directory"].str(), kBase);
    EXPECT_EQ(StepOf(report, "load")["mode"].str(), "RTLD_NOW");
    const JsonValue& entries = StepOf(report, "entry_points")["entry_points"];
    ASSERT_EQ(entries.size(), 6u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i]["name"].str(), kEntryNames[i]);
      EXPECT_TRUE(entries[i]["found"].boolean());
    }
  });
}

TEST(CheckCommand, NamesTheInstanceAndWhereItsNameCameFrom) {
  struct Case {
    std::string name;
    std::vector<std::string> args;
    const char* vorlan_inst;  // null: unset
    std::string instance;
    std::string source;
  };
  const Case cases[] = {
      {"options text", {"--options", "Other=1,XjInstanceName=Instance002"}, nullptr, "Instance002", "options_text"},
      {"options record", {"--record", "instanceName=Vorlan1", "--record", "vmName=Instance002"}, nullptr,
       "Instance002", "record"},
      {"environment", {}, "Instance002", "Instance002", "VORLAN_INST"},
      {"first instance scan", {}, nullptr, "Instance001", "first_instance_scan"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const RegistryTree tree = Registry();
      tree.Install("Instance001", kHome, kSampleBackend);
      tree.Install("Instance002", "/tmp/other", kSampleBackend);
      if (c.vorlan_inst != nullptr) setenv("VORLAN_INST", c.vorlan_inst, 1);

      const JsonRun json = RunCheckJson(c.args);
      EXPECT_EQ(json.status, 0);
      const JsonValue& instance = StepOf(json.report, "instance");
      EXPECT_EQ(instance["name"].str(), c.instance);
      EXPECT_EQ(instance["source"].str(), c.source);
      EXPECT_EQ(instance["VORLAN_VM"].str(), c.instance);
      const std::string home = c.instance == "Instance001" ? kHome : "/tmp/other";
      EXPECT_EQ(StepOf(json.report, "home")["home"].str(), home);
    });
  }
}

TEST(CheckCommand, TakesTheDefaultRegistryWhenXjregIsUnsetOrEmpty) {
  for (const char* xjreg : {static_cast<const char*>(nullptr), ""}) {
    RunIsolated([&] {
      if (xjreg == nullptr) {
        unsetenv("XJREG");
      } else {
        setenv("XJREG", xjreg, 1);
      }
      const JsonRun json = RunCheckJson({});
      const JsonValue& registry = StepOf(json.report, "registry");
      EXPECT_EQ(registry["root"].str(), "/etc/TornevaleRegistry");
      EXPECT_EQ(registry["source"].str(), "default");
    });
  }
}

// Where each library the backend needs resolves, in the dynamic loader's
// order; the load that follows must agree, or the check would not pass.
TEST(CheckCommand, FindsNeededLibrariesAsTheDynamicLoaderDoes) {
  struct Case {
    std::string name;
    std::string backend;
    bool beside_in_base;
    std::string in_library_path;  // what /tmp/llp holds under the library's name
    std::string library;
    std::string path;
    std::string found_by;
  };
  const std::string llp = "/tmp/llp/" + kBesideName;
  const Case cases[] = {
      {"DT_RUNPATH", tb::kNeedsBesideWithOrigin, true, "", kBesideName, kBase + "/" + kBesideName,
       "the backend's DT_RUNPATH"},
      {"LD_LIBRARY_PATH before DT_RUNPATH", tb::kNeedsBesideWithOrigin, true, "library", kBesideName, llp,
       "LD_LIBRARY_PATH"},
      {"DT_RPATH before LD_LIBRARY_PATH", kRpathBackend, true, "library", kBesideName, kBase + "/" + kBesideName,
       "the backend's DT_RPATH"},
      {"LD_LIBRARY_PATH alone", tb::kNeedsBeside, false, "library", kBesideName, llp, "LD_LIBRARY_PATH"},
      {"an object for another platform is passed over", tb::kNeedsBesideWithOrigin, true, "32-bit", kBesideName,
       kBase + "/" + kBesideName, "the backend's DT_RUNPATH"},
      {"system library", kSystemBackend, false, "", "libresolv.so.2", "", "the system's library directories"},
      {"library already loaded", kSampleBackend, false, "", "libc.so.6", "", "already loaded in this process"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      InstallInstance001(Registry(), c.backend);
      if (c.beside_in_base) CopyFile(tb::kBesideLibrary, kBase + "/" + kBesideName);
      kelmar::testbed::MakeDirs("/tmp/llp");
      if (c.in_library_path == "library") CopyFile(tb::kBesideLibrary, llp);
      if (c.in_library_path == "32-bit") {
        std::string bytes = Bytes(tb::kBesideLibrary);
        bytes[EI_CLASS] = ELFCLASS32;
        kelmar::testbed::WriteFile(llp, bytes);
      }
      setenv("LD_LIBRARY_PATH", "/tmp/llp", 1);

      const JsonRun json = RunCheckJson({});
      EXPECT_EQ(json.status, 0) << StepOf(json.report, "needed_libraries")["summary"].str();
      const JsonValue& library = ItemOf(StepOf(json.report, "needed_libraries"), "libraries", c.library);
      EXPECT_TRUE(library["found"].boolean());
      EXPECT_EQ(library["found_by"].str(), c.found_by);
      if (!c.path.empty()) {
        EXPECT_EQ(library["path"].str(), c.path);
      } else {
        EXPECT_EQ(std::filesystem::path(library["path"].str()).filename(), c.library);
      }
    });
  }
}

// Why a needed library is not found; the load fails for the same reason,
// in the dynamic loader's own words.
TEST(CheckCommand, SaysWhyANeededLibraryIsNotFound) {
  struct Case {
    std::string name;
    std::string backend;
    std::string in_library_path;  // a file put under the library's name in /tmp/llp
    std::string reason;
    std::string dlerror;
  };
  const std::string not_found = kBesideName + ": cannot open shared object file: No such file or directory";
  const Case cases[] = {
      {"beside the backend, which has no search path", tb::kNeedsBeside, "",
       "cannot open shared object file: No such file or directory (it is in " + kBase +
           ", but no search path leads there: the backend's own DT_RPATH or DT_RUNPATH should name that "
           "directory, e.g. as $ORIGIN)",
       not_found},
      {"a file that is no object comes first", tb::kNeedsBesideWithOrigin, "not a library\n",
       "/tmp/llp/" + kBesideName + ": file too short", "/tmp/llp/" + kBesideName + ": file too short"},
      {"a text comes first", tb::kNeedsBesideWithOrigin, std::string(200, 't'),
       "/tmp/llp/" + kBesideName + ": invalid ELF header", "/tmp/llp/" + kBesideName + ": invalid ELF header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      InstallInstance001(Registry(), c.backend);
      CopyFile(tb::kBesideLibrary, kBase + "/" + kBesideName);
      kelmar::testbed::MakeDirs("/tmp/llp");
      if (!c.in_library_path.empty()) kelmar::testbed::WriteFile("/tmp/llp/" + kBesideName, c.in_library_path);
      setenv("LD_LIBRARY_PATH", "/tmp/llp", 1);

      const JsonRun json = RunCheckJson({});
      EXPECT_EQ(json.status, 8);
      const JsonValue& library = ItemOf(StepOf(json.report, "needed_libraries"), "libraries", kBesideName);
      EXPECT_FALSE(library["found"].boolean());
      EXPECT_FALSE(library.has("path"));
      EXPECT_EQ(library["reason"].str(), c.reason);
      EXPECT_EQ(StepOf(json.report, "load")["dlerror"].str(), c.dlerror);
    });
  }
}

TEST(CheckCommand, NeverCallsAnEntryPoint) {
  RunIsolated([] {
    InstallInstance001(Registry(), kTripwireBackend);
    const kelmar::testbed::ProgramRun run = RunCheck({});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
  });
}

TEST(CheckCommand, WritesTheTraceOnlyWhenAsked) {
  RunIsolated([] {
    InstallInstance001(Registry(), kSampleBackend);
    kelmar::testbed::EnableTrace();
    EXPECT_EQ(RunCheck({}).status, 0);
    EXPECT_TRUE(kelmar::testbed::RawTraceLines().empty());

    EXPECT_EQ(RunCheck({"--trace"}).status, 0);
    const std::vector<std::string> lines = kelmar::testbed::TraceLines();
    const auto has = [&](const std::string& line) {
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("kelmar-check: -----------XJREG= [/tmp/reg]"));
    EXPECT_TRUE(has("GetVorlanInstanceName: -----------Entered--------"));
    EXPECT_TRUE(has("GetVorlanBaseDir: path for .properties is: /tmp/reg/Vorlan/Instance001/Base/.properties"));
  });
}

TEST(CheckCommand, RefusesABadCommandLineWithStatus2) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"extra"}, "unexpected argument \"extra\""},
      {{"--options"}, "--options needs a value"},
      {{"--record", "vmName"}, "--record needs FIELD=VALUE, got \"vmName\""},
      {{"--record", "colour=red"}, "unknown options record field \"colour\""},
      {{"--record", "vmName=" + std::string(18, 'x')}, "must be at most 17 characters"},
      {{"--options", "XjInstanceName=a", "--record", "vmName=a"}, "either as --options or as --record"},
  };
  RunIsolated([&] {
    for (const Case& c : cases) {
      const kelmar::testbed::ProgramRun run = RunCheck(c.args);
      EXPECT_EQ(run.status, 2) << c.error;
      EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
      EXPECT_TRUE(run.out.empty());
    }
    const kelmar::testbed::ProgramRun help = RunCheck({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* line : {"  0  all steps passed", "  2  bad command line", "  3  registry: ",
                                    "  8  needed_libraries: ", "  10 entry_points: "}) {
      EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
  });
}

}  // namespace
