// How the report names a file's owner, group and mode.
#pragma once

#include <sys/types.h>

#include <string>

namespace kelmar::check {

// The user's name, or "uid N" where the password file has none.
std::string UserName(uid_t uid);

// The group's name, or "gid N" where the group file has none.
std::string GroupName(gid_t gid);

// The permission bits in octal, "0755".
std::string Octal(mode_t mode);

}  // namespace kelmar::check
