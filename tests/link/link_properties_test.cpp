// The properties of the built libkelmar.so that DB2 and the operators rely on, read from the file itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace {

using Names = std::multiset<std::string>;

TEST(LinkProperties, DynamicSectionAndExportedSymbols) {
  std::map<std::string, Names> dynamic;  // "(NEEDED)" -> "Shared library: [libc.so.6]", ...
  std::set<std::string> defined;
  FILE* pipe = popen((std::string("readelf -W -d --dyn-syms '") + KELMAR_SHARED_LIBRARY + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (char line[4096]; std::fgets(line, sizeof line, pipe) != nullptr;) {
    std::istringstream fields(line);
    std::string first, second, value, type, bind, vis, ndx, name;
    if (!(fields >> first >> second)) continue;
    if (second.starts_with('(')) {
      std::getline(fields >> std::ws, value);
      dynamic[second].insert(value);
    } else if (first.back() == ':' && (fields >> value >> type >> bind >> vis >> ndx >> name) && ndx != "UND" &&
               ndx != "Ndx" && bind != "LOCAL") {
      defined.insert(name.substr(0, name.find('@')));
    }
  }
  pclose(pipe);
  EXPECT_EQ(dynamic["(RPATH)"], Names{"Library rpath: [$ORIGIN:$ORIGIN/../Base64:.]"});
  EXPECT_EQ(dynamic["(RUNPATH)"], Names{});
  EXPECT_EQ(dynamic["(NEEDED)"], (Names{"Shared library: [libc.so.6]", "Shared library: [libdl.so.2]",
                                        "Shared library: [libpthread.so.0]"}));
  std::string flags;
  for (const char* tag : {"(BIND_NOW)", "(FLAGS)", "(FLAGS_1)"}) {
    for (const std::string& v : dynamic[tag]) flags += tag + v;
  }
  EXPECT_NE(flags.find("NOW"), std::string::npos) << "bound at load time: " << flags;
#ifndef KELMAR_SANITIZED
  // Nothing of the library's own runs when it is loaded or unloaded.
  for (const char* tag : {"(INIT)", "(FINI)", "(INIT_ARRAY)", "(FINI_ARRAY)", "(PREINIT_ARRAY)"}) {
    EXPECT_EQ(dynamic[tag], Names{}) << tag;
  }
#endif
  // Exactly the vendor interface, its helpers and the backend table are defined for others.
  EXPECT_EQ(defined, (std::set<std::string>{"sqluvint", "sqluvget", "sqluvput", "sqluvend", "sqluvdel",
                                            "db2VendorGetNextObj", "db2VendorQueryApiVersion", "get_reg_value",
                                            "get_first_vorlan_instname", "sqluv_handle", "f_sqluvint", "f_sqluvget",
                                            "f_sqluvput", "f_sqluvend", "f_sqluvdel", "f_db2VendorGetNextObj"}));
}

}  // namespace
