#include "log/switch_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelmar {

bool MaySwitch(const struct stat& file) {
  const bool owner_may = file.st_uid == 0 || file.st_uid == geteuid();
  return owner_may && (S_ISDIR(file.st_mode) || file.st_nlink == 1);
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
    if (lstat(kTraceLogPath, &link) != 0 || !S_ISLNK(link.st_mode) || !MaySwitch(link)) return -1;
    fd = open(kTraceLogPath, kFlags);
    if (fd < 0) return -1;
  }
  struct stat file {};
  if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || !MaySwitch(file)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace kelmar
