// The marker files with which operators unload the backend between sessions
// ("/tmp/xj_unloadLibXjKelmar") or keep it loaded once more
// ("/tmp/debugDB2_nounload"). Checked by sqluvint before its load test and by
// sqluvend after the backend has ended its session.
#pragma once

#include "base/process_locks.h"

// Honours the markers, logging under the caller's tag. The keep-loaded marker
// is deleted by the check that sees it; the unload marker unloads only while
// no other call is inside the backend and no other session is open.
void CheckUnloadMarkers(const char* tag, const kelmar::LifecycleHold& lifecycle);
