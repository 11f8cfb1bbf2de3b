// The files at fixed names in /tmp that switch the library's behaviour: the
// trace file and the operators' markers. Every local user may create files in
// /tmp, so a file there counts only when its owner could switch DB2 anyway:
// root or the user DB2 runs as (this process's effective user). Anything
// else at those names is treated as absent.
#pragma once

#include <sys/stat.h>

#include <array>

namespace kelmar {

struct SwitchFileName {
  const char* path;
  const char* role;  // how kelmar-check reports it
};

inline constexpr std::array<SwitchFileName, 4> kSwitchFiles = {{
    {"/tmp/libkelmar.log", "trace"},            // the trace log (trace_log.h)
    {"/tmp/debugDB2", "debug_hold"},            // sqluvint and sqluvdel wait while it exists
    {"/tmp/debugDB2_nounload", "keep_loaded"},  // keeps the backend loaded through one check
    {"/tmp/xj_unloadLibXjKelmar", "unload"},    // unloads the backend between sessions
}};
inline constexpr const char* kTraceLogPath = kSwitchFiles[0].path;
inline constexpr const char* kDebugHoldMarker = kSwitchFiles[1].path;
inline constexpr const char* kKeepLoadedMarker = kSwitchFiles[2].path;
inline constexpr const char* kUnloadMarker = kSwitchFiles[3].path;

// True when root or this process's effective user owns `file` and nobody
// made it appear there under a second name: a hard link to another's file
// carries that file's owner.
bool MaySwitch(const struct stat& file);

// The trace file opened for appending one line, or -1 when it is absent, not
// writable, not a regular file, or not owned by root or the effective user.
// A symbolic link at its name is followed only when root or the effective
// user owns the link. Never blocks, never creates, never truncates.
int OpenTraceFile();

}  // namespace kelmar
