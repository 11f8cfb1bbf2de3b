// The holds on the locks of process_state.h, which keep the backend from
// being loaded, unloaded or replaced under a call while DB2 runs sessions on
// several threads of one process:
//  - the table lock is held shared around every read of the backend table and
//    every call into the backend (shared holders never wait for each other),
//    and exclusively while the table is written;
//  - the lifecycle lock serialises loads, unloads, the marker check and
//    discovery's writes to the environment, so concurrent first calls load
//    the backend once; the functions that need it ask for its hold;
//  - the sessions lock guards the count of open sessions.
// A child that the process forks while any thread holds them finds them
// usable: the first hold of the table or lifecycle lock in the process
// arranges that.
#pragma once

namespace kelmar {

// Held while loading, unloading, checking the markers or writing the
// environment.
class LifecycleHold {
 public:
  LifecycleHold();
  ~LifecycleHold();
  LifecycleHold(const LifecycleHold&) = delete;
  LifecycleHold& operator=(const LifecycleHold&) = delete;
};

// True inside a LifecycleHold of the calling thread: for a call that the
// backend makes from its own load or unload, which must not wait for it.
bool LifecycleHeldByThisThread();

// A shared hold on the backend table; taken on the hot path of every call.
class SharedTableHold {
 public:
  static SharedTableHold Take();
  static SharedTableHold None() { return SharedTableHold(false); }
  ~SharedTableHold();
  SharedTableHold(const SharedTableHold&) = delete;
  SharedTableHold& operator=(const SharedTableHold&) = delete;

  bool held() const { return held_; }

 private:
  explicit SharedTableHold(bool held) : held_(held) {}
  bool held_;
};

// The sole hold on the backend table, needed to write it. Only a holder of
// the lifecycle lock may ask for it, so writers never wait for each other.
class ExclusiveTableHold {
 public:
  // Waits until the shared holders have left.
  static ExclusiveTableHold Wait(const LifecycleHold& lifecycle);
  // Held only if nobody holds the table at this moment.
  static ExclusiveTableHold TryNow(const LifecycleHold& lifecycle);
  ~ExclusiveTableHold();
  ExclusiveTableHold(const ExclusiveTableHold&) = delete;
  ExclusiveTableHold& operator=(const ExclusiveTableHold&) = delete;

  bool held() const { return held_; }

 private:
  explicit ExclusiveTableHold(bool held) : held_(held) {}
  bool held_;
};

// Held while the count of open sessions is read or changed.
class SessionsHold {
 public:
  SessionsHold();
  ~SessionsHold();
  SessionsHold(const SessionsHold&) = delete;
  SessionsHold& operator=(const SessionsHold&) = delete;
};

}  // namespace kelmar
