// Added to a backend that does nothing else: calls back into the library while it is loaded and unloaded, and
// keeps the answers in KELMAR_REENTRY, which outlives it: " load:<sqluvint>,<its return code>,<sqluvdel>", ...
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testbed/db2_session.h"

namespace {

void CallBackIn(const char* when) {
  kelmar::testbed::Db2Session init, del;
  const sqlint32 init_result = sqluvint(&init.in, &init.out, &init.rc);
  const sqlint32 del_result = sqluvdel(&del.in, &del.out, &del.rc);
  char entry[64];
  std::snprintf(entry, sizeof entry, " %s:%d,%d,%d", when, init_result, init.rc.return_code, del_result);
  const char* before = std::getenv("KELMAR_REENTRY");
  setenv("KELMAR_REENTRY", (std::string(before != nullptr ? before : "") + entry).c_str(), 1);
}

[[gnu::constructor]] void Loaded() { CallBackIn("load"); }
[[gnu::destructor]] void Unloaded() { CallBackIn("unload"); }

}  // namespace
