// Who besides root can change a file that the DB2 engine runs: its owner, the
// users its mode lets write, and the same for every directory on the way to
// it, since whoever may write a directory may rename another file into its
// place. A symbolic link on the way is followed: the directories that hold the
// link and those that hold what it leads to are judged alike.
#pragma once

#include <string>
#include <vector>

namespace kelmar::check {

struct WriterFinding {
  std::string path;    // the file or directory judged
  std::string reason;  // "is writable by every user (mode 0777)"
  bool fails = true;   // false: a warning that does not fail the check

  std::string Text() const { return path + " " + reason; }
};

// Fails: a file or directory that belongs to another user than root, or that
// every user may write (a directory with the sticky bit excepted: there only
// the owner of a name may rename or remove it). Warns: one that a group other
// than root's may write, one with an access control list that may let others
// write, one whose owner this process cannot see (a user namespace that does
// not map it), and a part of the way that cannot be examined. A relative path
// is taken against the working directory.
std::vector<WriterFinding> WhoElseCanChange(const std::string& path);

// The first finding that fails the check, or null.
const WriterFinding* FirstFailing(const std::vector<WriterFinding>& findings);

}  // namespace kelmar::check
