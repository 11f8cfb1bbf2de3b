// What the loaded recording backend (test_backend.cpp) received and how it answers, and the library's table of
// it. Use the probes only while no load or unload runs.
#pragma once

#include <dlfcn.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "kelmar/libkelmar.h"

namespace kelmar::test_backend {

// In the order of the backend table.
enum Entry : int { kInit, kGet, kPut, kEnd, kDel, kGetNextObj, kEntryCount };

struct Call {
  Entry entry;
  sqlint32 action;      // sqluvend's first argument; 0 for the others
  const void* args[3];  // the pointer arguments, in order
  bool operator==(const Call&) const = default;
};

struct BackendState {
  std::mutex mutex;
  std::condition_variable changed;  // a hold, or the calls waiting inside
  std::vector<Call> calls;
  std::array<sqlint32, kEntryCount> results{};
  std::array<bool, kEntryCount> held{};  // calls wait inside while held
  std::array<int, kEntryCount> waiting{};
};

inline BackendState* LoadedBackend() {  // null when no recording backend is loaded
  void* const found = sqluv_handle != nullptr ? dlsym(sqluv_handle, "kelmar_test_backend_state") : nullptr;
  return found != nullptr ? reinterpret_cast<BackendState* (*)()>(found)() : nullptr;
}

inline std::vector<Call> ReceivedCalls() {  // oldest first
  BackendState* state = LoadedBackend();
  if (state == nullptr) return {};
  const std::lock_guard lock(state->mutex);
  return state->calls;
}

template <auto kMember, typename Value>
void Steer(Entry entry, Value value) {
  if (BackendState* state = LoadedBackend()) {
    const std::lock_guard lock(state->mutex);
    (state->*kMember)[entry] = value;
    state->changed.notify_all();
  }
}
inline void SetResult(Entry entry, sqlint32 result) { Steer<&BackendState::results>(entry, result); }
inline void Hold(Entry entry) { Steer<&BackendState::held>(entry, true); }
inline void Release(Entry entry) { Steer<&BackendState::held>(entry, false); }

// Waits (at most 20 s) until `count` calls of the entry are waiting inside.
inline bool AwaitWaiting(Entry entry, int count) {
  BackendState* state = LoadedBackend();
  if (state == nullptr) return false;
  std::unique_lock lock(state->mutex);
  return state->changed.wait_for(lock, std::chrono::seconds(20), [&] { return state->waiting[entry] >= count; });
}

inline bool TableEmpty() {
  return sqluv_handle == nullptr && f_sqluvint == nullptr && f_sqluvget == nullptr && f_sqluvput == nullptr &&
         f_sqluvend == nullptr && f_sqluvdel == nullptr && f_db2VendorGetNextObj == nullptr;
}

}  // namespace kelmar::test_backend
