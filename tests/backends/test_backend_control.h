// What the test backends record and how the tests steer them. The control
// functions are looked up in the loaded backend by name (backend_probe.h).
#pragma once

#include <cstddef>

#include "kelmar/db2_vendor.h"

namespace kelmar::test_backend {

// The six entry points, in the order of the backend table.
enum Entry : int { kInit, kGet, kPut, kEnd, kDel, kGetNextObj, kEntryCount };

// One call as the backend received it.
struct Call {
  Entry entry;
  sqlint32 action;         // sqluvend's first argument; 0 for the others
  const void* args[3];     // the pointer arguments, in order
};

}  // namespace kelmar::test_backend

extern "C" {
using kelmar_test_backend_set_result_fn = void (*)(int entry, sqlint32 result);
using kelmar_test_backend_call_count_fn = std::size_t (*)();
using kelmar_test_backend_call_fn = kelmar::test_backend::Call (*)(std::size_t index);
// While an entry is held, its calls wait inside the backend until released.
using kelmar_test_backend_hold_fn = void (*)(int entry, bool hold);
using kelmar_test_backend_waiting_fn = int (*)(int entry);
}
