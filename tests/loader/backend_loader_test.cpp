// The backend loader: every way a load fails, each followed by a retry that
// loads, and the unload.
#include "loader/backend_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "backends/session_fixture.h"
#include "backends/test_backend_paths.h"
#include "front/registry_root.h"
#include "loader/backend_table.h"
#include "loader/loader_test_support.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;
using tb::Lines;

const std::string kTag = "initializeFptrs(): ";

Lines LoaderLines() { return tb::WithPointersMasked(tb::LinesTagged("initializeFptrs()")); }

// The loader's lines from a found base directory to the end of the load.
Lines FromBaseDirectory(const std::string& base, const std::string& path, const std::string& dlopen_line,
                        const std::string& handle, const Lines& before_leaving, int result) {
  Lines lines = {kTag + "-----------Entered--------", kTag + "sqluv_handle is:(nil)",
                 kTag + "GetVorlanBaseDir succeeded.", kTag + "Changing to base dir: \"" + base + "\".",
                 kTag + "Library to be loaded: \"" + path + "\".", kTag + dlopen_line,
                 kTag + "After dlopen: sqluv_handle is:" + handle};
  lines.insert(lines.end(), before_leaving.begin(), before_leaving.end());
  lines.push_back(kTag + "-----------Leaving, returning " + std::to_string(result) + "--------");
  return lines;
}

Lines FailedDlopen(const std::string& base, const std::string& path, const std::string& error) {
  return FromBaseDirectory(base, path,
                           "dlopen failed when loading \"" + path + "\", error = \"" + error + "\", pwd=\"" + base + "\"",
                           "(nil)", {}, 0);
}

Lines NoBaseDirectory() {
  return {kTag + "-----------Entered--------", kTag + "sqluv_handle is:(nil)",
          kTag + "GetVorlanBaseDir failed, returning error.", kTag + "-----------Leaving, returning 0--------"};
}

std::string DlopenSucceeded(const std::string& directory, const std::string& path) {
  return "dlopen succeeded. Current dir: \"" + directory + "\", loaded: \"" + path + "\"";
}

std::string DlopenError(const std::string& path) {
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW), nullptr) << path;
  const char* error = dlerror();
  return error != nullptr ? error : "";
}

// A home whose base directory is exactly `length` characters long.
std::string HomeForBaseOfLength(std::size_t length) {
  std::string home = "/tmp/h";
  const std::size_t home_length = length - std::string("/Base").size();
  while (home.size() < home_length) home += "/" + std::string(std::min<std::size_t>(200, home_length - home.size() - 1), 'd');
  return home;
}

// What a failing load is expected to leave: the loader's lines, and the
// working directory (the base directory, when one was found).
struct Expected {
  Lines lines;
  std::string directory;
};

struct LoadFailure {
  std::string name;
  std::function<Expected()> arrange;  // lays out the installation
};

void PrintTo(const LoadFailure& failure, std::ostream* out) { *out << failure.name; }

