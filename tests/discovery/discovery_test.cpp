#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "discovery/base_dir.h"
#include "discovery/environment.h"
#include "discovery/instance_name.h"
#include "discovery/properties_readers.h"
#include "discovery/registry_root.h"
#include "testbed/testbed.h"

namespace {

namespace fs = std::filesystem;
using namespace kelmar::testbed;
using namespace std::string_literals;
using Text = std::optional<std::string>;

const std::string kEntered = "-----------Entered--------";
const std::string kLeaving = "-----------Leaving--------";
const std::string kProduct = kRegistryRoot + "/Vorlan"s;
const TraceTag kNameLine("GetVorlanInstanceName");
const TraceTag kScanLine("get_first_vorlan_instname");
const TraceTag kBaseLine("GetVorlanBaseDir");
constexpr std::size_t kRoom = 1024;           // the library's own room for a name or a path
constexpr unsigned short kRecordBytes = 344;  // the user interface's options record

void SetOrUnset(const char* variable, const char* value) { value ? setenv(variable, value, 1) : unsetenv(variable); }

struct Results { int found; int not_found; bool zeros_after = false; };
constexpr Results kZeroFilled{.found = 0, .not_found = -1, .zeros_after = true};

Text HandedBack(std::size_t capacity, Results results, const std::function<int(char*)>& call) {
  CallerBuffer buffer(capacity);
  const int result = call(buffer.data());
  EXPECT_FALSE(buffer.WrittenPastCapacity());
  if (result == results.not_found) {
    EXPECT_TRUE(buffer.Untouched()) << "written although nothing was handed back";
    return std::nullopt;
  }
  EXPECT_EQ(result, results.found);
  EXPECT_TRUE(buffer.ZeroFilled() || !results.zeros_after) << "no zeros after " << buffer.Text();
  return buffer.Text();
}

// DB2's options: `bytes` ending where an inaccessible page begins, so that a read past them crashes; none if empty.
Init_input GuardedOptions(std::string_view bytes, std::optional<unsigned short> size = std::nullopt) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* base = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (bytes.size() > page || base == MAP_FAILED || mprotect(base + page, page, PROT_NONE) != 0) std::abort();
  Init_input in{};
  in.options = bytes.empty() ? nullptr : std::memcpy(base + page - bytes.size(), bytes.data(), bytes.size());
  in.size_options = size.value_or(static_cast<unsigned short>(bytes.size()));
  return in;
}

// A record's field ends at its terminator or, filling its room, at its end; the bytes before the first are unread.
TEST(InstanceName, OneSourceChosenByTheShapeOfTheOptions) {
  constexpr std::size_t kHeadBytes = 44;
  const std::string vm_name(18, 'm');  // fills its room, as do version, vendorId, serverId and dbInstanceName
  struct Field { std::string label; std::size_t offset; std::string value; };
  const Field fields[] = {
      {.label = "instance Name", .offset = kHeadBytes, .value = "Inst1"},
      {.label = "version", .offset = 53, .value = std::string(9, 'v')},
      {.label = "build", .offset = 62, .value = "b42"},
      {.label = "vendorId", .offset = 71, .value = std::string(24, 'd')},
      {.label = "vmName", .offset = 95, .value = vm_name},
      {.label = "jmToken", .offset = 113, .value = "token"},
      {.label = "serverId", .offset = 177, .value = std::string(128, 's')},
      {.label = "dbInstanceName", .offset = 305, .value = std::string(39, 'n')},
  };
  std::string record = "XjInstanceName=FromText,";
  record.resize(kHeadBytes, 'Z');
  record.resize(kRecordBytes, '\0');
  Lines lines = {kNameLine(kEntered), kNameLine("GUI case: size_options == sizeof Db2VendorOptions_t, casting.")};
  for (const Field& field : fields) {
    record.replace(field.offset, field.value.size(), field.value);
    lines.push_back(kNameLine(field.label + " is " + field.value));
  }
  struct Case {
    std::string name;
    std::string text = "";
    std::optional<unsigned short> size = std::nullopt;  // size_options; all of the text when none
    std::size_t room = kRoom;
    Text instance = std::nullopt;
  };
  const Case cases[] = {
      {.name = "a byte short of a record: a text", .text = record, .size = kRecordBytes - 1, .instance = "FromText"},
      {.name = "no options, whatever their size", .size = kRecordBytes, .instance = "FromEnv"},
      {.name = "options of size 0", .text = record, .size = 0, .instance = "FromEnv"},
      {.name = "no options, no room", .room = 0},
      {.name = "the text ends at its terminator", .text = "A\0XjInstanceName=hidden"s},
      {.name = "size_options cuts the name", .text = "Key=1,XjInstanceName=abc,more", .size = 23, .instance = "ab"},
      {.name = "a record: its vmName, its fields traced", .text = record, .instance = vm_name},
  };
  RunIsolated([&] {
    setenv("VORLAN_INST", "FromEnv", 1);
    for (const Case& row : cases) {
      SCOPED_TRACE(row.name);
      EnableTrace();
      const Init_input in = GuardedOptions(row.text, row.size);
      const auto resolve = [&](char* name) { return GetVorlanInstanceName(name, row.room, &in); };
      EXPECT_EQ(HandedBack(row.room, {.found = 1, .not_found = 0}, resolve), row.instance);
    }
    EXPECT_TRUE(TraceIs(lines + Lines{kNameLine(kLeaving)})) << "of the last row, the record";
  });
}

