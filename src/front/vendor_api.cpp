// DB2's vendor interface. No storage work happens here: every call goes to
// the matching entry point of the loaded backend with its arguments
// unchanged, and the backend's result goes back to DB2 unchanged.
#include "base/process_locks.h"
#include "discovery/registry_root.h"
#include "front/session_prep.h"
#include "front/unload_markers.h"
#include "kelmar/backend.h"
#include "kelmar/db2_vendor.h"
#include "kelmar/libkelmar.h"
#include "loader/backend_loader.h"
#include "loader/open_sessions.h"
#include "log/trace_log.h"

namespace {

using kelmar::LifecycleHold;
using kelmar::SharedTableHold;

// The names under which a vendor function logs and calls the backend.
struct Route {
  const char* tag;
  const char* pointer_name;
  const char* backend_entry;
};

using kelmar::kBackendEntryNames;
constexpr Route kInit{"sqluvint()", "f_sqluvint", kBackendEntryNames[0]};
constexpr Route kGet{"sqluvget()", "f_sqluvget", kBackendEntryNames[1]};
constexpr Route kPut{"sqluvput()", "f_sqluvput", kBackendEntryNames[2]};
constexpr Route kEnd{"sqluvend()", "f_sqluvend", kBackendEntryNames[3]};
constexpr Route kDel{"sqluvdel()", "f_sqluvdel", kBackendEntryNames[4]};
constexpr Route kGetNextObj{"db2VendorGetNextObj()", "f_db2VendorGetNextObj", kBackendEntryNames[5]};

// The two functions that may load the backend: sqluvint checks the markers
// first and opens a session; sqluvdel does neither.
enum class Opener { kSessionStart, kDelete };

void LogEntered(const char* tag) { SqluvErrorLog(tag, "-----------Entered--------"); }

void LogLeaving(const char* tag, sqlint32 result) {
  SqluvErrorLog(tag, "-----------Leaving, returning %d--------", result);
}

// With the entry set: the lines before the call, the call.
template <auto& kEntry, typename... Args>
sqlint32 CallBackend(const SharedTableHold&, const Route& route, Args... args) {
  SqluvErrorLog(route.tag, "sqluv_handle is:%p, %s is %p", sqluv_handle, route.pointer_name,
                reinterpret_cast<void*>(kEntry));
  SqluvErrorLog(route.tag, "Calling %s()", route.backend_entry);
  return kEntry(args...);
}

// The calls that never load: false, after the refusal line, when the table
// lacks the backend or the entry.
template <auto& kEntry, typename... Args>
bool CallLoadedBackend(const Route& route, sqlint32& result, Args... args) {
  const SharedTableHold table = SharedTableHold::Take();
  if (!table.held() || sqluv_handle == nullptr || kEntry == nullptr) {
    SqluvErrorLog(route.tag, "sqluv_handle or function pointer is NULL, returning error.");
    return false;
  }
  result = CallBackend<kEntry>(table, route, args...);
  return true;
}

template <auto& kEntry, typename... Args>
sqlint32 Forward(const Route& route, Args... args) {
  LogEntered(route.tag);
  sqlint32 result = -1;
  CallLoadedBackend<kEntry>(route, result, args...);
  LogLeaving(route.tag, result);
  return result;
}

// Under the lifecycle lock: sqluvint's marker check, then a load when the
// caller's entry is missing. The shared hold is taken before that lock is let
// go, so no unload comes between the load and the call. Not held when the
// backend cannot be loaded.
template <auto& kEntry>
SharedTableHold HoldLoadedTable(const char* tag, Opener opener, Init_input* in) {
  const LifecycleHold lifecycle;
  if (opener == Opener::kSessionStart) CheckUnloadMarkers(tag, lifecycle);
  if ((sqluv_handle == nullptr || kEntry == nullptr) && (initializeFptrs(lifecycle, in) == 0 || kEntry == nullptr)) {
    return SharedTableHold::None();
  }
  return SharedTableHold::Take();
}

void LogLoadFailed(const char* tag) { SqluvErrorLog(tag, "initializeFptrs() failed, returning error."); }

// The calls that load the backend when needed: false, after the failure
// line, when it cannot be loaded. `out` receives the vendorCB of a session
// that sqluvint opens.
template <auto& kEntry, typename... Args>
bool CallBackendLoadingIfNeeded(const Route& route, Opener opener, Init_input* in, const Init_output* out,
                                sqlint32& result, Args... args) {
  const SharedTableHold table = HoldLoadedTable<kEntry>(route.tag, opener, in);
  if (!table.held()) {
    LogLoadFailed(route.tag);
    return false;
  }
  result = CallBackend<kEntry>(table, route, args...);
  // Counted while still inside, so no unload comes before the session is.
  if (opener == Opener::kSessionStart && result == SQLUV_OK) {
    kelmar::NoteSessionOpened(out != nullptr ? out->pVendorCB : nullptr);
  }
  return true;
}

// A call that the backend makes from its own load or unload: its thread
// holds the lifecycle lock and the dynamic loader's lock, so waiting for
// either would never end. Refused before any lock or wait.
sqlint32 RefuseReentry(const char* tag) {
  SqluvErrorLog(tag, "Called by libXjKelmar.so during its own load or unload.");
  LogLoadFailed(tag);
  LogLeaving(tag, -1);
  return -1;
}

}  // namespace

