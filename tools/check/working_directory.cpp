#include "check/working_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>

namespace kelmar::check {

// O_PATH needs no read permission on the directory, and fchdir accepts it.
WorkingDirectoryScope::WorkingDirectoryScope() : previous_(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

WorkingDirectoryScope::~WorkingDirectoryScope() {
  Restore();
  if (previous_ >= 0) close(previous_);
}

bool WorkingDirectoryScope::ChangeTo(const std::string& directory) {
  if (!remembered()) return false;
  changed_ = true;  // a failed chdir changes nothing, and going back is harmless
  return chdir(directory.c_str()) == 0;
}

bool WorkingDirectoryScope::Restore() {
  if (!changed_) return true;
  if (fchdir(previous_) != 0) return false;
  changed_ = false;
  return true;
}

std::string CurrentDirectory() {
  char directory[PATH_MAX];
  return getcwd(directory, sizeof directory) != nullptr ? directory : "";
}

}  // namespace kelmar::check
