// The properties of the built libkelmar.so that DB2 and the operators rely on,
// read from the file itself.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

const std::string kLibrary = KELMAR_SHARED_LIBRARY;

std::string Run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  pclose(pipe);
  return output;
}

// (tag, value) pairs of the dynamic section.
std::vector<std::pair<std::string, std::string>> DynamicEntries() {
  std::vector<std::pair<std::string, std::string>> entries;
  std::istringstream lines(Run("readelf -dW '" + kLibrary + "'"));
  for (std::string line; std::getline(lines, line);) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open);
    if (line.find("0x") == std::string::npos || open == std::string::npos || close == std::string::npos) continue;
    std::string value = line.substr(close + 1);
    value.erase(0, value.find_first_not_of(' '));
    entries.emplace_back(line.substr(open + 1, close - open - 1), value);
  }
  return entries;
}

std::vector<std::string> ValuesOf(const std::string& tag) {
  std::vector<std::string> values;
  for (const auto& [t, v] : DynamicEntries()) {
    if (t == tag) values.push_back(v);
  }
  return values;
}

// Names that the dynamic symbol table defines (not merely references).
std::set<std::string> DefinedDynamicSymbols() {
  std::set<std::string> names;
  std::istringstream lines(Run("readelf --dyn-syms -W '" + kLibrary + "'"));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
    if (num.back() != ':' || !std::isdigit(static_cast<unsigned char>(num[0])) || ndx == "UND" || bind == "LOCAL") continue;
    names.insert(name.substr(0, name.find('@')));
  }
  return names;
}

TEST(LinkProperties, DynamicSection) {
  ASSERT_FALSE(DynamicEntries().empty()) << "readelf could not read " << kLibrary;
  EXPECT_EQ(ValuesOf("RPATH"), std::vector<std::string>{"Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]"});
  EXPECT_TRUE(ValuesOf("RUNPATH").empty());

  std::vector<std::string> needed = ValuesOf("NEEDED");
  std::sort(needed.begin(), needed.end());
  EXPECT_EQ(needed, (std::vector<std::string>{"Shared library: [libc.so.6]", "Shared library: [libdl.so.2]",
                                              "Shared library: [libpthread.so.0]"}));

  const std::vector<std::string> flags = ValuesOf("FLAGS");
  const std::vector<std::string> flags_1 = ValuesOf("FLAGS_1");
  const bool bind_now = !ValuesOf("BIND_NOW").empty() ||
                        std::any_of(flags.begin(), flags.end(), [](auto& f) { return f.find("BIND_NOW") != f.npos; }) ||
                        std::any_of(flags_1.begin(), flags_1.end(), [](auto& f) { return f.find("NOW") != f.npos; });
  EXPECT_TRUE(bind_now);

#ifndef KELMAR_SANITIZED
  // Nothing of the library's own runs when it is loaded or unloaded.
  for (const char* tag : {"INIT", "FINI", "INIT_ARRAY", "FINI_ARRAY", "PREINIT_ARRAY"}) {
    EXPECT_TRUE(ValuesOf(tag).empty()) << tag;
  }
#endif
}

TEST(LinkProperties, ExportsExactlyTheVendorInterfaceItsHelpersAndTheBackendTable) {
  const std::set<std::string> exported = {
      "sqluvint",   "sqluvget",     "sqluvput",   "sqluvend",   "sqluvdel",   "db2VendorGetNextObj",
      "db2VendorQueryApiVersion",   "get_reg_value",            "get_first_vorlan_instname",
      "sqluv_handle", "f_sqluvint", "f_sqluvget", "f_sqluvput", "f_sqluvend", "f_sqluvdel",
      "f_db2VendorGetNextObj",
  };
  EXPECT_EQ(DefinedDynamicSymbols(), exported);
}

std::set<std::string> Listing(const char* directory) {
  std::set<std::string> names;
  if (DIR* dir = opendir(directory)) {
    while (dirent* entry = readdir(dir)) names.insert(entry->d_name);
    closedir(dir);
  }
  return names;
}

std::set<std::string> Environment() {
  std::set<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.insert(*entry);
  return entries;
}

TEST(LinkProperties, LoadingAndUnloadingDoesNothing) {
  kelmar::testbed::RunIsolated([] {
    kelmar::testbed::EnableTrace();
    // With every marker present, anything that ran at load time would show.
    for (const char* marker : {"/tmp/debugDB2_nounload", "/tmp/xj_unloadLibXjKelmar"}) {
      kelmar::testbed::WriteFile(marker, "");
    }
    char directory_before[4096];
    ASSERT_NE(getcwd(directory_before, sizeof directory_before), nullptr);
    const std::set<std::string> tmp_before = Listing("/tmp");
    const std::set<std::string> environment_before = Environment();

    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(dlclose(library), 0);

    char directory_after[4096];
    ASSERT_NE(getcwd(directory_after, sizeof directory_after), nullptr);
    EXPECT_STREQ(directory_after, directory_before);
    EXPECT_EQ(Listing("/tmp"), tmp_before);
    EXPECT_EQ(Environment(), environment_before);
    EXPECT_TRUE(kelmar::testbed::RawTraceLines().empty());
  });
}

}  // namespace
