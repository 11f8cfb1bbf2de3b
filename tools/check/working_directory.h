// A change of the working directory that lasts only as long as a scope: the
// directory before it is held open and gone back to by descriptor, so that a
// long, renamed or unreadable path to it does not matter.
#pragma once

#include <string>

namespace kelmar::check {

class WorkingDirectoryScope {
 public:
  WorkingDirectoryScope();  // remembers the current directory
  ~WorkingDirectoryScope();
  WorkingDirectoryScope(const WorkingDirectoryScope&) = delete;
  WorkingDirectoryScope& operator=(const WorkingDirectoryScope&) = delete;

  // False when the current directory could not be held open; nothing may be
  // changed then.
  bool remembered() const { return previous_ >= 0; }

  // chdir; false with errno set when it fails.
  bool ChangeTo(const std::string& directory);

  // Goes back; false when that fails. Also done at the end of the scope.
  bool Restore();

 private:
  int previous_;
  bool changed_ = false;
};

// The current working directory, or empty when it cannot be read.
std::string CurrentDirectory();

}  // namespace kelmar::check
