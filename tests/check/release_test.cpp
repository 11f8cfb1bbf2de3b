// What an operator installs: the .deb that cpack makes, and manuals naming exactly the options of the tools' --help.
#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

TEST(Manuals, NameExactlyTheOptionsThatHelpNames) {
  // Every "-x" or "--name" that starts a word of --help ($0) and of the manual ($1, where roff writes a minus as \-).
  const std::string script =
      "\"$0\" --help > /tmp/help && sed 's/\\\\-/-/g' \"$1\" > /tmp/roff && for f in /tmp/help /tmp/roff; do grep -oE "
      "'(^|[[:space:][(|,])--?[a-z][a-z-]*' $f | grep -oE -- '-.*' | sort -u > $f.options; done && "
      "diff /tmp/help.options /tmp/roff.options && grep -c . /tmp/help.options";
  for (const auto& tool :
       {std::pair{KELMAR_CHECK_PROGRAM, "kelmar-check.1"}, std::pair{KELMAR_HOST_PROGRAM, "kelmar-host.1"}}) {
    SCOPED_TRACE(tool.second);
    RunIsolated([&] {
      const ProgramRun run =
          RunProgram({"/bin/sh", "-c", script, tool.first, std::string(KELMAR_MANUAL_DIR "/") + tool.second});
      EXPECT_EQ(run.status, 0) << run.out << run.err;
    });
  }
}

// The package holds only the library, the tools and the manuals under /opt/kelmar; its library keeps its search path.
TEST(Install, TheDebPackageHoldsTheDocumentedLayoutAndItsCheckRuns) {
  constexpr const char* kConfig = KELMAR_TESTBED_BINARY_DIR "/CPackConfig.cmake";
  RunIsolated([] {
    const ProgramRun cpack = RunProgram({KELMAR_CPACK_COMMAND, "--config", kConfig,
                                         "-G", "DEB", "-B", "/tmp/package"});
    ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
    const ProgramRun run = RunProgram({"/bin/sh", "-c", "dpkg-deb -x /tmp/package/*.deb /tmp/root && cd /tmp/root && "
                                       "find . ! -type d | sort && readelf -d opt/kelmar/lib/libkelmar.so | grep -o "
                                       "'R[A-Z]*PATH.*' | tr -s ' ' && opt/kelmar/bin/kelmar-check --library "
                                       "opt/kelmar/lib/libkelmar.so --version | sed \"s/$(readelf -n "
                                       "opt/kelmar/lib/libkelmar.so | awk '/Build ID/ { print $3 }')/ID/\""});
    EXPECT_EQ(run.out, "./opt/kelmar/bin/kelmar-check\n./opt/kelmar/bin/kelmar-host\n./opt/kelmar/lib/libkelmar.so\n"
                       "./opt/kelmar/share/man/man1/kelmar-check.1\n./opt/kelmar/share/man/man1/kelmar-host.1\n"
                       "./opt/kelmar/share/man/man7/libkelmar.7\nRPATH) Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]\n"
                       "kelmar-check " KELMAR_VERSION "\nlibrary: opt/kelmar/lib/libkelmar.so: version " KELMAR_VERSION
                       ", build id ID\n") << run.err;
  });
}

}  // namespace
