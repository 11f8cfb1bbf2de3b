#include "discovery/base_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "caller_buffer.h"
#include "discovery/environment.h"
#include "front/registry_root.h"
#include "guarded_bytes.h"
#include "long_dir.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"
#include "trace_lines.h"

namespace {

using namespace kelmar::testbed;

const std::string kRoot = "/tmp/reg";
const std::string& kEntered = kelmar::testbed::kEnteredText;
const std::string& kLeaving = kelmar::testbed::kLeavingText;

std::string B(const std::string& message) { return Tagged("GetVorlanBaseDir", message); }
std::string N(const std::string& message) { return Tagged("GetVorlanInstanceName", message); }
std::string F(const std::string& message) { return Tagged("get_first_vorlan_instname", message); }

// The user interface's record naming `vm_name`, zeros elsewhere.
std::string VmNameRecord(const std::string& vm_name) {
  std::string record(344, '\0');
  record.replace(95, vm_name.size(), vm_name);
  return record;
}

Lines NameFromEnvironment(const std::string& value) {
  return {N(kEntered), N("Possibly CommandLine case, VENDOROPT not set."), N("VORLAN_INST is set to " + value),
          N(kLeaving)};
}
const Lines kNoNameFromEnvironment{N(kEntered), N("Possibly CommandLine case, VENDOROPT not set."), N(kLeaving)};

Lines PropertiesAndHome(const std::string& instance, const std::string& home) {
  return {B("path for .properties is: " + kRoot + "/Vorlan/" + instance + "/Base/.properties"),
          B("path for .properties is: " + home)};
}

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetOrUnset(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

struct BaseDir {
  int result;
  std::string gpath;  // empty on failure, when it must be untouched
};

BaseDir Call(const Init_input* in, std::size_t size = 1024) {
  CallerBuffer gpath(size);
  const int result = GetVorlanBaseDir(gpath.data(), size, in);
  EXPECT_FALSE(gpath.WrittenPastCapacity());
  EXPECT_TRUE(result == 0 ? gpath.ZeroFilled() : gpath.Untouched());
  return {result, result == 0 ? gpath.Text() : ""};
}

// A registry at kRoot on which the session preparation has settled the root.
RegistryTree SettledRegistry() {
  RegistryTree tree(kRoot);
  tree.Export();
  SettleRegistryRoot("sqluvint()");
  return tree;
}

TEST(BaseDir, FirstAndSecondSuccessfulCall) {
  RunIsolated([] {
    const RegistryTree tree = SettledRegistry();
    tree.Install("Instance002", "/tmp/home2");
    tree.Install("Instance003", "/tmp/home3");
    unsetenv("VORLAN_VM");
    EnableTrace();

    setenv("VORLAN_INST", "Instance002", 1);
    EXPECT_EQ(Call(nullptr).gpath, "/tmp/home2/Base");
    EXPECT_EQ(TraceLines(), Concat({{B(kEntered)},
                                    NameFromEnvironment("Instance002"),
                                    {B("Set Environment variable VORLAN_VM (Instance002)")},
                                    PropertiesAndHome("Instance002", "/tmp/home2"),
                                    {B(kLeaving)}}));

    // Another instance later in the process: VORLAN_VM keeps its first value.
    ClearTrace();
    setenv("VORLAN_INST", "Instance003", 1);
    EXPECT_EQ(Call(nullptr).gpath, "/tmp/home3/Base");
    EXPECT_EQ(TraceLines(), Concat({{B(kEntered)},
                                    NameFromEnvironment("Instance003"),
                                    PropertiesAndHome("Instance003", "/tmp/home3"),
                                    {B(kLeaving)}}));
    EXPECT_EQ(Env("VORLAN_VM"), "Instance002");
    EXPECT_STREQ(vorlan_vm, "Instance002");
  });
}

TEST(BaseDir, FallbackToTheScanExportsVorlanInst) {
  RunIsolated([] {
    const RegistryTree tree = SettledRegistry();
    tree.Install("Instance001", "/tmp/home1");
    unsetenv("VORLAN_INST");
    EnableTrace();

    EXPECT_EQ(Call(nullptr).gpath, "/tmp/home1/Base");
    EXPECT_EQ(TraceLines(),
              Concat({{B(kEntered)},
                      kNoNameFromEnvironment,
                      {B("GetVorlanInstanceName failed, trying to get the name of the first vorlan instance name."),
                       F(kEntered), F(kLeaving), B("Setting the env: Instance001..."),
                       B("Setting the env: VORLAN_INST=Instance001 succeeded"),
                       B("Set Environment variable VORLAN_VM (Instance001)")},
                      PropertiesAndHome("Instance001", "/tmp/home1"),
                      {B(kLeaving)}}));
    EXPECT_EQ(Env("VORLAN_INST"), "Instance001");

    // The next session without options finds the name without scanning.
    ClearTrace();
    EXPECT_EQ(Call(nullptr).gpath, "/tmp/home1/Base");
    EXPECT_EQ(TraceLines(), Concat({{B(kEntered)},
                                    NameFromEnvironment("Instance001"),
                                    PropertiesAndHome("Instance001", "/tmp/home1"),
                                    {B(kLeaving)}}));
  });
}

TEST(BaseDir, NoInstanceAnywhere) {
  RunIsolated([] {
    SettledRegistry();
    unsetenv("VORLAN_INST");
    unsetenv("VORLAN_VM");
    EnableTrace();
    EXPECT_EQ(Call(nullptr).result, -1);
    const Lines lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], B("get_first_vorlan_instname() failed as well, returning error."));
    EXPECT_EQ(lines.back(), B(kLeaving));
    EXPECT_EQ(Env("VORLAN_INST"), std::nullopt);
    EXPECT_EQ(Env("VORLAN_VM"), std::nullopt);
  });
}

