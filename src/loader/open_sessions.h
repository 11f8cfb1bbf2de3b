// The sessions the backend holds open, so that an unload never ends one. A
// session is known by the vendorCB its sqluvintpp handed back; two sessions
// may share one, and a backend that hands back none opens them under null.
#pragma once

#include "kelmar/db2_vendor.h"

namespace kelmar {

// sqluvintpp returned 0 and handed back `vendor_cb`.
void NoteSessionOpened(const void* vendor_cb);

// sqluvendpp answered `result` to `action` for `vendor_cb`. One session of
// that vendorCB ends when DB2 makes no further call for it: after any end
// answered 0 and after an abort, whatever its outcome. A failed commit keeps
// it open, since DB2 then aborts every active session, and so does a refusal
// as an invalid action, which ended nothing. An end for a vendorCB with no
// open session changes nothing.
void NoteSessionEnded(sqlint32 action, const void* vendor_cb, sqlint32 result);

bool AnySessionOpen();

}  // namespace kelmar
