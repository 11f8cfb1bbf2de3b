#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "caller_buffer.h"
#include "long_dir.h"
#include "front/registry_root.h"
#include "kelmar/libkelmar.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"
#include "trace_lines.h"

namespace {

namespace fs = std::filesystem;
using namespace kelmar::testbed;

const std::string kRoot = "/tmp/reg";
const std::string kProduct = kRoot + "/Vorlan";

std::string Tagged(const std::string& message) { return kelmar::testbed::Tagged("get_first_vorlan_instname", message); }

// A message that ends in a line feed gives its line and an empty one.
Lines TaggedWithFeed(const std::string& message) { return {Tagged(message), ""}; }

const Lines kEntered{Tagged(kEnteredText)};
const Lines kLeaving{Tagged(kLeavingText)};
const Lines kNoPreferred{
    Tagged("Instance001 doesnt have DB2 qZt installed. prop_dirname=[" + kProduct + "/Instance001/Db2Agent]")};

void Link(const std::string& target, const std::string& link) { fs::create_symlink(target, link); }

// The product directory's entries in the order the listing returns them.
std::vector<std::string> ListingOrder() {
  std::vector<std::string> names;
  DIR* listing = opendir(kProduct.c_str());
  while (const dirent* entry = listing ? readdir(listing) : nullptr) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (listing) closedir(listing);
  return names;
}

struct Scan {
  int result;
  std::string name;
  bool untouched;
};

// Settles the root on the registry first, so that only the scan's lines are traced.
Scan RunScan(std::size_t capacity = 1024) {
  setenv("XJREG", kRoot.c_str(), 1);
  SettleRegistryRoot("test");
  EnableTrace();
  CallerBuffer buffer(capacity);
  const int result = get_first_vorlan_instname(buffer.data(), capacity);
  Scan scan{result, result == 0 ? buffer.Text() : "", buffer.Untouched()};
  EXPECT_FALSE(buffer.WrittenPastCapacity());
  // Cleared before the name on success; not written at all on failure.
  EXPECT_TRUE(scan.result == 0 ? buffer.ZeroFilled() : scan.untouched);
  return scan;
}

TEST(FirstInstance, SingleEntryOutcomesAndTheirLines) {
  struct Case {
    const char* name;
    std::function<void(const RegistryTree&)> build;
    int result;
    std::string instance;
    Lines scan_lines;  // between the Instance001 line and the Leaving line
  };
  const Case cases[] = {
      {"a regular file", [](const RegistryTree&) { WriteFile(kProduct + "/notes.txt", "x"); }, -1, "",
       TaggedWithFeed("not a dir : notes.txt")},
      {"an instance without its agent", [](const RegistryTree& t) { t.AddInstance("InstanceA", false); }, -1, "",
       TaggedWithFeed("stat(" + kProduct + "/InstanceA/Db2Agent) failed, DB2 Agent is not installed under instance = " +
                      kProduct + "/InstanceA")},
      {"a dangling link", [](const RegistryTree&) { Link("/tmp/nowhere", kProduct + "/Gone"); }, -1, "",
       TaggedWithFeed("stat(" + kProduct + "/Gone) failed, errno: 2")},
      {"a linked instance",
       [](const RegistryTree&) {
         MakeDirs("/tmp/elsewhere/Real/Db2Agent");
         Link("/tmp/elsewhere/Real", kProduct + "/Linked");
       },
       0, "Linked", TaggedWithFeed("Got instance name:  Linked")},
      {"an agent that is a regular file",
       [](const RegistryTree& t) {
         t.AddInstance("FileAgent", false);
         WriteFile(t.InstanceDir("FileAgent") + "/Db2Agent", "");
       },
       0, "FileAgent", TaggedWithFeed("Got instance name:  FileAgent")},
      {"an agent that is a dangling link",
       [](const RegistryTree& t) {
         t.AddInstance("LostAgent", false);
         Link("/tmp/nowhere", t.InstanceDir("LostAgent") + "/Db2Agent");
       },
       -1, "",
       TaggedWithFeed("stat(" + kProduct + "/LostAgent/Db2Agent) failed, DB2 Agent is not installed under instance = " +
                      kProduct + "/LostAgent")},
      {"a hidden instance", [](const RegistryTree& t) { t.AddInstance(".hidden"); }, 0, ".hidden",
       TaggedWithFeed("Got instance name:  .hidden")},
      {"an empty product directory", [](const RegistryTree&) {}, -1, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const RegistryTree tree(kRoot);
      c.build(tree);
      const Scan scan = RunScan();
      EXPECT_EQ(scan.result, c.result);
      EXPECT_EQ(scan.name, c.instance);
      EXPECT_EQ(TraceLines(), Concat({kEntered, kNoPreferred, c.scan_lines, kLeaving}));
    });
  }
}

TEST(FirstInstance, PreferredInstanceWinsWithoutAScan) {
  for (const bool agent_is_file : {false, true}) {
    RunIsolated([&] {
      const RegistryTree tree(kRoot);
      for (const char* other : {"A", "Instance000", "zz"}) tree.AddInstance(other);
      tree.AddInstance("Instance001", !agent_is_file);
      if (agent_is_file) WriteFile(tree.InstanceDir("Instance001") + "/Db2Agent", "");
      const Scan scan = RunScan();
      EXPECT_EQ(scan.result, 0);
      EXPECT_EQ(scan.name, "Instance001");
      EXPECT_EQ(TraceLines(), Concat({kEntered, kLeaving}));
    });
  }
}

