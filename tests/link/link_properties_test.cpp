// The properties of the built libkelmar.so that DB2 and the operators rely on, read from the file itself.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace {

using Names = std::multiset<std::string>;

// The output of `command`, one entry per line.
std::vector<std::string> Output(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  for (char line[4096]; pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;) lines.push_back(line);
  if (pipe != nullptr) pclose(pipe);
  return lines;
}

// The values of the dynamic section's entries tagged `tag` ("(NEEDED)", ...).
Names ValuesOf(const std::string& tag) {
  Names values;
  for (const std::string& line : Output(std::string("readelf -dW '") + KELMAR_SHARED_LIBRARY + "'")) {
    const std::size_t at = line.find(" " + tag + " ");
    if (at == std::string::npos) continue;
    const std::size_t value = line.find_first_not_of(' ', at + tag.size() + 1);
    values.insert(line.substr(value, line.find_last_not_of('\n') + 1 - value));
  }
  return values;
}

TEST(LinkProperties, DynamicSectionAndExportedSymbols) {
  EXPECT_EQ(ValuesOf("(RPATH)"), Names{"Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]"});
  EXPECT_EQ(ValuesOf("(RUNPATH)"), Names{});
  EXPECT_EQ(ValuesOf("(NEEDED)"), (Names{"Shared library: [libc.so.6]", "Shared library: [libdl.so.2]",
                                         "Shared library: [libpthread.so.0]"}));
  std::string flags;
  for (const char* tag : {"(BIND_NOW)", "(FLAGS)", "(FLAGS_1)"}) {
    for (const std::string& v : ValuesOf(tag)) flags += std::string(tag) + v;
  }
  EXPECT_NE(flags.find("NOW"), std::string::npos) << "bound at load time: " << flags;
#ifndef KELMAR_SANITIZED
  // Nothing of the library's own runs when it is loaded or unloaded.
  for (const char* tag : {"(INIT)", "(FINI)", "(INIT_ARRAY)", "(FINI_ARRAY)", "(PREINIT_ARRAY)"}) {
    EXPECT_EQ(ValuesOf(tag), Names{}) << tag;
  }
#endif
  // Exactly the vendor interface, its helpers and the backend table are defined for others.
  std::set<std::string> defined;
  for (const std::string& line : Output(std::string("readelf --dyn-syms -W '") + KELMAR_SHARED_LIBRARY + "'")) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if ((fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name) && num.back() == ':' &&
        ndx != "UND" && ndx != "Ndx" && bind != "LOCAL") {
      defined.insert(name.substr(0, name.find('@')));
    }
  }
  EXPECT_EQ(defined, (std::set<std::string>{"sqluvint", "sqluvget", "sqluvput", "sqluvend", "sqluvdel",
                                            "db2VendorGetNextObj", "db2VendorQueryApiVersion", "get_reg_value",
                                            "get_first_vorlan_instname", "sqluv_handle", "f_sqluvint", "f_sqluvget",
                                            "f_sqluvput", "f_sqluvend", "f_sqluvdel", "f_db2VendorGetNextObj"}));
}

std::set<std::string> Listing(const char* directory) {
  std::set<std::string> names;
  DIR* dir = opendir(directory);
  while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) names.insert(entry->d_name);
  if (dir != nullptr) closedir(dir);
  return names;
}

TEST(LinkProperties, LoadingAndUnloadingDoesNothing) {
  kelmar::testbed::RunIsolated([] {
    kelmar::testbed::EnableTrace();
    // With every marker present, anything that ran at load time would show.
    for (const char* marker : {"/tmp/debugDB2_nounload", "/tmp/xj_unloadLibXjKelmar"}) {
      kelmar::testbed::WriteFile(marker, "");
    }
    const auto state = [] {
      std::vector<std::string> all;
      for (char** entry = environ; *entry != nullptr; ++entry) all.push_back(*entry);
      char directory[4096];
      all.push_back(getcwd(directory, sizeof directory) != nullptr ? directory : "?");
      for (const std::string& name : Listing("/tmp")) all.push_back("/tmp/" + name);
      return all;
    };
    const std::vector<std::string> before = state();
    void* library = dlopen(KELMAR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(dlclose(library), 0);
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(kelmar::testbed::RawTraceLines().empty());
  });
}

}  // namespace
