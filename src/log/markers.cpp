#include "log/markers.h"

#include <sys/stat.h>
#include <unistd.h>

#include "log/switch_files.h"
#include "log/trace_log.h"

namespace kelmar {

MarkerState ExamineMarker(const char* tag, const char* path) {
  struct stat marker {};
  if (lstat(path, &marker) != 0) return MarkerState::kAbsent;
  if (MaySwitch(marker)) return MarkerState::kHonoured;
  SqluvErrorLog(tag, "------%s ignored: owner uid %u, %u links; only root's or uid %u's with one link counts --------",
                path, static_cast<unsigned>(marker.st_uid), static_cast<unsigned>(marker.st_nlink),
                static_cast<unsigned>(geteuid()));
  return MarkerState::kIgnored;
}

}  // namespace kelmar