std::vector<LoadFailure> LoadFailures() {
  std::vector<LoadFailure> failures = {
      {"NoBaseDirectory",
       [] {
         testbed::RegistryTree(tb::kRegistryRoot).Export();
         setenv("VORLAN_INST", tb::kInstance, 1);
         return Expected{NoBaseDirectory(), tb::WorkingDirectory()};
       }},
      {"NotALibrary",
       [] {
         const std::string base = tb::InstallBackend("");
         const std::string path = base + "/libXjKelmar.so";
         return Expected{FailedDlopen(base, path, DlopenError(path)), base};
       }},
      {"NotALibraryWhileTheProcessExportsTheEntryNames",
       [] {
         // A failed load must not take the entry points from whatever the
         // process has in its global scope.
         EXPECT_NE(dlopen(tb::kComplete, RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
         EXPECT_NE(dlsym(RTLD_DEFAULT, "sqluvintpp"), nullptr);
         const std::string base = tb::InstallBackend("");
         const std::string path = base + "/libXjKelmar.so";
         return Expected{FailedDlopen(base, path, DlopenError(path)), base};
       }},
      {"UnresolvedSymbol",
       [] {
         const std::string base = tb::InstallBackend(tb::kUnresolved);
         const std::string path = base + "/libXjKelmar.so";
         const std::string error = DlopenError(path);
         EXPECT_NE(error.find("undefined symbol: kelmar_test_function_nowhere"), std::string::npos) << error;
         return Expected{FailedDlopen(base, path, error), base};
       }},
      {"BaseDirectoryTooLongForTheFileName",
       [] {
         // The library path would be cut to name another file: even a
         // complete backend under that name is not loaded.
         const std::string base = tb::InstallBackend(tb::kComplete, HomeForBaseOfLength(1009));
         const std::string cut = (base + "/libXjKelmar.so").substr(0, 1023);
         EXPECT_EQ(cut, base + "/libXjKelmar.s");
         std::filesystem::copy_file(tb::kComplete, cut);
         return Expected{NoBaseDirectory(), tb::WorkingDirectory()};
       }},
  };
  for (std::size_t missing = 0; missing < tb::kWithoutEntry.size(); ++missing) {
    const std::string entry = kelmar::kBackendEntryNames[missing];
    failures.push_back({"Without_" + entry, [missing, entry] {
                          const std::string base = tb::InstallBackend(tb::kWithoutEntry[missing]);
                          const std::string path = base + "/libXjKelmar.so";
                          return Expected{FromBaseDirectory(base, path, DlopenSucceeded(base, path), "<p>",
                                                            {kTag + "Entry point " + entry + " not found, unloading."}, 0),
                                          base};
                        }});
  }
  return failures;
}

class LoaderFailure : public testing::TestWithParam<LoadFailure> {};

TEST_P(LoaderFailure, LeavesTheTableEmptyAndTheNextCallLoadsAfresh) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const Expected expected = GetParam().arrange();
    SettleRegistryRoot("test");
    testbed::ClearTrace();

    tb::Db2Session session;
    EXPECT_EQ(tb::Load(&session.in), 0);
    EXPECT_EQ(LoaderLines(), expected.lines);
    EXPECT_TRUE(tb::TableEmpty());
    EXPECT_EQ(tb::WorkingDirectory(), expected.directory);
    // Nothing of a library that did not serve stays in the process.
    EXPECT_EQ(dlopen((tb::WorkingDirectory() + "/libXjKelmar.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    const std::string base = tb::InstallBackend(tb::kComplete);
    testbed::ClearTrace();
    EXPECT_EQ(tb::Load(&session.in), 1);
    EXPECT_TRUE(tb::TableFull());
    const std::string path = base + "/libXjKelmar.so";
    EXPECT_EQ(LoaderLines(), FromBaseDirectory(base, path, DlopenSucceeded(base, path), "<p>", {}, 1));
  });
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderFailure, testing::ValuesIn(LoadFailures()),
                         [](const auto& info) { return info.param.name; });

TEST(Loader, LoadedBackendIsKeptUntilUnloadedThenLoadedAfresh) {
  testbed::RunIsolated([] {
    testbed::EnableTrace();
    const std::string base = tb::InstallBackend(tb::kComplete);
    const std::string path = base + "/libXjKelmar.so";
    SettleRegistryRoot("test");
    tb::Db2Session session;
    ASSERT_EQ(tb::Load(&session.in), 1);
    void* const handle = sqluv_handle;
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), handle);
    dlclose(handle);

    testbed::ClearTrace();
    EXPECT_EQ(tb::Load(&session.in), 1);
    EXPECT_EQ(sqluv_handle, handle);
    EXPECT_EQ(testbed::TraceLines(),
              (Lines{kTag + "-----------Entered--------", kTag + "sqluv_handle is:" + tb::Shown(handle),
                     kTag + "-----------Leaving, returning 1--------"}));

    const std::string unload = "unInitializeFptrs(): ";
    for (void* shown : {handle, static_cast<void*>(nullptr)}) {
      testbed::ClearTrace();
      EXPECT_EQ(tb::Unload(), 1);
      EXPECT_TRUE(tb::TableEmpty());
      EXPECT_EQ(testbed::TraceLines(),
                (Lines{unload + "-----------Entered--------", unload + "sqluv_handle is:" + tb::Shown(shown),
                       unload + "-----------Leaving, returning 1--------"}));
    }
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped after the unload";

    testbed::ClearTrace();
    EXPECT_EQ(tb::Load(&session.in), 1);
    EXPECT_TRUE(tb::TableFull());
    EXPECT_EQ(LoaderLines(), FromBaseDirectory(base, path, DlopenSucceeded(base, path), "<p>", {}, 1));
  });
}

}  // namespace