TEST(FirstInstance, FirstQualifyingEntryInListingOrderWins) {
  RunIsolated([] {
    const RegistryTree tree(kRoot);
    tree.AddInstance("Instance001", false);
    for (const char* name : {"Mid", "Zeta", "Alpha", "Beta"}) tree.AddInstance(name);
    WriteFile(kProduct + "/readme", "");

    std::string winner;
    for (const std::string& name : ListingOrder()) {
      if (name != "Instance001" && name != "readme") {
        winner = name;
        break;
      }
    }
    const Scan scan = RunScan();
    EXPECT_EQ(scan.result, 0);
    EXPECT_EQ(scan.name, winner);
    const Lines lines = TraceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], kNoPreferred[0]);
    EXPECT_EQ(lines[lines.size() - 3], Tagged("Got instance name:  " + winner));
  });
}

TEST(FirstInstance, ProductDirectoryThatCannotBeListed) {
  struct Case {
    const char* name;
    bool make_file;  // a regular file where the directory belongs; else nothing
    int error;
  };
  const Case cases[] = {{"missing", false, ENOENT}, {"a regular file", true, ENOTDIR}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      MakeDirs(kRoot);
      if (c.make_file) WriteFile(kProduct, "");
      const Scan scan = RunScan();
      EXPECT_EQ(scan.result, -1);
      EXPECT_EQ(TraceLines(),
                Concat({kEntered,
                        TaggedWithFeed("open(" + kProduct + ") failed with errno: " + std::to_string(c.error)),
                        kLeaving}));
    });
  }
}

TEST(FirstInstance, BufferArguments) {
  struct Case {
    std::size_t capacity;
    bool null_buffer;
    int result;
    std::string name;
  };
  const Case cases[] = {
      {1024, true, -1, ""}, {0, false, -1, ""}, {12, false, 0, "Instance001"},
      {6, false, 0, "Insta"}, {1, false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    RunIsolated([&] {
      RegistryTree(kRoot).AddInstance("Instance001");
      if (c.null_buffer) {
        setenv("XJREG", kRoot.c_str(), 1);
        SettleRegistryRoot("test");
        EnableTrace();
        EXPECT_EQ(get_first_vorlan_instname(nullptr, c.capacity), -1);
      } else {
        const Scan scan = RunScan(c.capacity);
        EXPECT_EQ(scan.result, c.result);
        EXPECT_EQ(scan.name, c.name);
      }
      if (c.result != 0) {
        EXPECT_EQ(TraceLines(), Concat({kEntered, TaggedWithFeed("Invalid arguments "), kLeaving}));
      }
    });
  }
}

TEST(FirstInstance, OutsideCallerBeforeTheRootIsSettled) {
  // From XJREG, and from the default when XJREG is unset.
  RunIsolated([] {
    RegistryTree(kRoot).AddInstance("Instance001");
    setenv("XJREG", kRoot.c_str(), 1);
    EnableTrace();
    char name[64];
    EXPECT_EQ(get_first_vorlan_instname(name, sizeof name), 0);
    EXPECT_STREQ(name, "Instance001");
    EXPECT_STREQ(xjReg.load(), kRoot.c_str());
    EXPECT_EQ(TraceLines(), Concat({kEntered, {Tagged("-----------XJREG= [" + kRoot + "]")}, kLeaving}));
  });
  RunIsolated([] {
    unsetenv("XJREG");
    EnableTrace();
    char name[64];
    get_first_vorlan_instname(name, sizeof name);
    EXPECT_STREQ(xjReg.load(), "/etc/TornevaleRegistry");
    const Lines lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], Tagged("-----------XJREG= [/etc/TornevaleRegistry]"));
  });
}

TEST(FirstInstance, PathsThatDoNotFitAreNotTested) {
  // The cut agent path ".../Db2Age" exists; only the whole one may count.
  RunIsolated([] {
    const std::string root = LongDir(1023 - std::string("/Vorlan/Inst/Db2Agent").size() + 2);
    const RegistryTree tree(root);
    tree.AddInstance("Inst", false);
    const std::string agent = tree.InstanceDir("Inst") + "/Db2Agent";
    MakeDirs(agent.substr(0, 1023));
    setenv("XJREG", root.c_str(), 1);
    SettleRegistryRoot("test");
    EnableTrace();
    char name[64];
    EXPECT_EQ(get_first_vorlan_instname(name, sizeof name), -1);
    const Lines lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    // Two long paths: the log keeps the message's first 2046 characters.
    const std::string stat_line = Tagged("stat(" + agent.substr(0, 1023) +
                                         ") failed, DB2 Agent is not installed under instance = " +
                                         tree.InstanceDir("Inst"));
    EXPECT_EQ(lines[lines.size() - 2], stat_line.substr(0, lines[lines.size() - 2].size()));
    EXPECT_GT(lines[lines.size() - 2].size(), agent.size());
  });
  // The cut product directory ".../Vorl" exists.
  RunIsolated([] {
    const std::string root = LongDir(1023 - std::string("/Vorlan").size() + 2);
    const std::string cut = (root + "/Vorlan").substr(0, 1023);
    MakeDirs(cut + "/Instance001/Db2Agent");
    setenv("XJREG", root.c_str(), 1);
    SettleRegistryRoot("test");
    EnableTrace();
    char name[64];
    EXPECT_EQ(get_first_vorlan_instname(name, sizeof name), -1);
    EXPECT_EQ(TraceLines(), Concat({kEntered, TaggedWithFeed("open(" + cut + ") failed with errno: 36"), kLeaving}));
  });
}

}  // namespace
