#include "base/process_locks.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "base/forked_child.h"
#include "base/process_state.h"

namespace kelmar {
namespace {

constinit ProcessState& state = process_state;

std::uintptr_t SharedHoldsOfThisThread() {
  if (!state.shared_table_holds_created) return 0;
  return reinterpret_cast<std::uintptr_t>(pthread_getspecific(state.shared_table_holds));
}

void CountSharedHolds(std::uintptr_t holds) {
  if (!state.shared_table_holds_created) return;
  pthread_setspecific(state.shared_table_holds, reinterpret_cast<void*>(holds));
}

// In a forked child only the thread that forked runs on, and the locks are as
// the parent's threads left them at that moment: held, perhaps, by threads
// that do not exist here, inside a backend's load or unload, inside a call.
// Each is made fresh and taken again for what the forking thread itself held,
// so that its calls, its own load or unload included, leave them as usual
// (glibc knows a lock's writer by its thread ID, which is new in the child).
// The forking thread never holds the sessions lock: nothing runs under it but
// the count.
void ResetLocksInForkedChild() {
  const bool lifecycle_mine = LifecycleHeldByThisThread();
  state.backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;
  state.lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
  state.sessions_lock = PTHREAD_MUTEX_INITIALIZER;
  if (lifecycle_mine) {
    pthread_mutex_lock(&state.lifecycle_lock);
    if (state.exclusive_table_held) pthread_rwlock_wrlock(&state.backend_table_lock);
  } else {
    state.lifecycle_holder.store(pthread_t{}, std::memory_order_relaxed);
  }
  for (std::uintptr_t holds = SharedHoldsOfThisThread(); holds > 0; --holds) {
    pthread_rwlock_rdlock(&state.backend_table_lock);
  }
}

// Without the count of shared holds a child could not tell its own: then no
// reset at all.
void HandleForks() {
  state.shared_table_holds_created = pthread_key_create(&state.shared_table_holds, nullptr) == 0;
  if (state.shared_table_holds_created) RunInEveryForkedChild(ResetLocksInForkedChild);
}

void HandleForksFromNowOn() { pthread_once(&state.fork_handling, HandleForks); }

}  // namespace

LifecycleHold::LifecycleHold() {
  HandleForksFromNowOn();
  pthread_mutex_lock(&state.lifecycle_lock);
  state.lifecycle_holder.store(pthread_self(), std::memory_order_relaxed);
  state.exclusive_table_held = false;
}

LifecycleHold::~LifecycleHold() {
  state.lifecycle_holder.store(pthread_t{}, std::memory_order_relaxed);
  pthread_mutex_unlock(&state.lifecycle_lock);
}

bool LifecycleHeldByThisThread() {
  return pthread_equal(state.lifecycle_holder.load(std::memory_order_relaxed), pthread_self()) != 0;
}

SharedTableHold SharedTableHold::Take() {
  HandleForksFromNowOn();
  if (pthread_rwlock_rdlock(&state.backend_table_lock) != 0) return None();
  CountSharedHolds(SharedHoldsOfThisThread() + 1);
  return SharedTableHold(true);
}

SharedTableHold::~SharedTableHold() {
  if (!held_) return;
  CountSharedHolds(SharedHoldsOfThisThread() - 1);
  pthread_rwlock_unlock(&state.backend_table_lock);
}

ExclusiveTableHold ExclusiveTableHold::Wait(const LifecycleHold&) {
  state.exclusive_table_held = pthread_rwlock_wrlock(&state.backend_table_lock) == 0;
  return ExclusiveTableHold(state.exclusive_table_held);
}

ExclusiveTableHold ExclusiveTableHold::TryNow(const LifecycleHold&) {
  state.exclusive_table_held = pthread_rwlock_trywrlock(&state.backend_table_lock) == 0;
  return ExclusiveTableHold(state.exclusive_table_held);
}

ExclusiveTableHold::~ExclusiveTableHold() {
  if (!held_) return;
  state.exclusive_table_held = false;
  pthread_rwlock_unlock(&state.backend_table_lock);
}

SessionsHold::SessionsHold() { pthread_mutex_lock(&state.sessions_lock); }

SessionsHold::~SessionsHold() { pthread_mutex_unlock(&state.sessions_lock); }

}  // namespace kelmar
