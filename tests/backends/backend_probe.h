// Reaches into the test backend that the library has loaded, through the
// exported table's handle: what it received, and how it answers. Use it only
// while no load or unload runs.
#pragma once

#include <vector>

#include "backends/test_backend_control.h"

namespace kelmar::test_backend {

// Every call the loaded backend received, oldest first; empty when none is loaded.
std::vector<Call> ReceivedCalls();

// The result the entry gives from now on.
void SetResult(Entry entry, sqlint32 result);

// While held, calls of the entry wait inside the backend.
void Hold(Entry entry);
void Release(Entry entry);

// Waits (at most 20 s) until `count` calls of the entry are waiting inside.
bool AwaitWaiting(Entry entry, int count);

}  // namespace kelmar::test_backend
