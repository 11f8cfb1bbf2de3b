// What an operator installs: the packages cpack makes, and manuals naming exactly the options of the tools' --help.
#include <filesystem>
#include <regex>

#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

// Every "-x" or "--name" that starts a word of the text `command` writes, sorted; roff writes a minus as "\-".
Names OptionsIn(const std::string& command) {
  const std::string words = R"( | tr -d '\\' | grep -o -E '(^|[[:space:][(|,])--?[a-z][a-z-]*' | tr -d ' \t[(|,')";
  return SplitLines(RunProgram({"/bin/sh", "-c", command + words + " | sort -u"}).out);
}

TEST(Manuals, NameExactlyTheOptionsThatHelpNames) {
  for (const std::string program : {KELMAR_CHECK_PROGRAM, KELMAR_HOST_PROGRAM}) {
    const std::string manual = KELMAR_MANUAL_DIR "/" + std::filesystem::path(program).filename().string() + ".1";
    SCOPED_TRACE(manual);
    RunIsolated([&] {
      const Names in_help = OptionsIn(program + " --help");
      EXPECT_NE(in_help, Names{});
      EXPECT_EQ(OptionsIn("cat " + manual), in_help);
    });
  }
}

// "N id N id ..." for each exit status with a cause, in the order of the statuses in `text`.
std::string CausesIn(const std::string& text, const char* cause) {
  std::string causes;
  const std::regex pattern(cause);
  for (std::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end; ++match) {
    causes += (*match)[1].str() + " " + (*match)[2].str() + " ";
  }
  return causes;
}

TEST(Manuals, KelmarCheckCausesAgreeInHelpManualAndReadme) {
  const std::string kCauses = "3 registry 4 instance 5 properties 6 home 7 backend 8 needed_libraries 9 load "
                              "10 entry_points 11 permissions 12 library ";
  struct Case { std::string text; const char* cause; };
  RunIsolated([&] {
    const Case cases[] = {
        {.text = RunProgram({KELMAR_CHECK_PROGRAM, "--help"}).out, .cause = R"(\n  ([0-9]+) +([a-z_]+): )"},
        {.text = ReadFile(KELMAR_MANUAL_DIR "/kelmar-check.1"), .cause = R"(\n\.B ([0-9]+)\n\.BR ([a-z_]+) :)"},
        {.text = ReadFile(KELMAR_TESTBED_SOURCE_DIR "/README.md"), .cause = R"(\n\| ([0-9]+) \| `([a-z_]+)`: )"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.cause);
      EXPECT_EQ(CausesIn(c.text, c.cause), kCauses);
    }
  });
}

