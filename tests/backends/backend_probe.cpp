#include "backends/backend_probe.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kelmar/libkelmar.h"

namespace kelmar::test_backend {
namespace {

template <typename Fn>
Fn Control(const char* name) {
  if (sqluv_handle == nullptr) return nullptr;
  auto control = reinterpret_cast<Fn>(dlsym(sqluv_handle, name));
  EXPECT_NE(control, nullptr) << "the loaded backend has no " << name;
  return control;
}

}  // namespace

std::vector<Call> ReceivedCalls() {
  std::vector<Call> calls;
  const auto count = Control<kelmar_test_backend_call_count_fn>("kelmar_test_backend_call_count");
  const auto call = Control<kelmar_test_backend_call_fn>("kelmar_test_backend_call");
  if (count == nullptr || call == nullptr) return calls;
  for (std::size_t i = 0, n = count(); i < n; ++i) calls.push_back(call(i));
  return calls;
}

void SetResult(Entry entry, sqlint32 result) {
  if (auto set = Control<kelmar_test_backend_set_result_fn>("kelmar_test_backend_set_result")) set(entry, result);
}

void Hold(Entry entry) {
  if (auto hold = Control<kelmar_test_backend_hold_fn>("kelmar_test_backend_hold")) hold(entry, true);
}

void Release(Entry entry) {
  if (auto hold = Control<kelmar_test_backend_hold_fn>("kelmar_test_backend_hold")) hold(entry, false);
}

bool AwaitWaiting(Entry entry, int count) {
  const auto waiting = Control<kelmar_test_backend_waiting_fn>("kelmar_test_backend_waiting");
  if (waiting == nullptr) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waiting(entry) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kelmar::test_backend
