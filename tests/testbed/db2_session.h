// Driving the exported functions as DB2 would, inside RunIsolated: DB2's records, the installation, the trace.
#pragma once

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

// The records DB2 fills before sqluvint or sqluvdel: no options, so the instance comes from VORLAN_INST. A session
// that Start opened and nobody ended is aborted when it goes out of scope, as DB2 does after a failure.
class Db2Session {
 public:
  static constexpr char kDeleteImages = 'M';  // DB2's action when it deletes backup images
  explicit Db2Session(char action_letter = 'W') : action_{action_letter, '\0'} {
    info.action = action_;
    in.DB2_session = &info;
  }
  Db2Session(const Db2Session&) = delete;
  Db2Session& operator=(const Db2Session&) = delete;
  ~Db2Session() {
    if (open_) End(SQLUV_ABORT);
  }

  sqlint32 Start() {
    const sqlint32 result = sqluvint(&in, &out, &rc);
    open_ = result == SQLUV_OK;
    return result;
  }
  sqlint32 End(sqlint32 how = SQLUV_COMMIT) {
    open_ = false;
    return sqluvend(how, out.pVendorCB, &out, &rc);
  }
  sqlint32 Delete() { return sqluvdel(&in, &out, &rc); }

  DB2_info info{};
  Init_input in{};
  Init_output out{};
  Return_code rc{};

 private:
  char action_[2];
  bool open_ = false;
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
