#include "loader/backend_guard.h"

#include <atomic>

namespace kelmar {

constinit pthread_rwlock_t backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;

namespace {
constinit pthread_mutex_t lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
// The thread inside the lifecycle lock, zero while nobody is. A thread finds
// its own id here only between its own lock and unlock.
constinit std::atomic<pthread_t> lifecycle_holder{};
}  // namespace

LifecycleHold::LifecycleHold() {
  pthread_mutex_lock(&lifecycle_lock);
  lifecycle_holder.store(pthread_self(), std::memory_order_relaxed);
}

LifecycleHold::~LifecycleHold() {
  lifecycle_holder.store(pthread_t{}, std::memory_order_relaxed);
  pthread_mutex_unlock(&lifecycle_lock);
}

bool LifecycleHeldByThisThread() {
  return pthread_equal(lifecycle_holder.load(std::memory_order_relaxed), pthread_self()) != 0;
}

ExclusiveTableHold ExclusiveTableHold::Wait(const LifecycleHold&) {
  return ExclusiveTableHold(pthread_rwlock_wrlock(&backend_table_lock) == 0);
}

ExclusiveTableHold ExclusiveTableHold::TryNow(const LifecycleHold&) {
  return ExclusiveTableHold(pthread_rwlock_trywrlock(&backend_table_lock) == 0);
}

ExclusiveTableHold::~ExclusiveTableHold() {
  if (held_) pthread_rwlock_unlock(&backend_table_lock);
}

}  // namespace kelmar