TEST(BaseDir, VorlanInstWrittenOnlyAfterAFallback) {
  const GuardedBytes text("XjInstanceName=Instance002");
  const Init_input from_text = text.Input(26);
  const GuardedBytes record_bytes(VmNameRecord("Instance002"));
  const Init_input from_record = record_bytes.Input(344);
  for (const Init_input* in : {&from_text, &from_record}) {
    RunIsolated([&] {
      SettledRegistry().Install("Instance002", "/tmp/home2");
      unsetenv("VORLAN_INST");
      EXPECT_EQ(Call(in).gpath, "/tmp/home2/Base");
      EXPECT_EQ(Env("VORLAN_INST"), std::nullopt);
    });
  }
}

TEST(BaseDir, VorlanVmSettledOncePerProcess) {
  const std::string max_kept(2047, 'k');
  struct Case {
    const char* name;
    std::optional<std::string> preset;
    std::string instance;
    std::string line;                  // the first call's VORLAN_VM line
    std::string kept;                  // vorlan_vm afterwards
    std::optional<std::string> after;  // VORLAN_VM afterwards
    bool line_again;                   // the second call logs the same line again
  };
  const Case cases[] = {
      {"unset", std::nullopt, "Instance002", "Set Environment variable VORLAN_VM (Instance002)", "Instance002",
       "Instance002", false},
      {"empty", "", "Instance002", "Set Environment variable VORLAN_VM (Instance002)", "Instance002", "Instance002",
       false},
      {"preset", "Preset9", "Instance002", "Got Environment variable VORLAN_VM (Preset9)", "Preset9", "Preset9", false},
      {"2047 characters", max_kept, "Instance002", "Got Environment variable VORLAN_VM (" + max_kept + ")", max_kept,
       max_kept, false},
      {"2048 characters", std::string(2048, 'v'), "Instance002", "Got Environment variable VORLAN_VM ()", "",
       std::string(2048, 'v'), true},
      {"empty instance name", std::nullopt, "", "Set Environment variable VORLAN_VM ()", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const RegistryTree tree = SettledRegistry();
      if (!c.instance.empty()) tree.Install(c.instance, "/tmp/home");
      SetOrUnset("VORLAN_VM", c.preset);
      setenv("VORLAN_INST", c.instance.c_str(), 1);
      EnableTrace();
      Call(nullptr);
      Lines lines = TraceLines();
      ASSERT_GE(lines.size(), 6u);
      // The log keeps at most 2046 characters of a message.
      EXPECT_EQ(lines[5], B(c.line).substr(0, 2046));
      EXPECT_EQ(std::string(vorlan_vm), c.kept);
      EXPECT_EQ(Env("VORLAN_VM"), c.after);

      ClearTrace();
      Call(nullptr);
      lines = TraceLines();
      ASSERT_GE(lines.size(), 6u);
      EXPECT_EQ(lines[5] == B(c.line).substr(0, 2046), c.line_again);
      EXPECT_EQ(Env("VORLAN_VM"), c.after);
    });
  }
}

