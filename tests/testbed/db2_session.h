// Driving the exported functions as DB2 would, inside RunIsolated: DB2's records for one session, which ends itself.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "kelmar/libkelmar.h"
#include "testbed/installation.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace kelmar::testbed {

// The records DB2 fills before sqluvint or sqluvdel: no options, so the instance comes from VORLAN_INST. A session
// that Start opened and nobody ended is aborted when it goes out of scope, as DB2 does after a failure.
class Db2Session {
 public:
  static constexpr char kRead = 'R';
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

// `body` in an isolated child, the trace on, `backend` installed; it gets the base directory.
inline void InSession(const std::string& backend, const std::function<void(const std::string& base)>& body) {
  RunIsolated([&] {
    EnableTrace();
    body(InstallBackend(backend));
  });
}

// A pointer as the library's trace shows it ("%p").
inline std::string Shown(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

}  // namespace kelmar::testbed
