// kelmar-check names the real cause of a failure, with the step and exit
// status it belongs to, and never hands a control byte of a path to the
// terminal.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

const std::string kProperties = "/tmp/reg/Vorlan/Instance001/Base/.properties";

using Registry = const RegistryTree&;

// The installation of Instance001 at /tmp/vorlan with `properties` in place of its own.
void InstallWith(Registry registry, const std::string& properties) {
  registry.Install("Instance001", "/tmp/vorlan", KELMAR_SAMPLE_BACKEND);
  registry.WriteProperties("Instance001", properties);
}

// Only a line feed may end a line; no other C0, DEL or C1 character may reach the terminal.
bool HasRawControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0;
    if ((c < 0x20 && c != '\n') || c == 0x7f || c1) return true;
  }
  return false;
}

TEST(CheckCauses, NamesTheCauseWithItsStepAndEscapesEveryField) {
  // What breaks the installation, whether the check runs as an ordinary user,
  // its arguments, the exit status and fragments of the plain and the JSON report.
  struct Case { std::function<void(Registry)> arrange; bool ordinary_user; Names args; int status; Names plain; Names json; };
  const Case cases[] = {
      {[](Registry r) { r.AddInstance("Instance001"); chmod("/tmp/reg/Vorlan", 0700); }, true,
       {"--options", "XjInstanceName=Instance001"}, 3,
       {"FAILED at registry (exit status 3): no registry: /tmp/reg/Vorlan cannot be searched: Permission denied"}, {}},
      {[](Registry r) { r.AddInstance("Instance001"); chmod("/tmp/reg/Vorlan", 0311); }, true, {}, 4,
       {"FAILED at instance (exit status 4): no instance: DB2 passes no options and VORLAN_INST is not set, and "
        "/tmp/reg/Vorlan cannot be listed: Permission denied"}, {}},
      {[](Registry r) { r.AddInstance("Instance001"); MakeDirs(kProperties); }, false, {}, 5,
       {"(exit status 5): cannot open " + kProperties + ": it is a directory, not a regular file"}, {}},
      {[](Registry r) { InstallWith(r, "dVORLANHOME\ndVORLANHOME /tmp/vorlan\n"); }, false, {}, 6,
       {"(exit status 6): no \"dVORLANHOME\" line with a value in " + kProperties +
        ": the first such line has none, and the library reads no further"}, {}},
      {[](Registry r) { InstallWith(r, "dVORLANHOME /tmp/vorlan\r\n"); }, false, {}, 7,
       {"\nhome              ok       /tmp/vorlan\\r\n", "(exit status 7): /tmp/vorlan\\r/Base/libXjKelmar.so: No such",
        "note: dVORLANHOME in " + kProperties + ": the value ends with a carriage return: the file has DOS line ends"},
       {R"("home":"/tmp/vorlan\u000d")"}},
      {[](Registry r) { InstallWith(r, "dVORLANHOME /tmp/vorlan old\n"); }, false, {}, 0,
       {"the value holds a blank: the library takes only \"/tmp/vorlan\" and ignores the rest of the line, \" old\""},
       {}},
      {[](Registry r) { InstallWith(r, "dVORLANHOME /tmp/vorlan \t\n"); }, false, {}, 0,
       {"the value is followed by a blank: the library ignores it, but get_reg_value keeps it and reads "
        "\"/tmp/vorlan \\t\""}, {}},
      {[](Registry) { setenv("XJREG", "/tmp/\x1b[2J\xc2\x9b\xff\x7f\\reg", 1); }, false, {}, 3,
       {"no registry: /tmp/\\x1b[2J\\xc2\\x9b\\xff\\x7f\\\\reg/Vorlan: No such file or directory"},
       {R"("root":"/tmp/\u001b[2J\u009b\ufffd\u007f\\reg")"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain.front());
    RunIsolated([&] {
      unsetenv("VORLAN_INST");
      unsetenv("VORLAN_VM");
      const RegistryTree registry("/tmp/reg");
      registry.Export();
      c.arrange(registry);
      // Root passes every permission test.
      if (c.ordinary_user) {
        ASSERT_EQ(setresuid(65534, 65534, 65534), 0);
      }
      Names args = c.args;
      args.insert(args.begin(), KELMAR_CHECK_PROGRAM);
      const ProgramRun plain = RunProgram(args);
      args.push_back("--json");
      const ProgramRun json = RunProgram(args);
      EXPECT_EQ(plain.status, c.status) << plain.out;
      EXPECT_EQ(json.status, c.status);
      EXPECT_FALSE(HasRawControl(plain.out) || HasRawControl(json.out)) << plain.out;
      for (const std::string& fragment : c.plain) EXPECT_NE(plain.out.find(fragment), std::string::npos) << fragment;
      for (const std::string& fragment : c.json) EXPECT_NE(json.out.find(fragment), std::string::npos) << fragment;
    });
  }
}

}  // namespace
