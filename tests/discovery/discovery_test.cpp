// Installation discovery: which instance serves a session, and where its backend is.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>

#include "discovery/base_dir.h"
#include "discovery/environment.h"
#include "discovery/instance_name.h"
#include "discovery/properties_readers.h"
#include "discovery/registry_root.h"
#include "kelmar/vendor_options_record.h"
#include "testbed/caller_buffer.h"
#include "testbed/db2_session.h"

namespace {

namespace fs = std::filesystem;
using namespace kelmar::testbed;
using Text = std::optional<std::string>;
using Tree = const RegistryTree&;
using Build = std::function<void(Tree)>;
const std::string kEntered = "-----------Entered--------", kLeaving = "-----------Leaving--------", kRoot = "/tmp/reg";
constexpr kelmar::VendorOptionsField kVmName = kelmar::kVendorOptionsFields[kelmar::kVmNameField];

std::string N(const std::string& message) { return "GetVorlanInstanceName: " + message; }
std::string F(const std::string& message) { return "get_first_vorlan_instname: " + message; }
std::string B(const std::string& message) { return "GetVorlanBaseDir: " + message; }

Lines operator+(Lines all, const Lines& more) {
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

// The root settles once per process: in a session, or in the first call of an outside program (`settle` false).
RegistryTree SettledRegistry(bool settle = true) {
  RegistryTree tree(kRoot);
  tree.Export();
  if (settle) SettleRegistryRoot("sqluvint()");
  return tree;
}

Text Get(const char* name) { return std::getenv(name) ? Text(std::getenv(name)) : std::nullopt; }
void Put(const char* name, const Text& value) { value ? setenv(name, value->c_str(), 1) : unsetenv(name); }

// The text that `call` wrote into a caller's marked buffer of `capacity` bytes when it returned `success`; else
// it must return `failure` and write nothing. Nothing lands past the capacity; with `zeroed`, only zeros follow.
template <typename Call>
Text Written(std::size_t capacity, int success, int failure, Call call, bool zeroed = false) {
  CallerBuffer buffer(capacity);
  const int result = call(buffer.data());
  EXPECT_TRUE(result == success || result == failure) << "result " << result;
  EXPECT_FALSE(buffer.WrittenPastCapacity());
  EXPECT_TRUE(result == success ? !zeroed || buffer.ZeroFilled() : buffer.Untouched());
  return result == success ? Text(buffer.Text()) : std::nullopt;
}

// DB2's options: `bytes` that end where an inaccessible page begins, so that a read past them crashes instead of
// passing by luck; size_options tells all of them unless `size` is given.
Init_input GuardedOptions(std::string_view bytes, int size = -1) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* base = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (bytes.size() > page || base == MAP_FAILED || mprotect(base + page, page, PROT_NONE) != 0) std::abort();
  Init_input in{};
  in.options = std::memcpy(base + page - bytes.size(), bytes.data(), bytes.size());
  in.size_options = static_cast<unsigned short>(size < 0 ? static_cast<int>(bytes.size()) : size);
  return in;
}

Text Resolve(const Init_input* in, std::size_t capacity = 1024) {
  return Written(capacity, 1, 0, [&](char* name) { return GetVorlanInstanceName(name, capacity, in); });
}

TEST(InstanceName, OneSourceChosenByTheOptionsReadWithinThemAndItsLines) {
  std::string record = "XjInstanceName=FromText," + std::string(320, 'x');  // 344 bytes that name one instance
  record.replace(kVmName.offset, 7, std::string("FromVm\0", 7));             // and another in vmName
  const std::string bounded = "Key=1,XjInstanceName=abc,more";
  struct Case { std::string text; Text name; int size = -1; bool null_options = false; };
  const Case cases[] = {
      {record, "FromVm"}, {record, "FromText", 343}, {record, "FromEnv", 344, true}, {record, "FromEnv", 0},
      {"XjInstanceName=Inst2,K=1", "Inst2"}, {"K=1,XjInstanceName=", ""}, {"XjInstanceName=,K=1", ""},
      {"OtherKey=1", std::nullopt},  // VORLAN_INST is not consulted for a text
      {std::string("A\0XjInstanceName=hidden", 24), std::nullopt},  // the text ends at its terminator
      {std::string("XjInstanceName=ab\0,cd", 21), "ab"},
      {"XjInstanceName=" + std::string(1100, 'n'), std::string(1023, 'n')},
      {bounded, "abc", 24}, {bounded, "ab", 23}, {bounded, "", 21}, {bounded, std::nullopt, 20},
  };
  RunIsolated([&] {
    setenv("VORLAN_INST", "FromEnv", 1);
    EnableTrace();
    for (const Case& c : cases) {
      Init_input in = GuardedOptions(c.text, c.size);
      if (c.null_options) in.options = nullptr;
      EXPECT_EQ(Resolve(&in), c.name) << c.text.substr(0, 40) << " in " << in.size_options;
    }
    EXPECT_EQ(TimesLogged(N("inPtrEnd is null, copying rest of the string.")), 6u);  // no comma after six names
    const std::pair<std::size_t, Text> capacities[] = {{8, "FromEnv"}, {7, "FromEn"}, {1, ""}, {0, std::nullopt}};
    for (const auto& [capacity, name] : capacities) EXPECT_EQ(Resolve(nullptr, capacity), name) << capacity;
    EnableTrace();
    const Init_input in = GuardedOptions("A=1,XjInstanceName=Inst7,B=2\n\x1b");  // shown escaped
    EXPECT_EQ(Resolve(&in), "Inst7");
    const char* key = static_cast<const char*>(in.options) + 4;
    EXPECT_EQ(TraceLines(), (Lines{N(kEntered), N("CommandLine case with VENDOROPT set."),
                                   N("Looking for the string \"XjInstanceName=\""), N("Found \"XjInstanceName=\""),
                                   N("inPtr: " + Shown(key) + ", XjInstanceName=Inst7,B=2\\n\\x1b"), "",
                                   N("inPtrBeg: " + Shown(key + 15) + ", Inst7,B=2\\n\\x1b"), "",
                                   N("inPtrEnd is " + Shown(key + 20)), "", N("InstanceName is Inst7"),
                                   N(kLeaving)}));
    const std::array<const char*, 8> labels = {"instance Name", "version", "build", "vendorId", "vmName", "jmToken",
                                               "serverId", "dbInstanceName"};
    // A field ends at its terminator or, filling its room, at the room's end: the last at the record's end.
    const std::array<std::string, 8> fields = {
        "Inst1", std::string(9, 'v'), "b42", std::string(24, 'd'), std::string(18, 'm'), "t\ro\n",
        std::string(128, 's'), std::string(39, 'n')};
    std::string record = std::string(44, 'Z') + std::string(300, '\0');  // the head is not read
    Lines expected{N(kEntered), N("GUI case: size_options == sizeof Db2VendorOptions_t, casting.")};
    for (std::size_t i = 0; i < fields.size(); ++i) {
      record.replace(kelmar::kVendorOptionsFields[i].offset, fields[i].size(), fields[i]);
      expected.push_back(N(std::string(labels[i]) + " is " + fields[i]));
    }
    expected[7] = N("jmToken is t\\ro\\n");  // shown escaped
    ClearTrace();
    const Init_input gui = GuardedOptions(record);
    EXPECT_EQ(Resolve(&gui), fields[4]);
    EXPECT_EQ(TraceLines(), expected + Lines{N(kLeaving)});
  });
}

TEST(FirstInstance, OutcomesAndTheirLines) {
  const std::string product = kRoot + "/Vorlan";
  const auto fed = [](const std::string& message) { return Lines{F(message), ""}; };  // ends in a line feed
  const Lines no_preferred{
      F("Instance001 doesnt have DB2 qZt installed. prop_dirname=[" + product + "/Instance001/Db2Agent]")};
  const auto preferred = [](Tree t) { t.AddInstance("Instance001"); };
  // `lines`: those between Entered and Leaving.
  struct Case { Build build; Text instance; Lines lines; std::size_t capacity = 1024; bool settled = true; };
  const Case cases[] = {
      {[](Tree t) { for (auto i : {"A", "Instance001", "zz"}) t.AddInstance(i); }, "Instance001", {}},  // no scan
      {[&](Tree) { WriteFile(product + "/no\ntes", ""); }, {}, no_preferred + fed("not a dir : no\\ntes")},
      {[](Tree t) { t.AddInstance("A", false); }, std::nullopt,
       no_preferred + fed("stat(" + product + "/A/Db2Agent) failed, DB2 Agent is not installed under instance = " +
                          product + "/A")},
      {[&](Tree) { fs::create_symlink("/tmp/none", product + "/Gone"); }, std::nullopt,
       no_preferred + fed("stat(" + product + "/Gone) failed, errno: 2")},
      {[&](Tree) { fs::remove(product); }, std::nullopt, fed("open(" + product + ") failed with errno: 2")},
      {[](Tree) {  // an outside program's first call; a control character in XJREG is shown escaped
         RegistryTree("/tmp/re\ng").AddInstance("Instance001");
         setenv("XJREG", "/tmp/re\ng", 1);
       }, "Instance001", {F("-----------XJREG= [/tmp/re\\ng]")}, 1024, false},
      {preferred, std::nullopt, fed("Invalid arguments "), 0}, {preferred, "Insta", {}, 6}, {preferred, "", {}, 1},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      c.build(SettledRegistry(c.settled));
      EnableTrace();
      const auto scan = [&](char* name) { return get_first_vorlan_instname(name, c.capacity); };
      EXPECT_EQ(Written(c.capacity, 0, -1, scan, true), c.instance);
      EXPECT_EQ(TraceLines(), Lines{F(kEntered)} + c.lines + Lines{F(kLeaving)});
    });
  }
  RunIsolated([] {  // the first qualifying entry in listing order wins
    const RegistryTree tree = SettledRegistry();
    for (const char* name : {"Mid", "Zeta", "Alpha", "Beta"}) tree.AddInstance(name);
    EXPECT_EQ(Written(64, 0, -1, [](char* name) { return get_first_vorlan_instname(name, 64); }),
              fs::directory_iterator(kRoot + "/Vorlan")->path().filename().string());
  });
}

