// The built libkelmar.so as DB2 and the operators rely on it, and what its search path does for a backend: nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "log/switch_files.h"
#include "testbed/isolation.h"
#include "testbed/program_run.h"

namespace {

namespace tb = kelmar::test_backend;
using kelmar::testbed::ProgramRun;
using kelmar::testbed::RunIsolated;
using kelmar::testbed::RunProgram;

#ifdef KELMAR_SANITIZED
constexpr const char* kTags = "NEEDED|RPATH|RUNPATH|SYMBOLIC";
#else
// Nothing of the library's own runs when it is loaded or unloaded.
constexpr const char* kTags = "NEEDED|RPATH|RUNPATH|SYMBOLIC|INIT|FINI|INIT_ARRAY|FINI_ARRAY|PREINIT_ARRAY";
#endif

// readelf's dynamic entries with these tags, "NOW" when the library is bound at load time, and the symbols it
// defines for others: exactly the vendor interface, its helpers and the backend table, bound inside it (SYMBOLIC).
TEST(LinkProperties, DynamicSectionAndExportedSymbols) {
  const std::string awk = std::string("$2 ~ /^\\((") + kTags + R"awk()\)$/ { $1 = ""; print substr($0, 2) }
      $2 == "(BIND_NOW)" || /\(FLAGS(_1)?\).* NOW/ { now = 1 }
      $1 ~ /:$/ && $7 != "UND" && $7 != "Ndx" && $5 != "LOCAL" { sub(/@.*/, "", $8); print $8 }
      END { if (now) print "NOW" })awk";
  const std::string shell = "readelf -W -d --dyn-syms '" KELMAR_SHARED_LIBRARY "' | awk '" + awk + "' | LC_ALL=C sort";
  FILE* pipe = popen(shell.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string shown;
  for (int c; (c = std::fgetc(pipe)) != EOF;) shown += static_cast<char>(c);
  pclose(pipe);
  EXPECT_EQ(shown, "(NEEDED) Shared library: [libc.so.6]\n(NEEDED) Shared library: [libdl.so.2]\n"
                   "(NEEDED) Shared library: [libpthread.so.0]\n(RPATH) Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]\n"
                   "(SYMBOLIC) 0x0\nNOW\ndb2VendorGetNextObj\ndb2VendorQueryApiVersion\nf_db2VendorGetNextObj\n"
                   "f_sqluvdel\nf_sqluvend\nf_sqluvget\nf_sqluvint\nf_sqluvput\nget_first_vorlan_instname\n"
                   "get_reg_value\nsqluv_handle\nsqluvdel\nsqluvend\nsqluvget\nsqluvint\nsqluvput\n");
}

template <typename Function>
Function* Entry(void* library, const char* name) {
  return reinterpret_cast<Function*>(dlsym(library, name));
}

// A second copy, under another path, beside the first in the global scope uses its own table: its unload leaves the
// first's session alone. Closed once used, a copy stays mapped for the fork handler that glibc goes on calling.
TEST(LinkProperties, ASecondCopyKeepsToItsOwnTableAndAUsedCopyStaysMapped) {
  tb::InSession(tb::kComplete, [](const std::string&) {
    const std::string copy = "/tmp/libkelmar-admin.so";
    std::filesystem::copy_file(KELMAR_SHARED_LIBRARY, copy);
    void* first = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    void* second = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(first != nullptr && second != nullptr) << dlerror();
    tb::Db2Session session, admins;
    EXPECT_EQ(Entry<decltype(sqluvint)>(first, "sqluvint")(&session.in, &session.out, &session.rc), SQLUV_OK);
    tb::WriteFile(kelmar::kUnloadMarker, "");
    EXPECT_EQ(Entry<decltype(sqluvint)>(second, "sqluvint")(&admins.in, &admins.out, &admins.rc), SQLUV_OK);
    EXPECT_EQ(Entry<decltype(sqluvend)>(second, "sqluvend")(SQLUV_COMMIT, nullptr, &admins.out, &admins.rc), SQLUV_OK);
    EXPECT_EQ(Entry<decltype(sqluvput)>(first, "sqluvput")(nullptr, nullptr, &session.rc), SQLUV_OK);
    EXPECT_EQ(dlclose(second), 0);
    EXPECT_EQ(dlclose(first), 0);
    EXPECT_NE(dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "unmapped under its fork handler";
  });
}

#ifndef KELMAR_SANITIZED  // the sanitizers' run times need this machine's glibc
// What the shipped binaries need of the system: no glibc symbol version above GLIBC_2.17 (RHEL 7's glibc, so every
// distribution DB2 runs on), and no libstdc++. Each offender is named: a symbol with its version, or the library.
TEST(LinkProperties, ShippedBinariesNeedNothingAboveTheGlibcFloor) {
  const std::string awk = R"awk(
      $8 ~ /@GLIBC_/ { split(substr($8, index($8, "@GLIBC_") + 7), v, "."); if (v[1] > 2 || v[2] > 17) print $8 }
      $8 ~ /@(GLIBCXX|CXXABI)_/ { print $8 }
      /\(NEEDED\)/ && /libstdc\+\+/ { print $NF })awk";
  struct Case { const char* name; const char* file; };
  const Case cases[] = {
      {.name = "libkelmar.so", .file = KELMAR_SHARED_LIBRARY},
      {.name = "kelmar-check", .file = KELMAR_CHECK_PROGRAM},
      {.name = "kelmar-host", .file = KELMAR_HOST_PROGRAM},
      {.name = "sample backend", .file = KELMAR_SAMPLE_BACKEND},
      {.name = "a program linked as the tools", .file = KELMAR_CONSTRUCTOR_PROBE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      const ProgramRun run = RunProgram({"/bin/sh", "-c", "readelf -W -d --dyn-syms \"$0\" | awk '" + awk + "'", c.file});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, "");
    });
  }
}
#endif

// The start of such a program runs each of its constructors once: none would leave the C++ streams unmade.
TEST(LinkProperties, ProgramsLinkedForTheGlibcFloorRunEachConstructorOnce) {
  RunIsolated([] { EXPECT_EQ(RunProgram({KELMAR_CONSTRUCTOR_PROBE}).out, "constructors run: 2\n"); });
}

// A backend finds a library beside it in Base only through its own $ORIGIN.
TEST(BackendSearchPath, LibrariesBesideTheBackendNeedItsOwnOrigin) {
  for (const char* backend : {tb::kNeedsBeside, tb::kNeedsBesideWithOrigin}) {
    const int result = backend == tb::kNeedsBeside ? -1 : 42;  // the neighbour's answer, once it loads
    tb::InSession(backend, [&](const std::string& base) {
      const std::string beside = std::filesystem::path(tb::kBesideLibrary).filename();
      std::filesystem::copy_file(tb::kBesideLibrary, base + "/" + beside);
      void* library = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
      ASSERT_NE(library, nullptr) << dlerror();
      tb::Db2Session s;
      EXPECT_EQ(reinterpret_cast<decltype(&sqluvint)>(dlsym(library, "sqluvint"))(&s.in, &s.out, &s.rc), result);
      EXPECT_EQ(tb::TimesLogged("initializeFptrs(): dlopen failed when loading \"" + base + "/libXjKelmar.so\", " +
                                "error = \"" + beside + ": cannot open shared object file: No such file or " +
                                "directory\", pwd=\"" + base + "\""), result == -1 ? 1u : 0u);
    });
  }
}

}  // namespace
