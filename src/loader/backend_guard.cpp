#include "loader/backend_guard.h"

#include <atomic>

namespace kelmar {

constinit pthread_rwlock_t backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;

namespace {
constinit pthread_mutex_t lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
constinit std::atomic<int> open_sessions{0};
}  // namespace

LifecycleHold::LifecycleHold() { pthread_mutex_lock(&lifecycle_lock); }
LifecycleHold::~LifecycleHold() { pthread_mutex_unlock(&lifecycle_lock); }

ExclusiveTableHold ExclusiveTableHold::Wait(const LifecycleHold&) {
  return ExclusiveTableHold(pthread_rwlock_wrlock(&backend_table_lock) == 0);
}

ExclusiveTableHold ExclusiveTableHold::TryNow(const LifecycleHold&) {
  return ExclusiveTableHold(pthread_rwlock_trywrlock(&backend_table_lock) == 0);
}

ExclusiveTableHold::~ExclusiveTableHold() {
  if (held_) pthread_rwlock_unlock(&backend_table_lock);
}

void NoteSessionOpened() { open_sessions.fetch_add(1, std::memory_order_relaxed); }

void NoteSessionClosed() {
  // A stray sqluvend (one whose sqluvint failed) must not leave the count
  // below zero, where it would hide the next open session.
  int open = open_sessions.load(std::memory_order_relaxed);
  while (open > 0 && !open_sessions.compare_exchange_weak(open, open - 1, std::memory_order_relaxed)) {
  }
}

bool AnySessionOpen() { return open_sessions.load(std::memory_order_relaxed) > 0; }

}  // namespace kelmar