// `content` read as a file by the base directory's reader (no key) or by get_reg_value's.
Text Read(std::string content, std::optional<std::string_view> key, std::size_t capacity = 1024) {
  return Written(capacity, 1, 0, [&](char* value) {
    std::FILE* file = fmemopen(content.data(), content.size(), "r");
    const std::span<char> out(value, capacity);
    const bool found = file && (key ? kelmar::ReadRegValue(file, *key, out) : kelmar::ReadHomeDirectory(file, out));
    if (file != nullptr) std::fclose(file);
    return found;
  });
}

TEST(PropertiesReaders, SameFileReadByBothRules) {
  struct Case { std::string content; Text home, reg_value; std::size_t capacity = 1024; };  // as each reads it
  const Case cases[] = {
      {"dVORLANHOME /opt/v\n", "/opt/v", "/opt/v"}, {"dVORLANHOME /opt/v", "/opt/v", "/opt/v"}, {"", {}, {}},
      {" \t dVORLANHOME /opt/v\n", "/opt/v", {}}, {"dVORLANHOMEX /opt/v\n", {}, {}}, {"XdVORLANHOME /opt/v\n", {}, {}},
      {"# note\nOther 1\n\n \t\ndVORLANHOME /opt/v\n", "/opt/v", "/opt/v"}, {"dVORLANHOME", {}, ""},
      {"dVORLANHOME\ndVORLANHOME /opt/v\n", {}, ""},  // a key line without value stops the reading
      {"dVORLANHOME /opt/my dir\n", "/opt/my", "/opt/my dir"}, {"dVORLANHOME\t\t/opt/v  \n", "/opt/v", "/opt/v  "},
      {"dVORLANHOME\v/opt/v\n", {}, "/opt/v"}, {std::string("dVORLANHOME\0 /opt/x\n", 20), {}, ""},
      // A longer line goes on as further pieces: of 1022 characters for one reader, 1023 for the other.
      {std::string(1022, 'x') + "dVORLANHOME /a\n", "/a", {}}, {std::string(1023, 'x') + "dVORLANHOME /b\n", {}, "/b"},
      {"dVORLANHOME " + std::string(1200, 'v') + "\n", std::string(1010, 'v'), std::string(1011, 'v')},
      {"dVORLANHOME /opt/vorlan\n", "/opt", "/opt", 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.content, std::nullopt, c.capacity), c.home) << c.content;
    EXPECT_EQ(Read(c.content, "dVORLANHOME", c.capacity), c.reg_value) << c.content;
  }
}

