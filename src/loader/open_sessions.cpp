#include "loader/open_sessions.h"

#include <pthread.h>

#include <array>
#include <cstddef>

namespace kelmar {
namespace {

// Far more than DB2 opens at once in one process.
constexpr std::size_t kTrackedHandles = 1024;

struct OpenHandle {
  const void* vendor_cb;
  unsigned sessions;  // 0: the slot is free
};

constinit pthread_mutex_t sessions_lock = PTHREAD_MUTEX_INITIALIZER;
constinit std::array<OpenHandle, kTrackedHandles> open_handles{};
// Sessions that found no free slot. Their ends cannot be told from stray
// ones, so they keep the backend loaded for the life of the process.
constinit unsigned untracked_sessions = 0;

class SessionsHold {
 public:
  SessionsHold() { pthread_mutex_lock(&sessions_lock); }
  ~SessionsHold() { pthread_mutex_unlock(&sessions_lock); }
  SessionsHold(const SessionsHold&) = delete;
  SessionsHold& operator=(const SessionsHold&) = delete;
};

OpenHandle* Find(const void* vendor_cb) {
  for (OpenHandle& handle : open_handles) {
    if (handle.sessions > 0 && handle.vendor_cb == vendor_cb) return &handle;
  }
  return nullptr;
}

OpenHandle* FindFree() {
  for (OpenHandle& handle : open_handles) {
    if (handle.sessions == 0) return &handle;
  }
  return nullptr;
}

bool EndsSession(sqlint32 result) { return result != SQLUV_INV_ACTION && result != SQLUV_COMMIT_FAILED; }

}  // namespace

void NoteSessionOpened(const void* vendor_cb) {
  const SessionsHold hold;
  OpenHandle* handle = Find(vendor_cb);
  if (handle == nullptr && (handle = FindFree()) != nullptr) handle->vendor_cb = vendor_cb;
  if (handle != nullptr) {
    ++handle->sessions;
  } else {
    ++untracked_sessions;
  }
}

void NoteSessionEnded(const void* vendor_cb, sqlint32 result) {
  if (!EndsSession(result)) return;
  const SessionsHold hold;
  if (OpenHandle* handle = Find(vendor_cb)) --handle->sessions;
}

bool AnySessionOpen() {
  const SessionsHold hold;
  if (untracked_sessions > 0) return true;
  for (const OpenHandle& handle : open_handles) {
    if (handle.sessions > 0) return true;
  }
  return false;
}

void MakeSessionsLockFresh() { sessions_lock = PTHREAD_MUTEX_INITIALIZER; }

}  // namespace kelmar
