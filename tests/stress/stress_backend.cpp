// A backend for the concurrency stress test (stress_backend.h). It knows the
// sessions it opened and the calls inside it, and when it is unloaded while
// any call is inside or any session open, it aborts the process: the library
// must never unload it then.
#include "stress/stress_backend.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace {

using kelmar::stress::kStaleSession;

// Which load of the backend this is; a session remembers the load that opened it.
std::uint64_t this_load = 0;
std::atomic<int> open_sessions{0};
std::atomic<int> calls_inside{0};

struct Session {
  std::uint64_t load;
};

class Inside {
 public:
  Inside() { calls_inside.fetch_add(1); }
  ~Inside() { calls_inside.fetch_sub(1); }
  Inside(const Inside&) = delete;
  Inside& operator=(const Inside&) = delete;
};

bool Valid(const void* vendorCB) {
  const auto* session = static_cast<const Session*>(vendorCB);
  return session != nullptr && session->load == this_load;
}

void Record(char event) {
  const int fd = open(kelmar::stress::kEventsFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t written = write(fd, &event, 1);
  close(fd);
}

// Slows the call a little at random, so that other threads find it inside.
void Dwell() {
  unsigned char pause = 0;
  if (getrandom(&pause, 1, 0) == 1 && pause < 32) usleep(pause);
}

[[gnu::constructor]] void Loaded() {
  if (getrandom(&this_load, sizeof this_load, 0) != sizeof this_load) std::abort();
  Record(kelmar::stress::kLoadedEvent);
}

[[gnu::destructor]] void Unloaded() {
  if (open_sessions.load() != 0 || calls_inside.load() != 0) {
    static const char kMessage[] = "stress backend: unloaded while in use\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    std::abort();
  }
  Record(kelmar::stress::kUnloadedEvent);
}

}  // namespace

extern "C" {

sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code*) {
  const Inside inside;
  Dwell();
  const auto result = static_cast<sqlint32>(in->size_LOW_order);
  if (result == SQLUV_OK) {
    out->pVendorCB = new Session{this_load};
    open_sessions.fetch_add(1);
  }
  return result;
}

sqlint32 sqluvputpp(void* vendorCB, Data* data, Return_code*) {
  const Inside inside;
  Dwell();
  return Valid(vendorCB) ? data->obj_num : kStaleSession;
}

sqlint32 sqluvgetpp(void* vendorCB, Data* data, Return_code*) {
  const Inside inside;
  Dwell();
  return Valid(vendorCB) ? data->obj_num : kStaleSession;
}

sqlint32 db2VendorGetNextObjpp(void* vendorCB, db2VendorQueryInfo* queryInfo, Return_code*) {
  const Inside inside;
  Dwell();
  return Valid(vendorCB) ? static_cast<sqlint32>(queryInfo->sizeEstimate) : kStaleSession;
}

sqlint32 sqluvendpp(sqlint32 action, void* vendorCB, Init_output*, Return_code*) {
  const Inside inside;
  Dwell();
  if (!Valid(vendorCB)) return kStaleSession;
  delete static_cast<Session*>(vendorCB);
  open_sessions.fetch_sub(1);
  return action + kelmar::stress::kEndResultBase;
}

sqlint32 sqluvdelpp(Init_input* in, Init_output*, Return_code*) {
  const Inside inside;
  Dwell();
  return static_cast<sqlint32>(in->size_LOW_order);
}

}  // extern "C"
