#include "front/unload_markers.h"

#include <unistd.h>

#include "kelmar/libkelmar.h"
#include "loader/backend_loader.h"
#include "loader/open_sessions.h"
#include "log/markers.h"
#include "log/switch_files.h"
#include "log/trace_log.h"

void CheckUnloadMarkers(const char* tag, const kelmar::LifecycleHold& lifecycle) {
  if (kelmar::ExamineMarker(tag, kelmar::kKeepLoadedMarker) == kelmar::MarkerState::kHonoured) {
    SqluvErrorLog(tag,
                  "------/tmp/debugDB2_nounload exists, not going to unload libXjKelmar.so if it has been loaded "
                  "--------");
    // A marker that cannot be deleted goes on protecting every check.
    unlink(kelmar::kKeepLoadedMarker);
    return;
  }
  if (kelmar::ExamineMarker(tag, kelmar::kUnloadMarker) != kelmar::MarkerState::kHonoured) return;

  // Nobody is inside an empty table, so waiting there costs at most a refusal
  // in flight; a loaded backend is left alone when anyone is inside it.
  const kelmar::ExclusiveTableHold table = sqluv_handle == nullptr ? kelmar::ExclusiveTableHold::Wait(lifecycle)
                                                                   : kelmar::ExclusiveTableHold::TryNow(lifecycle);
  if (!table.held() || kelmar::AnySessionOpen()) {
    SqluvErrorLog(tag, "------libXjKelmar.so is in use, not going to unload it --------");
    return;
  }
  unInitializeFptrs(table);
}