#ifndef KELMAR_SANITIZED  // packages are made from the main build
TEST(Packages, HoldTheDocumentedFilesAsTheirFormatWantsThem) {
  constexpr const char* kConfig = KELMAR_TESTBED_BINARY_DIR "/CPackConfig.cmake";
  const std::string kPrefix = "/tmp/root/opt/kelmar/";  // where the .deb is unpacked
  const std::string kLibrary = kPrefix + "lib/libkelmar.so";
  const std::string kBuildIds = " | grep -o -E '[0-9a-f]{40}' | sort";  // out of readelf -n
  const std::string kFiles = " -type f -printf '%M %u/%g %P\\n' | sort -k 3";
  const std::string kPrograms = "-rwxr-xr-x root/root bin/kelmar-check\n-rwxr-xr-x root/root bin/kelmar-host\n"
                                "-rw-r--r-- root/root lib/libkelmar.so\n";
  const std::string kManuals = "-rw-r--r-- root/root share/man/man1/kelmar-check.1\n"
                               "-rw-r--r-- root/root share/man/man1/kelmar-host.1\n"
                               "-rw-r--r-- root/root share/man/man7/libkelmar.7\n";
  const std::string kInstalled = kPrograms + "-rw-r--r-- root/root share/doc/libkelmar/changelog\n"
                                 "-rw-r--r-- root/root share/doc/libkelmar/copyright\n" + kManuals;
  const std::string kRpmFiles = "rpm -qp --queryformat '[%{FILEMODES:perms} %{FILEUSERNAME}/%{FILEGROUPNAME} "
                                "%{FILENAMES}\\n]' *.rpm | sed 's| /opt/kelmar/| |'";
  struct Case { const char* name; std::string script; std::string expected; };
  const Case cases[] = {
      {.name = "deb: files, modes and owners",
       .script = "dpkg-deb -x *.deb /tmp/root && cd /tmp/root/opt/kelmar && find ." + kFiles +
                 " && cd /tmp/root && find . ! -path './opt/kelmar/*'" + kFiles,
       .expected = kPrograms + kManuals + "-rw-r--r-- root/root usr/share/doc/libkelmar/changelog.gz\n"
                   "-rw-r--r-- root/root usr/share/doc/libkelmar/copyright\n"
                   "-rw-r--r-- root/root usr/share/lintian/overrides/libkelmar\n"},
      {.name = "deb: dependencies", .script = "dpkg-deb -f *.deb Depends",
       .expected = "libc6 (>= 2.17), libgcc-s1 (>= 4.2)\n"},
      {.name = "deb: lintian finds nothing", .script = "lintian *.deb 2>/dev/null", .expected = ""},
      {.name = "rpm: files, modes and owners", .script = kRpmFiles + " | grep '^-'", .expected = kInstalled},
      {.name = "rpm: directories", .script = kRpmFiles + " | grep '^d' | cut -d ' ' -f 3 | xargs",
       .expected = "/opt/kelmar bin lib share share/doc share/doc/libkelmar share/man share/man/man1 share/man/man7\n"},
      {.name = "rpm: not relocatable, and its licence",
       .script = "rpm -qp --queryformat '%{PREFIXES}\\n%{LICENSE}\\n' *.rpm", .expected = "(none)\nnone chosen yet\n"},
      {.name = "tar.gz: unpacked as the README says, it leaves /opt as it was",
       .script = "mkdir -m 751 /tmp/opt && tar -xzf libkelmar-*-Linux.tar.gz -C /tmp/opt && stat -c %a /tmp/opt && "
                 "ls /tmp/opt && cd /tmp/opt/kelmar && find ." + kFiles,
       .expected = "751\nkelmar\n" + kInstalled},
      {.name = "deb: binaries stripped",
       .script = "cd " + kPrefix + " && readelf -S -W bin/* lib/* | grep -E '^File: | \\.(symtab|debug_info) '",
       .expected = "File: bin/kelmar-check\nFile: bin/kelmar-host\nFile: lib/libkelmar.so\n"},
      {.name = "debug archive: the debug information of three binaries",
       .script = "tar -xzf *-debug.tar.gz -C /tmp && "
                 "readelf -S -W /tmp/.build-id/*/*.debug | grep -c ' \\.debug_info '", .expected = "3\n"},
  };
  const std::string kRpm = "/usr/bin/rpm";
  if (!std::filesystem::exists(kRpm)) GTEST_SKIP() << kRpm << " is not installed: the rpm cannot be read";
  RunIsolated([&] {
    const ProgramRun cpack = RunProgram({KELMAR_CPACK_COMMAND, "--config", kConfig, "-B", "/tmp/packages"});
    ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const ProgramRun run = RunProgram({"/bin/sh", "-c", "cd /tmp/packages && " + c.script});
      EXPECT_EQ(run.out, c.expected) << run.err;
    }
    // What the rpm requires of the system: nothing above glibc 2.17, and no libstdc++.
    const Names requirements = SplitLines(RunProgram({"/bin/sh", "-c", "rpm -qp --requires /tmp/packages/*.rpm"}).out);
    EXPECT_NE(requirements, Names{});
    const std::regex above_the_floor(R"(GLIBC_2\.(1[89]|[2-9][0-9])|libstdc\+\+)");
    for (const std::string& requirement : requirements) {
      EXPECT_FALSE(std::regex_search(requirement, above_the_floor)) << requirement;
    }
    // Each debug file named by the build id of a binary, as xx/yyyy.debug; the library's as kelmar-check reads it.
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", "cd /tmp/.build-id && ls */*.debug | tr -d / | cut -c 1-40 | sort"}).out,
              RunProgram({"/bin/sh", "-c", "readelf -n " + kPrefix + "bin/* " + kPrefix + "lib/*" + kBuildIds}).out);
    EXPECT_EQ(RunProgram({kPrefix + "bin/kelmar-check", "--library", kLibrary, "--version"}).out,
              "kelmar-check " KELMAR_VERSION "\nlibrary: " + kLibrary + ": version " KELMAR_VERSION ", build id " +
                  RunProgram({"/bin/sh", "-c", "readelf -n " + kLibrary + kBuildIds}).out);
  });
}
#endif

}  // namespace
