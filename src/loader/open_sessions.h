// The sessions the backend holds open, so that an unload never ends one. A
// session is known by the vendorCB its sqluvintpp handed back; two sessions
// may share one, and a backend that hands back none opens them under null.
// Each function takes the sessions lock itself (process_locks.h).
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar {

// sqluvintpp returned 0 and handed back `vendor_cb`.
void NoteSessionOpened(const void* vendor_cb);

// sqluvendpp answered `result` for `vendor_cb`, which ends one session of
// that vendorCB unless the result says the backend kept it: a refused
// invalid action ended nothing, and after a failed commit DB2 still aborts
// every active session. An end for a vendorCB with no open session changes
// nothing.
void NoteSessionEnded(const void* vendor_cb, sqlint32 result);

bool AnySessionOpen();

}  // namespace kelmar
