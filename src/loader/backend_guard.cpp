#include "loader/backend_guard.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "loader/forked_child.h"

namespace kelmar {
namespace {

constinit pthread_rwlock_t backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;
constinit pthread_mutex_t lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
// The thread inside the lifecycle lock, zero while nobody is. A thread finds
// its own id here only between its own lock and unlock.
constinit std::atomic<pthread_t> lifecycle_holder{};
// Whether the lifecycle holder holds the table exclusively too. Only that
// holder writes it, and every hold starts by clearing it: a holder that a
// forked child lacks leaves it set.
constinit bool exclusive_held = false;

// Per thread, the number of shared holds it has on the table (a backend may
// call back in from inside a call).
constinit pthread_key_t shared_holds{};
constinit pthread_once_t fork_handling = PTHREAD_ONCE_INIT;

std::uintptr_t SharedHoldsOfThisThread() { return reinterpret_cast<std::uintptr_t>(pthread_getspecific(shared_holds)); }

void CountSharedHolds(std::uintptr_t holds) { pthread_setspecific(shared_holds, reinterpret_cast<void*>(holds)); }

// In a forked child only the thread that forked runs on, and the locks are as
// the parent's threads left them at that moment: held, perhaps, by threads
// that do not exist here, inside a backend's load or unload, inside a call.
// Each is made fresh and taken again for what the forking thread itself held,
// so that its calls, its own load or unload included, leave them as usual
// (glibc knows a lock's writer by its thread ID, which is new in the child).
void ResetLocksInForkedChild() {
  const bool lifecycle_mine = LifecycleHeldByThisThread();
  backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;
  lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
  MakeSessionsLockFresh();
  if (lifecycle_mine) {
    pthread_mutex_lock(&lifecycle_lock);
    if (exclusive_held) pthread_rwlock_wrlock(&backend_table_lock);
  } else {
    lifecycle_holder.store(pthread_t{}, std::memory_order_relaxed);
  }
  for (std::uintptr_t holds = SharedHoldsOfThisThread(); holds > 0; --holds) pthread_rwlock_rdlock(&backend_table_lock);
}

// Without the count of shared holds a child could not tell its own: then no
// reset at all.
void HandleForks() {
  if (pthread_key_create(&shared_holds, nullptr) == 0) RunInEveryForkedChild(ResetLocksInForkedChild);
}

void HandleForksFromNowOn() { pthread_once(&fork_handling, HandleForks); }

}  // namespace

LifecycleHold::LifecycleHold() {
  HandleForksFromNowOn();
  pthread_mutex_lock(&lifecycle_lock);
  lifecycle_holder.store(pthread_self(), std::memory_order_relaxed);
  exclusive_held = false;
}

LifecycleHold::~LifecycleHold() {
  lifecycle_holder.store(pthread_t{}, std::memory_order_relaxed);
  pthread_mutex_unlock(&lifecycle_lock);
}

bool LifecycleHeldByThisThread() {
  return pthread_equal(lifecycle_holder.load(std::memory_order_relaxed), pthread_self()) != 0;
}

SharedTableHold SharedTableHold::Take() {
  HandleForksFromNowOn();
  if (pthread_rwlock_rdlock(&backend_table_lock) != 0) return None();
  CountSharedHolds(SharedHoldsOfThisThread() + 1);
  return SharedTableHold(true);
}

SharedTableHold::~SharedTableHold() {
  if (!held_) return;
  CountSharedHolds(SharedHoldsOfThisThread() - 1);
  pthread_rwlock_unlock(&backend_table_lock);
}

ExclusiveTableHold ExclusiveTableHold::Wait(const LifecycleHold&) {
  exclusive_held = pthread_rwlock_wrlock(&backend_table_lock) == 0;
  return ExclusiveTableHold(exclusive_held);
}

ExclusiveTableHold ExclusiveTableHold::TryNow(const LifecycleHold&) {
  exclusive_held = pthread_rwlock_trywrlock(&backend_table_lock) == 0;
  return ExclusiveTableHold(exclusive_held);
}

ExclusiveTableHold::~ExclusiveTableHold() {
  if (!held_) return;
  exclusive_held = false;
  pthread_rwlock_unlock(&backend_table_lock);
}

}  // namespace kelmar
