// Where the libraries that the backend itself needs are found. libkelmar.so
// carries the search path "$ORIGIN:$ORIGIN/../Base64:." (with ".", the base
// directory at load time), but the platform does not search a dlopen
// caller's search path for the opened library's own dependencies: a backend
// finds a library beside it in Base only through its own $ORIGIN.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;

TEST(BackendSearchPath, LibrariesBesideTheBackendNeedItsOwnOrigin) {
  struct Case {
    const char* name;
    const char* backend;
    sqlint32 result;  // the backend answers sqluvint with its neighbour's 42
  };
  const Case cases[] = {
      {"without a search path of its own", tb::kNeedsBeside, -1},
      {"with $ORIGIN", tb::kNeedsBesideWithOrigin, 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kelmar::testbed::RunIsolated([&] {
      kelmar::testbed::EnableTrace();
      const std::string base = tb::InstallBackend(c.backend);
      const std::string beside = std::filesystem::path(tb::kBesideLibrary).filename();
      std::filesystem::copy_file(tb::kBesideLibrary, base + "/" + beside);

      void* library = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
      ASSERT_NE(library, nullptr) << dlerror();
      const auto vendor_init = reinterpret_cast<decltype(&sqluvint)>(dlsym(library, "sqluvint"));
      ASSERT_NE(vendor_init, nullptr);
      tb::Db2Session session;
      EXPECT_EQ(vendor_init(&session.in, &session.out, &session.rc), c.result);

      const std::string path = base + "/libXjKelmar.so";
      const std::string failure = "initializeFptrs(): dlopen failed when loading \"" + path + "\", error = \"" + beside +
                                  ": cannot open shared object file: No such file or directory\", pwd=\"" + base + "\"";
      EXPECT_EQ(tb::TimesLogged(failure), c.result == -1 ? 1u : 0u);
    });
  }
}

}  // namespace