TEST(FirstInstance, OutcomesAndTheirLines) {
  const auto fed = [](const std::string& message) { return Lines{kScanLine(message), ""}; };  // ends in a line feed
  const Lines skipped = {
      kScanLine("Instance001 doesnt have DB2 qZt installed. prop_dirname=[" + kProduct + "/Instance001/Db2Agent]")};
  const std::string no_agent = "/A/Db2Agent) failed, DB2 Agent is not installed under instance = " + kProduct + "/A";
  struct Case {
    std::string name;
    std::size_t room = kRoom;
    bool root_settled = true;  // as by a session's first call
    Text instance = std::nullopt;
    Lines lines = {};  // between Entered and Leaving
    std::function<void()> build = [] {};
  };
  const Case cases[] = {
      {.name = "Instance001 wins without a scan", .instance = kInstance,
       .build = [] { Installation().Instance("A").Instance(kInstance).Instance("zz"); }},
      {.name = "a file, its name shown escaped", .lines = skipped + fed("not a dir : no\\ntes"),
       .build = [] { WriteFile(kProduct + "/no\ntes", ""); }},
      {.name = "an instance without its agent", .lines = skipped + fed("stat(" + kProduct + no_agent),
       .build = [] { Installation().Instance("A", Agent::kAbsent); }},
      {.name = "a link to nothing", .lines = skipped + fed("stat(" + kProduct + "/Gone) failed, errno: 2"),
       .build = [] { fs::create_symlink("/tmp/none", kProduct + "/Gone"); }},
      {.name = "a linked instance, its agent a file", .instance = "Linked",
       .lines = skipped + fed("Got instance name:  Linked"), .build = [] {
         Installation("/tmp/x").Instance("A", Agent::kAbsent).Marker("/tmp/x/Vorlan/A/Db2Agent");
         fs::create_symlink("/tmp/x/Vorlan/A", kProduct + "/Linked");
       }},
      {.name = "an outside program's first call settles the root, shown escaped", .root_settled = false,
       .instance = kInstance, .lines = {kScanLine("-----------XJREG= [/tmp/re\\ng]")},
       .build = [] { Installation("/tmp/re\ng").Instance(kInstance).Exported(); }},
      {.name = "no room", .room = 0, .lines = fed("Invalid arguments ")},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      Installation().Exported();
      if (row.root_settled) SettleRegistryRoot("sqluvint()");
      row.build();
      EnableTrace();
      const auto scan = [&](char* name) { return get_first_vorlan_instname(name, row.room); };
      EXPECT_EQ(HandedBack(row.room, kZeroFilled, scan), row.instance);
      EXPECT_TRUE(TraceIs(Lines{kScanLine(kEntered)} + row.lines + Lines{kScanLine(kLeaving)}));
    });
  }
}

constexpr const char* kPropertiesFile = "/tmp/props";