TEST(BaseDir, EmptyInstanceNameLeavesAnEmptyPathComponent) {
  RunIsolated([] {
    SettledRegistry();
    setenv("VORLAN_INST", "", 1);
    EnableTrace();
    EXPECT_EQ(Call(nullptr).result, -1);
    const std::string path = kRoot + "/Vorlan//Base/.properties";
    const Lines lines = TraceLines();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{B("path for .properties is: " + path), B("Could not open file " + path), B(kLeaving)}));
  });
}

TEST(BaseDir, RegistryAndInstallationOutcomes) {
  const std::string props = kRoot + "/Vorlan/Inst/Base/.properties";
  const std::string library = "/tmp/home/Base/libXjKelmar.so";
  const std::string not_accessible = "XJZqDb2QZT DB2 Library ";
  struct Case {
    const char* name;
    std::function<void(const RegistryTree&)> build;
    std::string gpath;  // empty: failure
    Lines tail;         // the last lines under GetVorlanBaseDir, Leaving excluded
  };
  const auto install = [](const RegistryTree& t) { t.Install("Inst", "/tmp/home"); };
  const auto properties = [](std::string content) {
    return [content](const RegistryTree& t) {
      t.Install("Inst", "/tmp/home");
      t.WriteProperties("Inst", content);
    };
  };
  const Case cases[] = {
      {"installed", install, "/tmp/home/Base",
       {B("path for .properties is: " + props), B("path for .properties is: /tmp/home")}},
      {"leading blanks", properties(" \t dVORLANHOME /tmp/home\n"), "/tmp/home/Base", {}},
      {"trailing slash", properties("dVORLANHOME /tmp/home/\n"), "/tmp/home//Base", {}},
      {"properties through a symlink",
       [](const RegistryTree& t) {
         t.Install("Inst", "/tmp/home");
         WriteFile("/tmp/real.properties", "dVORLANHOME /tmp/home\n");
         std::filesystem::remove(t.PropertiesPath("Inst"));
         std::filesystem::create_symlink("/tmp/real.properties", t.PropertiesPath("Inst"));
       },
       "/tmp/home/Base", {}},
      {"no properties", [](const RegistryTree& t) { t.AddInstance("Inst"); }, "",
       {B("path for .properties is: " + props), B("Could not open file " + props)}},
      {"dangling properties link",
       [](const RegistryTree& t) {
         t.AddInstance("Inst");
         std::filesystem::create_symlink("/tmp/none", t.PropertiesPath("Inst"));
       },
       "", {B("Could not open file " + props)}},
      {"empty properties", properties(""), "", {B(not_accessible + " not accessible")}},
      {"key line without value first", properties("dVORLANHOME\ndVORLANHOME /tmp/home\n"), "",
       {B(not_accessible + " not accessible")}},
      {"value with a blank", properties("dVORLANHOME /tmp/ho me\n"), "",
       {B(not_accessible + "/tmp/ho/Base/libXjKelmar.so not accessible")}},
      {"carriage returns", properties("dVORLANHOME /tmp/home\r\n"), "",
       {B(not_accessible + "/tmp/home\r/Base/libXjKelmar.so not accessible")}},
      {"library not executable",
       [&](const RegistryTree& t) {
         t.Install("Inst", "/tmp/home");
         WriteFile(library, "", 0644);
       },
       "", {B(not_accessible + library + " not accessible")}},
      {"library missing",
       [&](const RegistryTree& t) {
         t.Install("Inst", "/tmp/home");
         std::filesystem::remove(library);
       },
       "", {B(not_accessible + library + " not accessible")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      c.build(SettledRegistry());
      setenv("VORLAN_INST", "Inst", 1);
      EnableTrace();
      const BaseDir found = Call(nullptr);
      EXPECT_EQ(found.result, c.gpath.empty() ? -1 : 0);
      EXPECT_EQ(found.gpath, c.gpath);
      const Lines lines = TraceLines();
      ASSERT_GT(lines.size(), c.tail.size());
      EXPECT_EQ(Lines(lines.end() - static_cast<long>(c.tail.size()) - 1, lines.end()), Concat({c.tail, {B(kLeaving)}}));
    });
  }
}