TEST(GetRegValue, ResultsAndLines) {
  const std::string invalid = "-----------Leaving--- invalid arguments -----";
  struct Case { const char *file, *key; int size; Text value; std::string exit_line; bool null_value = false; };
  const Case cases[] = {
      {"/tmp/props", "home", 64, "/opt/v", kLeaving}, {"/tmp/props", "home", 1, "", kLeaving},
      {"/tmp/absent", "home", 64, {}, "-----------Leaving--- open(/tmp/absent) failed -----"},
      {nullptr, "home", 64, {}, invalid}, {"/tmp/props", nullptr, 64, {}, invalid},
      {"/tmp/props", "home", 64, {}, invalid, true}, {"/tmp/props", "home", 0, {}, invalid},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      WriteFile("/tmp/props", "home /opt/v\nhome /other\n");
      EnableTrace();
      const auto read = [&](char* v) { return get_reg_value({}, c.file, c.key, c.null_value ? nullptr : v, c.size); };
      EXPECT_EQ(Written(64, 0, -1, read), c.value) << c.exit_line;
      EXPECT_EQ(TraceLines(), (Lines{"get_reg_value: " + kEntered, "get_reg_value: " + c.exit_line}));
    });
  }
}

// GetEnv copies the value with its terminator only when it fits; the result tells the length or the room needed.
TEST(GetEnv, CopiesWhatFitsWithItsTerminator) {
  struct Case { const char* name; std::uint32_t size; int result; std::string copied; };  // none: untouched
  const Case cases[] = {{"KELMAR_T", 6, 5, {"value", 6}}, {"KELMAR_T", 5, 6, ""}, {"KELMAR_T", 0, 6, ""},
                        {"KELMAR_E", 1, 0, {"", 1}}, {"KELMAR_UNSET", 64, -1, ""}, {nullptr, 64, -1, ""}};
  RunIsolated([&] {
    setenv("KELMAR_T", "value", 1);
    setenv("KELMAR_E", "", 1);
    for (const Case& c : cases) {
      CallerBuffer buffer(c.size);
      EXPECT_EQ(GetEnv(c.name, buffer.data(), c.size), c.result) << c.size;
      EXPECT_TRUE(c.copied.empty() ? buffer.Untouched() : std::string(buffer.data(), c.copied.size()) == c.copied);
    }
    EXPECT_EQ(GetEnv("KELMAR_T", nullptr, 64), 6);
  });
}

