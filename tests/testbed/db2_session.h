// Driving the exported functions as DB2 would, inside RunIsolated: DB2's records, the installation, the trace.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "kelmar/libkelmar.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"

namespace kelmar::testbed {

using Lines = std::vector<std::string>;

inline constexpr const char* kRegistryRoot = "/tmp/reg";
inline constexpr const char* kInstance = "Instance001";
inline constexpr const char* kHome = "/tmp/home";

// The records DB2 fills before sqluvint or sqluvdel: no options, so the instance comes from VORLAN_INST.
struct Db2Session {
  explicit Db2Session(char action_letter = 'W') : action{action_letter, '\0'} {
    info.action = action;
    in.DB2_session = &info;
  }
  Db2Session(const Db2Session&) = delete;
  Db2Session& operator=(const Db2Session&) = delete;
  char action[2];
  DB2_info info{};
  Init_input in{};
  Init_output out{};
  Return_code rc{};
};

// Installs `backend` (copied as libXjKelmar.so; empty: an empty file) as Instance001 of /tmp/reg with its home
// at `home`, points XJREG and VORLAN_INST there, unsets VORLAN_VM. Returns the base directory.
inline std::string InstallBackend(const std::string& backend, const std::string& home = kHome) {
  const RegistryTree tree(kRegistryRoot);
  tree.Export();
  setenv("VORLAN_INST", kInstance, 1);
  unsetenv("VORLAN_VM");
  return tree.Install(kInstance, home, backend);
}

// `body` in an isolated child, the trace on, `backend` installed; it gets the base directory.
inline void InSession(const std::string& backend, const std::function<void(const std::string& base)>& body) {
  RunIsolated([&] {
    EnableTrace();
    body(InstallBackend(backend));
  });
}

inline sqlint32 StartSession(Db2Session& s) { return sqluvint(&s.in, &s.out, &s.rc); }
inline sqlint32 EndSession(Db2Session& s) { return sqluvend(SQLUV_COMMIT, s.out.pVendorCB, &s.out, &s.rc); }

// The trace lines written under `tag` ("sqluvint()", ...), tag included.
inline Lines LinesTagged(const std::string& tag) {
  Lines lines = TraceLines();
  std::erase_if(lines, [&](const std::string& line) { return !line.starts_with(tag + ": "); });
  return lines;
}

inline std::size_t TimesLogged(const std::string& line) {
  return static_cast<std::size_t>(std::ranges::count(TraceLines(), line));
}

inline std::string Shown(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

}  // namespace kelmar::testbed