sqlint32 sqluvint(Init_input* in, Init_output* out, Return_code* return_code) {
  LogEntered(kInit.tag);
  if (kelmar::LifecycleHeldByThisThread()) {
    if (return_code != nullptr) return_code->return_code = SQLUV_INIT_FAILED;
    return RefuseReentry(kInit.tag);
  }
  LogCallerAction(kInit.tag, in);
  HoldWhileDebugMarker(kInit.tag);
  SettleRegistryRoot(kInit.tag);
  sqlint32 result = -1;
  if (!CallBackendLoadingIfNeeded<f_sqluvint>(kInit, Opener::kSessionStart, in, out, result, in, out,
                                              return_code) &&
      return_code != nullptr) {
    return_code->return_code = SQLUV_INIT_FAILED;
  }
  LogLeaving(kInit.tag, result);
  return result;
}

sqlint32 sqluvget(void* vendorCB, Data* data, Return_code* return_code) {
  return Forward<f_sqluvget>(kGet, vendorCB, data, return_code);
}

sqlint32 sqluvput(void* vendorCB, Data* data, Return_code* return_code) {
  return Forward<f_sqluvput>(kPut, vendorCB, data, return_code);
}

sqlint32 db2VendorGetNextObj(void* vendorCB, db2VendorQueryInfo* queryInfo, Return_code* return_code) {
  return Forward<f_db2VendorGetNextObj>(kGetNextObj, vendorCB, queryInfo, return_code);
}

sqlint32 sqluvend(sqlint32 action, void* vendorCB, Init_output* out, Return_code* return_code) {
  LogEntered(kEnd.tag);
  sqlint32 result = -1;
  if (CallLoadedBackend<f_sqluvend>(kEnd, result, action, vendorCB, out, return_code)) {
    kelmar::NoteSessionEnded(vendorCB, result);
    const LifecycleHold lifecycle;
    CheckUnloadMarkers(kEnd.tag, lifecycle);
  }
  LogLeaving(kEnd.tag, result);
  return result;
}

sqlint32 sqluvdel(Init_input* in, Init_output* vendorDevData, Return_code* return_code) {
  if (kelmar::LifecycleHeldByThisThread()) {
    LogEntered(kDel.tag);
    return RefuseReentry(kDel.tag);
  }
  // Held before anything is logged, so a debugger sees the whole call.
  HoldWhileDebugMarker(kDel.tag);
  LogEntered(kDel.tag);
  LogCallerAction(kDel.tag, in);
  SettleRegistryRoot(kDel.tag);
  sqlint32 result = -1;
  CallBackendLoadingIfNeeded<f_sqluvdel>(kDel, Opener::kDelete, in, nullptr, result, in, vendorDevData,
                                         return_code);
  LogLeaving(kDel.tag, result);
  return result;
}

void db2VendorQueryApiVersion(sqluint32* supportedVersion) {
  if (supportedVersion != nullptr) *supportedVersion = kVendorApiVersion;
}