// The base directory handed back, every byte after it zero; none on -1.
Text Call(const Init_input* in, std::size_t size = 1024) {
  return Written(size, 0, -1, [&](char* gpath) { return GetVorlanBaseDir(gpath, size, in); }, true);
}

// The lines of a successful call for `instance`, installed in "/tmp/h<instance>" and named by VORLAN_INST or
// else `scanned`, with `vm_line` unless empty.
Lines Success(const std::string& instance, const std::string& vm_line, bool scanned) {
  Lines lines = Lines{B(kEntered), N(kEntered), N("Possibly CommandLine case, VENDOROPT not set.")} +
                (scanned ? Lines{N(kLeaving), B("GetVorlanInstanceName failed, trying to get the name of the first "
                                                "vorlan instance name."),
                                 F(kEntered), F(kLeaving), B("Setting the env: " + instance + "..."),
                                 B("Setting the env: VORLAN_INST=" + instance + " succeeded")}
                         : Lines{N("VORLAN_INST is set to " + instance), N(kLeaving)});
  if (!vm_line.empty()) lines.push_back(B(vm_line).substr(0, 2046));  // the log keeps 2046 characters
  return lines + Lines{B("path for .properties is: " + kRoot + "/Vorlan/" + instance + "/Base/.properties"),
                       B("path for .properties is: /tmp/h" + instance), B(kLeaving)};
}

TEST(BaseDir, TwoSuccessfulCallsSettleVorlanVmOnce) {
  const std::string kept(2047, 'k'), too_long(2048, 'v');
  const std::string set = "Set Environment variable VORLAN_VM (", got = "Got Environment variable VORLAN_VM (";
  // VORLAN_VM before; the first call's instance (the second's is "Other"); each call's VORLAN_VM line (empty:
  // none); VORLAN_VM in the end; whether the first call scans for its instance.
  struct Case { Text preset; std::string first, line1, line2; Text after; bool scanned = false; };
  const Case cases[] = {
      {std::nullopt, "Instance001", set + "Instance001)", "", "Instance001", true},
      {"", "Inst", set + "Inst)", "", "Inst"}, {kept, "Inst", got + kept + ")", "", kept},
      // Too long to hold, or an empty name: nothing is kept and the next call tries again.
      {too_long, "Inst", got + ")", got + ")", too_long}, {std::nullopt, "", set + ")", set + "Other)", "Other"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      const RegistryTree tree = SettledRegistry();
      for (const std::string& instance : {c.first, std::string("Other")}) tree.Install(instance, "/tmp/h" + instance);
      Put("VORLAN_VM", c.preset);
      Put("VORLAN_INST", c.scanned ? std::nullopt : Text(c.first));
      EnableTrace();
      EXPECT_EQ(Call(nullptr), "/tmp/h" + c.first + "/Base");
      EXPECT_EQ(TraceLines(), Success(c.first, c.line1, c.scanned));
      EXPECT_EQ(Get("VORLAN_INST"), c.first);  // written after the scan
      ClearTrace();
      setenv("VORLAN_INST", "Other", 1);
      EXPECT_EQ(Call(nullptr), "/tmp/hOther/Base");
      EXPECT_EQ(TraceLines(), Success("Other", c.line2, false));
      EXPECT_EQ(Get("VORLAN_VM"), c.after);
    });
  }
}

