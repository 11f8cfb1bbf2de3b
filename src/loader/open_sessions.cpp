#include "loader/open_sessions.h"

#include "base/process_locks.h"
#include "base/process_state.h"

namespace kelmar {
namespace {

constinit ProcessState& state = process_state;

OpenHandle* Find(const void* vendor_cb) {
  for (OpenHandle& handle : state.open_handles) {
    if (handle.sessions > 0 && handle.vendor_cb == vendor_cb) return &handle;
  }
  return nullptr;
}

OpenHandle* FindFree() {
  for (OpenHandle& handle : state.open_handles) {
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
    ++state.untracked_sessions;
  }
}

void NoteSessionEnded(const void* vendor_cb, sqlint32 result) {
  if (!EndsSession(result)) return;
  const SessionsHold hold;
  if (OpenHandle* handle = Find(vendor_cb)) --handle->sessions;
}

bool AnySessionOpen() {
  const SessionsHold hold;
  if (state.untracked_sessions > 0) return true;
  for (const OpenHandle& handle : state.open_handles) {
    if (handle.sessions > 0) return true;
  }
  return false;
}

}  // namespace kelmar
