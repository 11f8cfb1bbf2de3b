// A stand-in for the Vorlan backend: records every call with its arguments,
// returns the result the test chose for the entry, and keeps calls of a held
// entry waiting inside. Built with KELMAR_TEST_BACKEND_OMIT=<entry> it lacks
// that entry point.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "backends/test_backend_control.h"

#ifndef KELMAR_TEST_BACKEND_OMIT
#define KELMAR_TEST_BACKEND_OMIT -1
#endif

namespace {

using kelmar::test_backend::Call;
using kelmar::test_backend::Entry;
using kelmar::test_backend::kEntryCount;

std::mutex state_mutex;
std::condition_variable released;
std::vector<Call> calls;
sqlint32 results[kEntryCount] = {};
bool held[kEntryCount] = {};
int waiting[kEntryCount] = {};

[[maybe_unused]] sqlint32 Receive(Entry entry, sqlint32 action, const void* a, const void* b, const void* c) {
  std::unique_lock lock(state_mutex);
  calls.push_back(Call{entry, action, {a, b, c}});
  ++waiting[entry];
  released.wait(lock, [entry] { return !held[entry]; });
  --waiting[entry];
  return results[entry];
}

}  // namespace

extern "C" {

#if KELMAR_TEST_BACKEND_OMIT != 0
sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code* rc) {
  return Receive(kelmar::test_backend::kInit, 0, in, out, rc);
}
#endif
#if KELMAR_TEST_BACKEND_OMIT != 1
sqlint32 sqluvgetpp(void* vendorCB, Data* data, Return_code* rc) {
  return Receive(kelmar::test_backend::kGet, 0, vendorCB, data, rc);
}
#endif
#if KELMAR_TEST_BACKEND_OMIT != 2
sqlint32 sqluvputpp(void* vendorCB, Data* data, Return_code* rc) {
  return Receive(kelmar::test_backend::kPut, 0, vendorCB, data, rc);
}
#endif
#if KELMAR_TEST_BACKEND_OMIT != 3
sqlint32 sqluvendpp(sqlint32 action, void* vendorCB, Init_output* out, Return_code* rc) {
  return Receive(kelmar::test_backend::kEnd, action, vendorCB, out, rc);
}
#endif
#if KELMAR_TEST_BACKEND_OMIT != 4
sqlint32 sqluvdelpp(Init_input* in, Init_output* vendorDevData, Return_code* rc) {
  return Receive(kelmar::test_backend::kDel, 0, in, vendorDevData, rc);
}
#endif
#if KELMAR_TEST_BACKEND_OMIT != 5
sqlint32 db2VendorGetNextObjpp(void* vendorCB, db2VendorQueryInfo* queryInfo, Return_code* rc) {
  return Receive(kelmar::test_backend::kGetNextObj, 0, vendorCB, queryInfo, rc);
}
#endif

void kelmar_test_backend_set_result(int entry, sqlint32 result) {
  const std::lock_guard lock(state_mutex);
  results[entry] = result;
}

std::size_t kelmar_test_backend_call_count() {
  const std::lock_guard lock(state_mutex);
  return calls.size();
}

Call kelmar_test_backend_call(std::size_t index) {
  const std::lock_guard lock(state_mutex);
  return calls.at(index);
}

void kelmar_test_backend_hold(int entry, bool hold) {
  {
    const std::lock_guard lock(state_mutex);
    held[entry] = hold;
  }
  released.notify_all();
}

int kelmar_test_backend_waiting(int entry) {
  const std::lock_guard lock(state_mutex);
  return waiting[entry];
}

}  // extern "C"