TEST(PropertiesReaders, SameFileReadByTheBaseDirectoryAndByGetRegValue) {
  constexpr std::size_t kHomePiece = 1022;   // the characters of a piece the base directory's reader takes
  constexpr std::size_t kValuePiece = 1023;  // and get_reg_value's
  struct Case {
    std::string name;
    std::string content = "";
    std::size_t room = kRoom;
    Text home = std::nullopt;   // as the base directory's reader takes it; none: not found
    Text value = std::nullopt;  // as get_reg_value takes it
    const char* file = kPropertiesFile;
    const char* key = "dVORLANHOME";
    std::string exit = kLeaving;  // get_reg_value's last line
  };
  const Case cases[] = {
      {.name = "a key line", .content = "dVORLANHOME /opt/v\n", .home = "/opt/v", .value = "/opt/v"},
      {.name = "a longer key", .content = "dVORLANHOMEX /opt/v\n"},
      {.name = "a key without value ends the reading", .content = "dVORLANHOME\ndVORLANHOME /opt/v\n", .value = ""},
      {.name = "a blank in the value", .content = "dVORLANHOME /my dir\n", .home = "/my", .value = "/my dir"},
      {.name = "a vertical tab after the key", .content = "dVORLANHOME\v/opt/v\n", .value = "/opt/v"},
      {.name = "a home piece ends", .content = std::string(kHomePiece, 'x') + "dVORLANHOME /a\n", .home = "/a"},
      {.name = "a value piece ends", .content = std::string(kValuePiece, 'x') + "dVORLANHOME /b\n", .value = "/b"},
      {.name = "room for the terminator only", .content = "dVORLANHOME /opt/v\n", .room = 1, .home = "", .value = ""},
      {.name = "no such file", .file = "/tmp/no", .exit = "-----------Leaving--- open(/tmp/no) failed -----"},
      {.name = "no key", .key = nullptr, .exit = "-----------Leaving--- invalid arguments -----"},
      {.name = "no room", .room = 0, .exit = "-----------Leaving--- invalid arguments -----"},
  };
  RunIsolated([&] {
    for (const Case& row : cases) {
      SCOPED_TRACE(row.name);
      WriteFile(kPropertiesFile, row.content);
      std::FILE* file = std::fopen(kPropertiesFile, "r");
      const auto home = [&](char* out) { return kelmar::ReadHomeDirectory(file, std::span<char>(out, row.room)); };
      EXPECT_EQ(HandedBack(row.room, {.found = 1, .not_found = 0}, home), row.home);
      std::fclose(file);
      EnableTrace();
      const auto get = [&](char* out) { return get_reg_value({}, row.file, row.key, out, static_cast<int>(row.room)); };
      EXPECT_EQ(HandedBack(row.room, {.found = 0, .not_found = -1}, get), row.value);
      EXPECT_TRUE(TraceIs({TraceTag("get_reg_value")(kEntered), TraceTag("get_reg_value")(row.exit)}));
    }
  });
}

TEST(GetEnv, CopiesWhatFitsWithItsTerminator) {
  constexpr std::uint32_t kFits = 6;  // "value" and its terminator
  RunIsolated([] {
    setenv("KELMAR_T", "value", 1);
    CallerBuffer fits(kFits);
    EXPECT_EQ(GetEnv("KELMAR_T", fits.data(), kFits), 5);
    EXPECT_EQ(std::string(fits.data(), kFits), "value\0"s);
    EXPECT_EQ(GetEnv("KELMAR_T", nullptr, kRoom), 6) << "no buffer: the room needed";
    EXPECT_EQ(GetEnv(nullptr, fits.data(), kFits), -1);
    EXPECT_EQ(GetEnv("KELMAR_UNSET", fits.data(), kFits), -1);
  });
}

Text BaseDir(const Init_input* in, std::size_t size = kRoom) {
  return HandedBack(size, kZeroFilled, [&](char* gpath) { return GetVorlanBaseDir(gpath, size, in); });
}

TEST(BaseDir, TwoSuccessfulCallsSettleVorlanVmOnce) {
  constexpr std::size_t kMessageChars = 2046;  // what the trace keeps of a message
  const std::string longest(2047, 'k');        // VORLAN_VM is read into 2048 bytes
  const std::string too_long(2048, 'v');
  const std::string set = kBaseLine("Set Environment variable VORLAN_VM (");
  const std::string got = kBaseLine("Got Environment variable VORLAN_VM (");
  struct Case {
    std::string name;
    const char* vm_before;
    Lines vm_lines;  // of both calls
    const char* vm_after;
    std::string first = "Inst";  // the instance VORLAN_INST names for the first call; for the second, "Other"
  };
  const Case cases[] = {
      {.name = "empty: set", .vm_before = "", .vm_lines = {set + "Inst)"}, .vm_after = "Inst"},
      {.name = "the longest kept", .vm_before = longest.c_str(), .vm_lines = {(got + longest).substr(0, kMessageChars)},
       .vm_after = longest.c_str()},
      {.name = "too long to hold: nothing kept, the next call tries again", .vm_before = too_long.c_str(),
       .vm_lines = {got + ")", got + ")"}, .vm_after = too_long.c_str()},
      {.name = "an empty instance name: nothing kept, the next call tries again", .vm_before = nullptr,
       .vm_lines = {set + ")", set + "Other)"}, .vm_after = "Other", .first = ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      Installation().Instance("Other").Home("/tmp/hOther").Backend("");
      Installation().Instance(row.first).Home("/tmp/h" + row.first).Backend("").Selected();
      SettleRegistryRoot("sqluvint()");
      SetOrUnset("VORLAN_VM", row.vm_before);
      EnableTrace();
      EXPECT_EQ(BaseDir(nullptr), "/tmp/h" + row.first + "/Base");
      setenv("VORLAN_INST", "Other", 1);
      EXPECT_EQ(BaseDir(nullptr), "/tmp/hOther/Base");
      Lines vm_lines = TraceLines();
      std::erase_if(vm_lines, [](const std::string& line) { return line.find(" VORLAN_VM (") == std::string::npos; });
      EXPECT_EQ(vm_lines, row.vm_lines);
      EXPECT_STREQ(std::getenv("VORLAN_VM"), row.vm_after);
    });
  }
}

