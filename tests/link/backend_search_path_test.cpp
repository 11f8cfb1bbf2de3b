// libkelmar.so's own search path does not serve the backend's dependencies: a backend finds a library beside it
// in Base only through its own $ORIGIN.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"

namespace {

namespace tb = kelmar::test_backend;

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