TEST(BaseDir, FailuresAndTheCallersBuffer) {
  const std::string library = "/tmp/home/Base/libXjKelmar.so";
  std::string long_root = "/tmp/r";  // 999 characters: the .properties path is 5 too long
  while (long_root.size() < 999) long_root += long_root.size() % 200 == 0 ? '/' : 'd';
  const std::string cut = (long_root + "/Vorlan/Inst/Base/.properties").substr(0, 1023);
  const auto installed = [](Tree t) { t.Install("Inst", "/tmp/home"); };
  const auto refused = [](std::string name) {  // at once: no scan, no environment, no file
    return Lines{N(kLeaving), B("Invalid instance name [" + name + "], returning error.")};
  };
  // DB2's options text (none when empty); VORLAN_INST, never written without a fallback; the lines before Leaving.
  struct Case { Build build; std::string options; Text vorlan_inst, gpath; Lines tail;
                bool vm_exported = true; std::size_t size = 1024; };
  const Case cases[] = {
      {installed, "XjInstanceName=Inst,x=1", std::nullopt, "/tmp/home/Base", {}},
      {installed, "", "Inst", "/tmp/home/Bas", {}, true, 14}, {installed, "", "Inst", "/tmp/home/Base", {}, true, 15},
      // The cut path names a file that exists; reading it would load another backend.
      {[&](Tree) {
         RegistryTree(long_root).Install("Inst", "/tmp/home");
         WriteFile(cut, "dVORLANHOME /tmp/home\n");
         xjReg.store(long_root.c_str());
       }, "", "Inst", std::nullopt, {B("Could not open file " + cut)}},
      {[&](Tree t) { installed(t); WriteFile(library, "", 0644); }, "", "Inst", std::nullopt,
       {B("XJZqDb2QZT DB2 Library " + library + " not accessible")}},
      {installed, "XjInstanceName=../Vorlan/Inst,x=1", "Inst", std::nullopt, refused("../Vorlan/Inst"), false},
      {installed, "", ".", {}, refused("."), false}, {installed, "", "..", {}, refused(".."), false},
      {installed, "", "\x1b/", {}, refused("\\x1b/"), false},  // the value as it is, shown escaped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options + " " + c.vorlan_inst.value_or("-"));
    RunIsolated([&] {
      c.build(SettledRegistry());
      Put("VORLAN_INST", c.vorlan_inst);
      EnableTrace();
      const Init_input in = GuardedOptions(c.options);
      EXPECT_EQ(Call(c.options.empty() ? nullptr : &in, c.size), c.gpath);
      const Lines lines = TraceLines(), tail = c.tail + Lines{B(kLeaving)};
      ASSERT_GT(lines.size(), tail.size());
      EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(tail.size()), lines.end()), tail);
      EXPECT_EQ(Get("VORLAN_INST"), c.vorlan_inst);
      EXPECT_EQ(Get("VORLAN_VM").has_value(), c.vm_exported);
    });
  }
  RunIsolated([] {
    EnableTrace();
    EXPECT_EQ(GetVorlanBaseDir(nullptr, 1024, nullptr), -1);
    EXPECT_EQ(Call(nullptr, 0), std::nullopt);
    EXPECT_EQ(TraceLines(), (Lines{B(kEntered), B("-----------Leaving --- gpath-Input parameter is null --------"),
                                   B(kEntered), B("-----------Leaving --- gpath-Input size is 0 --------")}));
  });
}

}  // namespace
