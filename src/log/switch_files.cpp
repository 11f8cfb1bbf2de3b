#include "log/switch_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log/trace_log.h"

namespace kelmar {

bool OwnerMaySwitch(uid_t owner) { return owner == 0 || owner == geteuid(); }

MarkerState ExamineMarker(const char* tag, const char* path) {
  struct stat marker {};
  if (lstat(path, &marker) != 0) return MarkerState::kAbsent;
  if (OwnerMaySwitch(marker.st_uid)) return MarkerState::kHonoured;
  SqluvErrorLog(tag, "------%s ignored: owned by uid %u, neither root nor uid %u --------", path,
                static_cast<unsigned>(marker.st_uid), static_cast<unsigned>(geteuid()));
  return MarkerState::kIgnored;
}

int OpenTraceFile() {
  // The switch test of every line, and all that a line costs while the file
  // is absent.
  if (access(kTraceLogPath, W_OK) != 0) return -1;

  // O_NONBLOCK: a FIFO at the name must not stop DB2's threads.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(kTraceLogPath, kFlags | O_NOFOLLOW);
  if (fd < 0) {
    if (errno != ELOOP) return -1;
    struct stat link {};
    if (lstat(kTraceLogPath, &link) != 0 || !S_ISLNK(link.st_mode) || !OwnerMaySwitch(link.st_uid)) return -1;
    fd = open(kTraceLogPath, kFlags);
    if (fd < 0) return -1;
  }
  struct stat file {};
  if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || !OwnerMaySwitch(file.st_uid)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace kelmar
