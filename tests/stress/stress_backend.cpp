// The stress test's backend (stress_backend.h). Unloaded while a call is inside or a session open, it aborts the
// process: the library must never unload it then (a call of a session from an earlier load would need that).
#include "stress/stress_backend.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> open_sessions{0}, calls_inside{0};

// Counts the call as inside for its duration, slowed a little at random so that other threads find it there.
struct Inside {
  Inside() {
    calls_inside.fetch_add(1);
    unsigned char pause = 0;
    if (getrandom(&pause, 1, 0) == 1 && pause < 32) usleep(pause);
  }
  ~Inside() { calls_inside.fetch_sub(1); }
};

void Record(char event) {
  const int fd = open(kelmar::stress::kEventsFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (write(fd, &event, 1) != 1 || close(fd) != 0) std::abort();
}

[[gnu::constructor]] void Loaded() { Record(kelmar::stress::kLoadEvent); }
[[gnu::destructor]] void Unloaded() {
  if (open_sessions.load() != 0 || calls_inside.load() != 0) std::abort();
  Record(kelmar::stress::kUnloadEvent);
}

}  // namespace

extern "C" {
sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code*) {
  const Inside inside;
  const auto result = static_cast<sqlint32>(in->size_LOW_order);
  if (result == SQLUV_OK) {
    out->pVendorCB = in;  // one of its own per session
    open_sessions.fetch_add(1);
  }
  return result;
}
sqlint32 sqluvputpp(void*, Data* data, Return_code*) { const Inside inside; return data->obj_num; }
sqlint32 sqluvgetpp(void*, Data* data, Return_code*) { const Inside inside; return data->obj_num; }
sqlint32 db2VendorGetNextObjpp(void*, db2VendorQueryInfo* query, Return_code*) {
  const Inside inside;
  return static_cast<sqlint32>(query->sizeEstimate);
}
sqlint32 sqluvendpp(sqlint32 action, void*, Init_output*, Return_code*) {
  const Inside inside;
  open_sessions.fetch_sub(1);
  return action + kelmar::stress::kEndResultBase;
}
sqlint32 sqluvdelpp(Init_input* in, Init_output*, Return_code*) {
  const Inside inside;
  return static_cast<sqlint32>(in->size_LOW_order);
}
}  // extern "C"