void InstallInst() { Installation().Instance("Inst").Home("/tmp/home").Backend(""); }

TEST(BaseDir, FailuresAndTheCallersBuffer) {
  const std::string dir(247, 'd');  // a registry root so long that the .properties path does not fit the room
  static const std::string long_root = "/tmp/r/" + dir + "/" + dir + "/" + dir + "/" + dir;
  static const std::string cut = (long_root + "/Vorlan/Inst/Base/.properties").substr(0, kRoom - 1);
  static const std::string kBase = "/tmp/home/Base";
  const auto refused = [](const std::string& name) {  // at once: no scan, no environment, no file
    return Lines{kNameLine(kLeaving), kBaseLine("Invalid instance name [" + name + "], returning error.")};
  };
  struct Case {
    std::string name;
    const char* vorlan_inst = "Inst";  // before and after: never written without a fallback to the scan
    const char* vorlan_vm = "Inst";    // exported from the instance name, if at all
    std::size_t size = kRoom;
    Text gpath = std::nullopt;
    Lines last_lines = {};  // before Leaving
    std::function<void()> build = InstallInst;
  };
  const Case cases[] = {
      {.name = "one byte short of the room: cut", .size = 14, .gpath = "/tmp/home/Bas"},
      {.name = "a .properties path cut to the room, naming a file that exists",
       .last_lines = {kBaseLine("Could not open file " + cut)}, .build = [] {
         Installation(long_root).Instance("Inst").Home("/tmp/home").Backend("");
         WriteFile(cut, "dVORLANHOME /tmp/home\n");
         xjReg.store(long_root.c_str());
       }},
      {.name = "a .properties whose key has no value: no home, no backend",
       .last_lines = {kBaseLine("XJZqDb2QZT DB2 Library  not accessible")},
       .build = [] { Installation().Instance("Inst").Home("/tmp/home").Backend("").Properties("dVORLANHOME\n"); }},
      {.name = "a backend this process may not run",
       .last_lines = {kBaseLine("XJZqDb2QZT DB2 Library " + kBase + "/libXjKelmar.so not accessible")},
       .build = [] { Installation().Instance("Inst").Home("/tmp/home").Marker(kBase + "/libXjKelmar.so"); }},
      {.name = "an empty registry: neither named nor found by the scan", .vorlan_inst = nullptr, .vorlan_vm = nullptr,
       .last_lines = {kBaseLine("get_first_vorlan_instname() failed as well, returning error.")}, .build = [] {}},
      {.name = "the name .", .vorlan_inst = ".", .vorlan_vm = nullptr, .last_lines = refused(".")},
      {.name = "the name ..", .vorlan_inst = "..", .vorlan_vm = nullptr, .last_lines = refused("..")},
      {.name = "a slash", .vorlan_inst = "\x1b/", .vorlan_vm = nullptr, .last_lines = refused("\\x1b/")},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      Installation().Exported();
      SettleRegistryRoot("sqluvint()");
      row.build();
      SetOrUnset("VORLAN_INST", row.vorlan_inst);
      EnableTrace();
      EXPECT_EQ(BaseDir(nullptr, row.size), row.gpath);
      EXPECT_TRUE(TraceEndsWith(row.last_lines + Lines{kBaseLine(kLeaving)}));
      EXPECT_STREQ(std::getenv("VORLAN_INST"), row.vorlan_inst);
      EXPECT_STREQ(std::getenv("VORLAN_VM"), row.vorlan_vm);
    });
  }
  RunIsolated([] {
    EnableTrace();
    EXPECT_EQ(GetVorlanBaseDir(nullptr, kRoom, nullptr), -1);
    EXPECT_EQ(BaseDir(nullptr, 0), std::nullopt);
    EXPECT_TRUE(TraceHolds(kBaseLine("-----------Leaving --- gpath-Input parameter is null --------")));
    EXPECT_TRUE(TraceHolds(kBaseLine("-----------Leaving --- gpath-Input size is 0 --------")));
  });
}

}  // namespace
