// What an operator installs: the packages that cpack makes, and manuals naming exactly the options of the tools' --help.
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

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

TEST(Manuals, KelmarCheckCausesAgreeInHelpManualAndReadme) {
  // "N id" for each exit status with a cause: "  7  backend: ..." in --help ($0), ".B 7" and ".BR backend :" in the
  // manual ($1), "| 7 | `backend`: ..." in the README ($2); in the order of the statuses in each.
  const std::string script =
      "\"$0\" --help | sed -nE 's/^  ([0-9]+) +([a-z_]+): .*/\\1 \\2/p' > /tmp/help && "
      "awk '/^[.]B [0-9]+$/ { status = $2; next } status != \"\" && /^[.]BR [a-z_]+ :/ { print status, $2 } "
      "{ status = \"\" }' \"$1\" > /tmp/roff && "
      "sed -nE 's/^[|] ([0-9]+) [|] `([a-z_]+)`: .*/\\1 \\2/p' \"$2\" > /tmp/readme && "
      "diff /tmp/help /tmp/roff && diff /tmp/help /tmp/readme && tr '\\n' ' ' < /tmp/help";
  constexpr const char* kCauses = "3 registry 4 instance 5 properties 6 home 7 backend 8 needed_libraries 9 load "
                                  "10 entry_points 11 permissions 12 library ";
  RunIsolated([&] {
    const ProgramRun run = RunProgram({"/bin/sh", "-c", script, KELMAR_CHECK_PROGRAM, KELMAR_MANUAL_DIR "/kelmar-check.1",
                                       KELMAR_TESTBED_SOURCE_DIR "/README.md"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, kCauses);
  });
}

#ifndef KELMAR_SANITIZED  // packages are made from the main build
// What each package holds, as its format wants it, and nothing else: the library, the tools, their manuals, the
// copyright and the changelog; the binaries stripped, their debug information in an archive of its own.
TEST(Packages, HoldTheDocumentedFilesAsTheirFormatWantsThem) {
  constexpr const char* kConfig = KELMAR_TESTBED_BINARY_DIR "/CPackConfig.cmake";
  // A symbol version that glibc 2.17 lacks.
  constexpr const char* kAboveTheFloor = "'GLIBC_2\\.(1[89]|[2-9][0-9])'";
  const std::string library = "opt/kelmar/lib/libkelmar.so";
  struct Case { const char* name; std::string script; std::string expected; };
  const Case cases[] = {
      {.name = "deb: files, modes and owners",
       .script = "dpkg-deb -c *.deb | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort -k 3",
       .expected = "-rwxr-xr-x root/root ./opt/kelmar/bin/kelmar-check\n"
                   "-rwxr-xr-x root/root ./opt/kelmar/bin/kelmar-host\n"
                   "-rw-r--r-- root/root ./opt/kelmar/lib/libkelmar.so\n"
                   "-rw-r--r-- root/root ./opt/kelmar/share/man/man1/kelmar-check.1\n"
                   "-rw-r--r-- root/root ./opt/kelmar/share/man/man1/kelmar-host.1\n"
                   "-rw-r--r-- root/root ./opt/kelmar/share/man/man7/libkelmar.7\n"
                   "-rw-r--r-- root/root ./usr/share/doc/libkelmar/changelog.gz\n"
                   "-rw-r--r-- root/root ./usr/share/doc/libkelmar/copyright\n"
                   "-rw-r--r-- root/root ./usr/share/lintian/overrides/libkelmar\n"},
      {.name = "deb: dependencies", .script = "dpkg-deb -f *.deb Depends",
       .expected = "libc6 (>= 2.17), libgcc-s1 (>= 4.2)\n"},
      {.name = "deb: lintian finds nothing", .script = "lintian *.deb 2>/dev/null", .expected = ""},
      {.name = "deb: the library's search path, and its version as kelmar-check reads it",
       .script = "dpkg-deb -x *.deb /tmp/root && cd /tmp/root && readelf -d " + library +
                 " | grep -o 'R[A-Z]*PATH.*' && opt/kelmar/bin/kelmar-check --library " + library +
                 " --version | sed \"s/$(readelf -n " + library + " | awk '/Build ID/ { print $3 }')/ID/\"",
       .expected = "RPATH)              Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]\nkelmar-check " KELMAR_VERSION
                   "\nlibrary: " + library + ": version " KELMAR_VERSION ", build id ID\n"},
      {.name = "rpm: files", .script = "rpm -qpl *.rpm",
       .expected = "/opt/kelmar\n/opt/kelmar/bin\n/opt/kelmar/bin/kelmar-check\n/opt/kelmar/bin/kelmar-host\n"
                   "/opt/kelmar/lib\n/opt/kelmar/lib/libkelmar.so\n/opt/kelmar/share\n/opt/kelmar/share/doc\n"
                   "/opt/kelmar/share/doc/libkelmar\n/opt/kelmar/share/doc/libkelmar/changelog\n"
                   "/opt/kelmar/share/doc/libkelmar/copyright\n/opt/kelmar/share/man\n/opt/kelmar/share/man/man1\n"
                   "/opt/kelmar/share/man/man1/kelmar-check.1\n/opt/kelmar/share/man/man1/kelmar-host.1\n"
                   "/opt/kelmar/share/man/man7\n/opt/kelmar/share/man/man7/libkelmar.7\n"},
      {.name = "rpm: not relocatable, licence, summary and description",
       .script = "rpm -qp --queryformat '%{PREFIXES}\\n%{LICENSE}\\n%{SUMMARY}\\n%{DESCRIPTION}\\n' *.rpm | head -n 4",
       .expected = "(none)\nnone chosen yet\nDB2 vendor storage library for Vorlan, with kelmar-check and kelmar-host\n"
                   "libkelmar.so is the vendor storage library that IBM DB2 loads when a backup,\n"},
      {.name = "rpm: requirements above glibc 2.17 or of libstdc++",
       .script = std::string("rpm -qp --requires *.rpm | grep -E -e ") + kAboveTheFloor + " -e libstdc", .expected = ""},
      {.name = "tar.gz: unpacked as the README says, it leaves /opt as it was",
       .script = "mkdir -m 751 /tmp/opt && tar -xzf libkelmar-*-Linux.tar.gz -C /tmp/opt && stat -c %a /tmp/opt && "
                 "cd /tmp/opt && find . -type f -printf '%M %u %p\\n' | sort -k 3",
       .expected = "751\n-rwxr-xr-x root ./kelmar/bin/kelmar-check\n-rwxr-xr-x root ./kelmar/bin/kelmar-host\n"
                   "-rw-r--r-- root ./kelmar/lib/libkelmar.so\n-rw-r--r-- root ./kelmar/share/doc/libkelmar/changelog\n"
                   "-rw-r--r-- root ./kelmar/share/doc/libkelmar/copyright\n"
                   "-rw-r--r-- root ./kelmar/share/man/man1/kelmar-check.1\n"
                   "-rw-r--r-- root ./kelmar/share/man/man1/kelmar-host.1\n"
                   "-rw-r--r-- root ./kelmar/share/man/man7/libkelmar.7\n"},
      {.name = "debug archive: the debug information of each stripped binary, by its build id",
       .script = "dpkg-deb -x *.deb /tmp/root && tar -xzf *-debug.tar.gz -C /tmp && cd /tmp/root && "
                 "for f in opt/kelmar/*/*; do id=$(readelf -n $f | awk '/Build ID/ { print $3 }'); "
                 "[ -n \"$id\" ] || continue; echo $f: $(readelf -S $f | grep -c -E '[.](symtab|debug_info)') and "
                 "$(readelf -S /tmp/.build-id/$(echo $id | cut -c 1-2)/$(echo $id | cut -c 3-).debug | grep -c "
                 "'[.]debug_info'); done",
       .expected = "opt/kelmar/bin/kelmar-check: 0 and 1\nopt/kelmar/bin/kelmar-host: 0 and 1\n"
                   "opt/kelmar/lib/libkelmar.so: 0 and 1\n"},
  };
  RunIsolated([&] {
    const ProgramRun cpack = RunProgram({KELMAR_CPACK_COMMAND, "--config", kConfig, "-B", "/tmp/packages"});
    ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const ProgramRun run = RunProgram({"/bin/sh", "-c", "cd /tmp/packages && " + c.script});
      EXPECT_EQ(run.out, c.expected) << run.err;
    }
  });
}
#endif

}  // namespace
