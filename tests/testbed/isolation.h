// Runs a test case in a fresh child process with a private /tmp, so that the library's fixed paths
// (/tmp/libkelmar.log, the markers) and its process-wide state never leak between cases or onto the machine.
#pragma once

#include <functional>
#include <string>

namespace kelmar::testbed {

// How a program tells CTest (SKIP_RETURN_CODE) that it skipped its work for want of a private /tmp.
inline constexpr int kNoPrivateTmpExit = 77;

// Moves this single-threaded process into a new mount namespace with a tmpfs on /tmp: as root directly, otherwise
// inside a new user namespace where the caller is root. The checkout and the build tree stay reachable at their
// own paths even under /tmp. Empty on success, else why no private /tmp could be made.
std::string MakePrivateTmp();

// Runs `body` in a forked child with a private /tmp. Assertions inside `body` report in the child's output; the
// parent fails the case when the child fails or dies, and skips it (with the reason) when no private /tmp can be made.
void RunIsolated(const std::function<void()>& body);

// Two users besides root for the cases about files of other users, and when they can be had: as root over a user
// namespace whose first range maps both (the initial one does), not in one that maps only the caller.
inline constexpr unsigned kFirstOtherUid = 1000, kSecondOtherUid = 65534;
inline constexpr const char* kNeedsUsers = "needs root over uids 1000 and 65534";
bool CanUseOtherUsers();

// Takes every privilege from the root an isolated case runs as (the machine's or a user namespace's), also for the
// programs it starts: only a file's owner bits let it in then. A user namespace maps no other user to switch to.
void DropPrivileges();

}  // namespace kelmar::testbed
