// `cmake --install` into a scratch prefix puts the library and the two tools
// where GNUInstallDirs says, and nothing else; the installed copies work.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "check/elf_dynamic.h"
#include "check_test_support.h"
#include "testbed/isolation.h"

namespace {

namespace fs = std::filesystem;
using namespace kelmar::check_test;

const std::string kPrefix = "/tmp/prefix";
const std::string kLibDir = kPrefix + "/" + KELMAR_INSTALL_LIBDIR;
const std::string kBinDir = kPrefix + "/" + KELMAR_INSTALL_BINDIR;

std::vector<std::string> InstalledFiles() {
  std::vector<std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(kPrefix)) {
    if (!entry.is_directory()) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Install, PutsTheLibraryAndTheToolsInTheUsualPlaces) {
  kelmar::testbed::RunIsolated([] {
    const kelmar::testbed::ProgramRun install =
        kelmar::testbed::RunProgram({KELMAR_CMAKE_COMMAND, "--install", KELMAR_BINARY_DIR, "--prefix", kPrefix});
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    std::vector<std::string> expected = {kLibDir + "/libkelmar.so", kBinDir + "/kelmar-check",
                                         kBinDir + "/kelmar-host"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(InstalledFiles(), expected);
    for (const char* tool : {"/kelmar-check", "/kelmar-host"}) EXPECT_EQ(access((kBinDir + tool).c_str(), X_OK), 0);

    // The library keeps the search path DB2's sessions rely on.
    std::string error;
    const std::optional<kelmar::check::ElfDynamic> library =
        kelmar::check::ReadElfDynamic(kLibDir + "/libkelmar.so", error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->rpath, "$ORIGIN:$ORIGIN/../Base64:.");
    EXPECT_FALSE(library->runpath);

    // The installed tools run on their own.
    InstallInstance001(Registry(), kSampleBackend);
    const kelmar::testbed::ProgramRun check = kelmar::testbed::RunProgram({kBinDir + "/kelmar-check"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    const kelmar::testbed::ProgramRun host = kelmar::testbed::RunProgram(
        {kBinDir + "/kelmar-host", "--library", kLibDir + "/libkelmar.so", "query-images"});
    EXPECT_EQ(host.status, 0) << host.out << host.err;
  });
}

}  // namespace
