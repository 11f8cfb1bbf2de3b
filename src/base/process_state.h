// Everything the library keeps for the life of the process, in one place, so
// that a reader can check who may touch what and under which lock. All of it
// is initialised before any code runs (constinit: nothing runs when the
// library is loaded), none of it is freed, and a forked child starts with its
// parent's copy (process_locks.cpp makes the locks usable there).
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstddef>

#include "base/bounded_text.h"

namespace kelmar {

inline constexpr std::size_t kVorlanVmBytes = 2049;

// Far more than DB2 opens at once in one process.
inline constexpr std::size_t kTrackedSessionHandles = 1024;

// A vendorCB that sqluvintpp handed back, with its sessions still open.
struct OpenHandle {
  const void* vendor_cb;
  unsigned sessions;  // 0: the slot is free
};

struct ProcessState {
  // The backend table (sqluv_handle and the six f_* pointers, below): held
  // shared around every read of the table and every call into the backend,
  // exclusively, by a holder of the lifecycle lock, while the table is
  // written (process_locks.h).
  pthread_rwlock_t backend_table_lock = PTHREAD_RWLOCK_INITIALIZER;
  // Per thread, the number of shared holds it has on the table (a backend may
  // call back in from inside a call). Created with the fork handling; until
  // then, or when it cannot be created, the key is no key of ours and must
  // not be used: another component of the process may own its number.
  pthread_key_t shared_table_holds{};
  bool shared_table_holds_created = false;

  // Serialises loads, unloads, the marker check and discovery's writes to the
  // environment and to vorlan_vm.
  pthread_mutex_t lifecycle_lock = PTHREAD_MUTEX_INITIALIZER;
  // The thread inside the lifecycle lock, zero while nobody is. A thread finds
  // its own id here only between its own lock and unlock.
  std::atomic<pthread_t> lifecycle_holder{};
  // Whether the lifecycle holder holds the table exclusively too. Only that
  // holder writes it, and every hold starts by clearing it: a holder that a
  // forked child lacks leaves it set.
  bool exclusive_table_held = false;

  // Once per process, by the first hold of either lock: the count of shared
  // holds and the handler that makes the locks usable in a forked child.
  pthread_once_t fork_handling = PTHREAD_ONCE_INIT;

  // The sessions the backend holds open (open_sessions.h), under this lock,
  // which no code holds while it calls anything outside open_sessions.cpp.
  pthread_mutex_t sessions_lock = PTHREAD_MUTEX_INITIALIZER;
  std::array<OpenHandle, kTrackedSessionHandles> open_handles{};
  // Sessions that found no free slot. Their ends cannot be told from stray
  // ones, so they keep the backend loaded for the life of the process.
  unsigned untracked_sessions = 0;

  // The registry root (xjReg, below) is settled once per process, even for
  // two first sessions at the same time. Unlike a lock, the once does not
  // keep a child forked during the settling waiting for a thread that is not
  // there: the child settles again. A relative XJREG resolved against the
  // working directory is kept here.
  pthread_once_t registry_root_settling = PTHREAD_ONCE_INIT;
  PathText resolved_registry_root{};

  // No trace lines from this process (trace_log.h): set by kelmar-check
  // before it runs any of the library's code, never cleared, so relaxed
  // loads and stores are enough.
  std::atomic<bool> trace_switched_off{false};
};

extern ProcessState process_state;

}  // namespace kelmar

// The state kept under the names that outside programs and the backend know.
// sqluv_handle and the six f_* pointers, the backend table, are declared in
// kelmar/libkelmar.h: null until a load fills them, under backend_table_lock.

// The registry root: null until first settled (registry_root.h); afterwards
// a non-empty text that lives as long as the process. Atomic because DB2 may
// open sessions on several threads.
extern std::atomic<const char*> xjReg;

// The instance name this process exported as VORLAN_VM, or the value
// VORLAN_VM already had. Empty until the first call that settles it; never
// cleared. Written under the lifecycle lock.
extern char vorlan_vm[kelmar::kVorlanVmBytes];
