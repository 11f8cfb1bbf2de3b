// The stress test's backend (stress_backend.h). Unloaded while a call is inside or a session open, it aborts the
// process: the library must never unload it then.
#include "stress/stress_backend.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace {

std::uint64_t this_load = 0;  // a session remembers the load that opened it
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

sqlint32 IfValid(const void* cb, sqlint32 result) {
  return cb != nullptr && *static_cast<const std::uint64_t*>(cb) == this_load ? result : kelmar::stress::kStaleSession;
}

void Record(char event) {
  const int fd = open(kelmar::stress::kEventsFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (write(fd, &event, 1) != 1 || close(fd) != 0) std::abort();
}

[[gnu::constructor]] void Loaded() {
  if (getrandom(&this_load, sizeof this_load, 0) != sizeof this_load) std::abort();
  Record('l');
}

[[gnu::destructor]] void Unloaded() {
  if (open_sessions.load() != 0 || calls_inside.load() != 0) std::abort();  // unloaded while in use
  Record('u');
}

}  // namespace

extern "C" {
sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code*) {
  const Inside inside;
  const auto result = static_cast<sqlint32>(in->size_LOW_order);
  if (result == SQLUV_OK) {
    out->pVendorCB = new std::uint64_t{this_load};
    open_sessions.fetch_add(1);
  }
  return result;
}
sqlint32 sqluvputpp(void* cb, Data* data, Return_code*) { const Inside inside; return IfValid(cb, data->obj_num); }
sqlint32 sqluvgetpp(void* cb, Data* data, Return_code*) { const Inside inside; return IfValid(cb, data->obj_num); }
sqlint32 db2VendorGetNextObjpp(void* cb, db2VendorQueryInfo* query, Return_code*) {
  const Inside inside;
  return IfValid(cb, static_cast<sqlint32>(query->sizeEstimate));
}
sqlint32 sqluvendpp(sqlint32 action, void* cb, Init_output*, Return_code*) {
  const Inside inside;
  if (IfValid(cb, 0) != 0) return kelmar::stress::kStaleSession;
  delete static_cast<std::uint64_t*>(cb);
  open_sessions.fetch_sub(1);
  return action + kelmar::stress::kEndResultBase;
}
sqlint32 sqluvdelpp(Init_input* in, Init_output*, Return_code*) {
  const Inside inside;
  return static_cast<sqlint32>(in->size_LOW_order);
}
}  // extern "C"