TEST(BaseDir, CallersBuffer) {
  struct Case {
    std::size_t size;
    bool null_gpath;
    int result;
    std::string gpath;
    Lines lines;  // empty: not checked
  };
  const Case cases[] = {
      {1024, true, -1, "", {B(kEntered), B("-----------Leaving --- gpath-Input parameter is null --------")}},
      {0, false, -1, "", {B(kEntered), B("-----------Leaving --- gpath-Input size is 0 --------")}},
      {16, false, 0, "/tmp/home/Base", {}},
      {15, false, 0, "/tmp/home/Base", {}},
      {14, false, 0, "/tmp/home/Bas", {}},
      {1, false, 0, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    RunIsolated([&] {
      SettledRegistry().Install("Inst", "/tmp/home");
      setenv("VORLAN_INST", "Inst", 1);
      EnableTrace();
      if (c.null_gpath) {
        EXPECT_EQ(GetVorlanBaseDir(nullptr, c.size, nullptr), -1);
      } else {
        const BaseDir found = Call(nullptr, c.size);
        EXPECT_EQ(found.result, c.result);
        EXPECT_EQ(found.gpath, c.gpath);
      }
      if (!c.lines.empty()) {
        EXPECT_EQ(TraceLines(), c.lines);
      }
    });
  }
}

TEST(BaseDir, NamesLeadingOutOfTheRegistryAreRefused) {
  const GuardedBytes text("XjInstanceName=../Vorlan/Inst,x=1");
  const Init_input from_text = text.Input(33);
  const GuardedBytes record_bytes(VmNameRecord(".."));
  const Init_input from_record = record_bytes.Input(344);
  struct Case {
    const char* name;
    const Init_input* in;
    const char* environment;  // VORLAN_INST
    std::string refused;
  };
  const Case cases[] = {
      {"options text", &from_text, "Inst", "../Vorlan/Inst"},
      {"record", &from_record, "Inst", ".."},
      {"environment dot", nullptr, ".", "."},
      {"environment dot dot", nullptr, "..", ".."},
      {"environment slash", nullptr, "Inst/../Inst", "Inst/../Inst"},
      {"environment absolute", nullptr, "/tmp/reg/Vorlan/Inst", "/tmp/reg/Vorlan/Inst"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const RegistryTree tree = SettledRegistry();
      tree.Install("Inst", "/tmp/home");
      // What "." and ".." would reach if they were taken.
      MakeDirs(kRoot + "/Vorlan/Base");
      WriteFile(kRoot + "/Vorlan/Base/.properties", "dVORLANHOME /tmp/home\n");
      MakeDirs(kRoot + "/Base");
      WriteFile(kRoot + "/Base/.properties", "dVORLANHOME /tmp/home\n");
      setenv("VORLAN_INST", c.environment, 1);
      unsetenv("VORLAN_VM");
      EnableTrace();
      EXPECT_EQ(Call(c.in).result, -1);
      const Lines lines = TraceLines();
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(lines[lines.size() - 3], N(kLeaving));
      EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
                (Lines{B("Invalid instance name [" + c.refused + "], returning error."), B(kLeaving)}));
      EXPECT_EQ(Env("VORLAN_INST"), c.environment);
      EXPECT_EQ(Env("VORLAN_VM"), std::nullopt);
      EXPECT_EQ(vorlan_vm[0], '\0');
    });
  }
  // Dots that stay inside the registry are names like any other.
  RunIsolated([] {
    SettledRegistry().Install("...", "/tmp/home");
    setenv("VORLAN_INST", "...", 1);
    EXPECT_EQ(Call(nullptr).gpath, "/tmp/home/Base");
  });
}

TEST(BaseDir, PathsThatDoNotFitAreNotTried) {
  // Each cut path names a file that exists; taking it would load the wrong thing.
  RunIsolated([] {
    const std::string root = LongDir(1023 - std::string("/Vorlan/Inst/Base/.properties").size() + 5);
    const RegistryTree tree(root);
    tree.Install("Inst", "/tmp/home");
    const std::string cut = (tree.PropertiesPath("Inst")).substr(0, 1023);
    WriteFile(cut, "dVORLANHOME /tmp/home\n");
    tree.Export();
    SettleRegistryRoot("sqluvint()");
    setenv("VORLAN_INST", "Inst", 1);
    EnableTrace();
    EXPECT_EQ(Call(nullptr).result, -1);
    const Lines lines = TraceLines();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{B("Could not open file " + cut), B(kLeaving)}));
  });
  RunIsolated([] {
    const std::string home = LongDir(1023 - std::string("/Base/libXjKelmar.so").size() + 3);
    const RegistryTree tree = SettledRegistry();
    tree.Install("Inst", home);
    const std::string cut = (home + "/Base/libXjKelmar.so").substr(0, 1023);
    WriteFile(cut, "", 0755);
    setenv("VORLAN_INST", "Inst", 1);
    EnableTrace();
    EXPECT_EQ(Call(nullptr).result, -1);
    const Lines lines = TraceLines();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{B("XJZqDb2QZT DB2 Library " + cut + " not accessible"), B(kLeaving)}));
  });
}

}  // namespace
