// What an operator installs: the .deb that cpack makes, and the manuals, which must name exactly the options
// that the tools' --help names.
#include <regex>
#include <set>

#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

// Every "-x" or "--name" that starts a word of `text`.
std::set<std::string> OptionsNamedIn(const std::string& text) {
  static const std::regex option(R"((^|[\s\[(|,])(--?[a-z][a-z-]*))");
  std::set<std::string> names;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), option); match != std::sregex_iterator(); ++match) {
    names.insert((*match)[2]);
  }
  return names;
}

TEST(Manuals, NameExactlyTheOptionsThatHelpNames) {
  struct Tool { const char* program; const char* manual; };
  const Tool tools[] = {{KELMAR_CHECK_PROGRAM, "kelmar-check.1"}, {KELMAR_HOST_PROGRAM, "kelmar-host.1"}};
  for (const Tool& tool : tools) {
    SCOPED_TRACE(tool.manual);
    RunIsolated([&] {
      // roff writes a minus sign as \-.
      const std::string roff = std::regex_replace(ReadFile(std::string(KELMAR_MANUAL_DIR "/") + tool.manual),
                                                  std::regex(R"(\\-)"), "-");
      const ProgramRun help = RunProgram({tool.program, "--help"});
      ASSERT_EQ(help.status, 0);
      EXPECT_EQ(OptionsNamedIn(roff), OptionsNamedIn(help.out));
    });
  }
}

// The package holds the library, the tools and the manuals under /opt/kelmar, and nothing else; its library keeps
// the search path DB2's sessions rely on, and its kelmar-check runs.
TEST(Install, TheDebPackageHoldsTheDocumentedLayoutAndItsCheckRuns) {
  RunIsolated([] {
    const ProgramRun cpack = RunProgram({KELMAR_CPACK_COMMAND, "--config", KELMAR_BINARY_DIR "/CPackConfig.cmake",
                                         "-G", "DEB", "-B", "/tmp/package"});
    ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
    const ProgramRun run = RunProgram({"/bin/sh", "-c", "dpkg-deb -x /tmp/package/*.deb /tmp/root && cd /tmp/root && "
                                       "find . ! -type d | sort && readelf -d opt/kelmar/lib/libkelmar.so | grep -o "
                                       "'R[A-Z]*PATH.*' | tr -s ' ' && opt/kelmar/bin/kelmar-check --version"});
    EXPECT_EQ(run.out, "./opt/kelmar/bin/kelmar-check\n./opt/kelmar/bin/kelmar-host\n./opt/kelmar/lib/libkelmar.so\n"
                       "./opt/kelmar/share/man/man1/kelmar-check.1\n./opt/kelmar/share/man/man1/kelmar-host.1\n"
                       "./opt/kelmar/share/man/man7/libkelmar.7\nRPATH) Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]\n"
                       "kelmar-check " KELMAR_VERSION "\n") << run.err;
  });
}

}  // namespace
