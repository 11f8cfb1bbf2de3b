// The files at fixed names in /tmp that switch the library's behaviour: the
// trace file and the operators' markers. Every local user may create files in
// /tmp, so a file there counts only when its owner could switch DB2 anyway:
// root or the user DB2 runs as (this process's effective user). Anything
// else at those names is treated as absent.
#pragma once

#include <sys/stat.h>

namespace kelmar {

// True when root or this process's effective user owns `file` and nobody
// made it appear there under a second name: a hard link to another's file
// carries that file's owner.
bool MaySwitch(const struct stat& file);

enum class MarkerState { kAbsent, kIgnored, kHonoured };

// The marker at `path`, examined without following a symbolic link: a link
// counts by its own owner, whatever it points to. An ignored marker is logged
// under `tag`; a marker that cannot be examined is absent.
MarkerState ExamineMarker(const char* tag, const char* path);

// The trace file opened for appending one line, or -1 when it is absent, not
// writable, not a regular file, or not owned by root or the effective user.
// A symbolic link at its name is followed only when root or the effective
// user owns the link. Never blocks, never creates, never truncates.
int OpenTraceFile();

}  // namespace kelmar
