// The built libkelmar.so as DB2 and the operators rely on it, and what its search path does for a backend: nothing.
#include <dlfcn.h>

#include <filesystem>

#include "backends/test_backend_paths.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;
namespace tb = kelmar::test_backend;

Names LinesOf(const std::string& command) { return SplitLines(RunProgram({"/bin/sh", "-c", command}).out); }

#ifdef KELMAR_SANITIZED  // the sanitizers' run times add initialisers
const std::string kTags = "NEEDED|RPATH|RUNPATH|SYMBOLIC";
#else
// Nothing of the library's own runs when it is loaded or unloaded.
const std::string kTags = "NEEDED|RPATH|RUNPATH|SYMBOLIC|INIT|FINI|INIT_ARRAY|FINI_ARRAY|PREINIT_ARRAY";
#endif
const Names kSearchAndBinding = {"(NEEDED) Shared library: [libc.so.6]", "(NEEDED) Shared library: [libdl.so.2]",
                                 "(NEEDED) Shared library: [libpthread.so.0]",
                                 "(RPATH) Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]", "(SYMBOLIC) 0x0"};
const Names kExported = {"db2VendorGetNextObj", "db2VendorQueryApiVersion", "f_db2VendorGetNextObj", "f_sqluvdel",
                         "f_sqluvend", "f_sqluvget", "f_sqluvint", "f_sqluvput", "get_first_vorlan_instname",
                         "get_reg_value", "sqluv_handle", "sqluvdel", "sqluvend", "sqluvget", "sqluvint", "sqluvput"};

// Bound inside itself (SYMBOLIC) and at load time: BIND_NOW as an entry or a flag, or the flag NOW.
TEST(LinkProperties, DynamicSectionAndExportedSymbols) {
  const std::string dynamic = "readelf -d " KELMAR_SHARED_LIBRARY;
  RunIsolated([&] {
    EXPECT_EQ(LinesOf(dynamic + " | grep -o -E '\\((" + kTags + ")\\).*' | tr -s ' ' | sort"), kSearchAndBinding);
    EXPECT_NE(LinesOf(dynamic + " | grep -E 'BIND_NOW|Flags: NOW'"), Names{}) << "not bound at load time";
    EXPECT_EQ(LinesOf("nm -D --defined-only --just-symbols --without-symbol-versions " KELMAR_SHARED_LIBRARY),
              kExported);
  });
}

template <typename Function>
Function* Entry(void* library, const char* name) {
  return reinterpret_cast<Function*>(dlsym(library, name));
}

// A second copy, under another path, beside the first in the global scope uses its own table: its unload leaves the
// first's session alone. Closed once used, a copy stays mapped for the fork handler that glibc goes on calling.
TEST(LinkProperties, ASecondCopyKeepsToItsOwnTableAndAUsedCopyStaysMapped) {
  InSession(tb::kComplete, [](const std::string&) {
    const std::string copy = "/tmp/libkelmar-admin.so";
    std::filesystem::copy_file(KELMAR_SHARED_LIBRARY, copy);
    void* first = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    void* second = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(first != nullptr && second != nullptr) << dlerror();
    Db2Session session;
    Db2Session admins;
    EXPECT_EQ(Entry<decltype(sqluvint)>(first, "sqluvint")(&session.in, &session.out, &session.rc), SQLUV_OK);
    WriteFile(kelmar::kUnloadMarker, "");
    EXPECT_EQ(Entry<decltype(sqluvint)>(second, "sqluvint")(&admins.in, &admins.out, &admins.rc), SQLUV_OK);
    EXPECT_EQ(Entry<decltype(sqluvend)>(second, "sqluvend")(SQLUV_COMMIT, nullptr, &admins.out, &admins.rc), SQLUV_OK);
    EXPECT_EQ(Entry<decltype(sqluvput)>(first, "sqluvput")(nullptr, nullptr, &session.rc), SQLUV_OK);
    EXPECT_EQ(dlclose(second), 0);
    EXPECT_EQ(dlclose(first), 0);
    EXPECT_NE(dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "unmapped under its fork handler";
  });
}

#ifndef KELMAR_SANITIZED  // the sanitizers' run times need this machine's glibc
// What the shipped binaries need of the system above glibc 2.17, RHEL 7's, which every distribution DB2 runs on has:
// a later (or unnumbered) glibc symbol version, a libstdc++ symbol version, or libstdc++. Each offender is named.
TEST(LinkProperties, ShippedBinariesNeedNothingAboveTheGlibcFloor) {
  const std::string kAboveTheFloor = R"('@GLIBC_([^2]|2\.(1[89]|[2-9][0-9]))|@GLIBCXX_|@CXXABI_|libstdc\+\+')";
  for (const std::string file : {KELMAR_SHARED_LIBRARY, KELMAR_CHECK_PROGRAM, KELMAR_HOST_PROGRAM,
                                  KELMAR_SAMPLE_BACKEND, KELMAR_CONSTRUCTOR_PROBE}) {
    SCOPED_TRACE(file);
    const std::string needs = "{ nm -D " + file + " && readelf -d " + file + "; } | grep -E " + kAboveTheFloor;
    RunIsolated([&] { EXPECT_EQ(LinesOf(needs), Names{}); });
  }
}
#endif

// A program linked as the tools are runs each of its constructors once: none would leave the C++ streams unmade.
TEST(LinkProperties, ProgramsLinkedForTheGlibcFloorRunEachConstructorOnce) {
  RunIsolated([] { EXPECT_EQ(RunProgram({KELMAR_CONSTRUCTOR_PROBE}).out, "constructors run: 2\n"); });
}

TEST(BackendSearchPath, LibrariesBesideTheBackendNeedItsOwnOrigin) {
  constexpr sqlint32 kRefused = -1;
  constexpr sqlint32 kNeighbours = 42;  // the backend's sqluvint answer, once its neighbour loads
  struct Case { const char* name; const char* backend; sqlint32 result; };
  const Case cases[] = {
      {.name = "without", .backend = tb::kNeedsBeside, .result = kRefused},
      {.name = "$ORIGIN", .backend = tb::kNeedsBesideWithOrigin, .result = kNeighbours},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InSession(c.backend, [&](const std::string& base) {
      std::filesystem::copy_file(tb::kBesideLibrary, base / std::filesystem::path(tb::kBesideLibrary).filename());
      void* library = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
      ASSERT_NE(library, nullptr) << dlerror();
      Db2Session session;
      EXPECT_EQ(Entry<decltype(sqluvint)>(library, "sqluvint")(&session.in, &session.out, &session.rc), c.result);
    });
  }
}

}  // namespace
