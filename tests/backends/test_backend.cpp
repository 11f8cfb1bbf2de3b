// A stand-in for the Vorlan backend that records every call, answers as the test chose and keeps calls of a held
// entry waiting inside (backend_probe.h). The backends lacking an entry point are built with that entry renamed.
#include "backends/backend_probe.h"

using namespace kelmar::test_backend;

namespace {

BackendState state;

sqlint32 Receive(Entry entry, sqlint32 action, const void* a, const void* b, const void* c) {
  std::unique_lock lock(state.mutex);
  state.calls.push_back(Call{entry, action, {a, b, c}});
  ++state.waiting[entry];
  state.changed.notify_all();
  state.changed.wait(lock, [&] { return !state.held[entry]; });
  --state.waiting[entry];
  return state.results[entry];
}

}  // namespace

extern "C" {
BackendState* kelmar_test_backend_state() { return &state; }
sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code* rc) { return Receive(kInit, 0, in, out, rc); }
sqlint32 sqluvgetpp(void* cb, Data* data, Return_code* rc) { return Receive(kGet, 0, cb, data, rc); }
sqlint32 sqluvputpp(void* cb, Data* data, Return_code* rc) { return Receive(kPut, 0, cb, data, rc); }
sqlint32 sqluvendpp(sqlint32 action, void* cb, Init_output* out, Return_code* rc) {
  return Receive(kEnd, action, cb, out, rc);
}
sqlint32 sqluvdelpp(Init_input* in, Init_output* out, Return_code* rc) { return Receive(kDel, 0, in, out, rc); }
sqlint32 db2VendorGetNextObjpp(void* cb, db2VendorQueryInfo* query, Return_code* rc) {
  return Receive(kGetNextObj, 0, cb, query, rc);
}
}  // extern "C"
