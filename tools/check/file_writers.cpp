#include "check/file_writers.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <optional>

#include "check/file_facts.h"
#include "check/working_directory.h"

namespace kelmar::check {
namespace {

// As many as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// The first numbers in `path`, as many as `format` reads; false when fewer.
template <typename... Numbers>
bool ReadNumbers(const char* path, const char* format, Numbers*... numbers) {
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  const bool read = std::fscanf(file, format, numbers...) == static_cast<int>(sizeof...(numbers));
  std::fclose(file);
  return read;
}

// The uid that a file of an unmapped owner shows inside a user namespace; none
// in the initial namespace, which maps every uid.
std::optional<uid_t> UnmappedOwnerUid() {
  unsigned long inside = 0, outside = 0, count = 0;
  const bool mapped = ReadNumbers("/proc/self/uid_map", "%lu %lu %lu", &inside, &outside, &count);
  if (mapped && inside == 0 && outside == 0 && count == 4294967295UL) return std::nullopt;
  unsigned long overflow = 65534;  // the kernel's default
  ReadNumbers("/proc/sys/kernel/overflowuid", "%lu", &overflow);
  return static_cast<uid_t>(overflow);
}

bool HasAccessControlList(const std::string& path) {
  return lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
}

class Walk {
 public:
  std::vector<WriterFinding> findings;

  void Follow(const std::string& path, int links_left) {
    std::string at = "/";
    Judge(at);
    std::size_t start = 0;
    while (start < path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string part = path.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      // `at` holds no symbolic link, so its parent is the text before its last slash.
      if (part == "..") {
        at.resize(std::max<std::size_t>(at.rfind('/'), 1));
        continue;
      }
      const std::string next = (at == "/" ? "" : at) + "/" + part;
      struct stat status {};
      if (!Judge(next, &status)) return;
      if (!S_ISLNK(status.st_mode)) {
        at = next;
        continue;
      }
      if (links_left == 0) return Add(next, "leads through too many symbolic links", true);
      char target[4096];
      const ssize_t length = readlink(next.c_str(), target, sizeof target);
      if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) {
        return Add(next, "is a symbolic link that cannot be read", false);
      }
      const std::string leads_to(target, static_cast<std::size_t>(length));
      const std::string rest = start < path.size() ? "/" + path.substr(start) : "";
      through_ = ", on the way through the symbolic link " + next;
      return Follow((leads_to[0] == '/' ? "" : at + "/") + leads_to + rest, links_left - 1);
    }
  }

 private:
  void Add(const std::string& path, const std::string& reason, bool fails) {
    const auto same = [&](const WriterFinding& found) {
      return found.path == path && found.reason.starts_with(reason);
    };
    if (std::none_of(findings.begin(), findings.end(), same)) findings.push_back({path, reason + through_, fails});
  }

  // Judges the entry at `path` itself; false when it cannot be examined.
  bool Judge(const std::string& path, struct stat* seen = nullptr) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
      Add(path, std::string("cannot be examined: ") + std::strerror(errno), false);
      return false;
    }
    if (seen != nullptr) *seen = status;
    if (status.st_uid != 0 && status.st_uid == unmapped_uid_) {
      Add(path, "belongs to a user outside this user namespace (it shows as uid " + std::to_string(status.st_uid) +
                    "), so whether root owns it cannot be told here",
          false);
    } else if (status.st_uid != 0) {
      Add(path, "belongs to " + UserName(status.st_uid) + " (uid " + std::to_string(status.st_uid) + "), not root",
          true);
    }
    // A link's own mode grants nothing; a sticky directory lets no one else rename what root put there.
    if (S_ISLNK(status.st_mode) || (S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0)) return true;
    const std::string mode = " (mode " + Octal(status.st_mode) + ")";
    if ((status.st_mode & S_IWOTH) != 0) {
      Add(path, "is writable by every user" + mode, true);
    } else if ((status.st_mode & S_IWGRP) != 0 && status.st_gid != 0) {
      Add(path, "is writable by group " + GroupName(status.st_gid) + " (gid " + std::to_string(status.st_gid) + ")" +
                    mode,
          false);
    }
    // With an access control list the group bits are its mask: named users or groups may write through it.
    if ((status.st_mode & S_IWGRP) != 0 && HasAccessControlList(path)) {
      Add(path, "has an access control list that may let other users write it (getfacl shows it)", false);
    }
    return true;
  }

  std::optional<uid_t> unmapped_uid_ = UnmappedOwnerUid();
  std::string through_;  // the last symbolic link followed, for the findings after it
};

}  // namespace

std::vector<WriterFinding> WhoElseCanChange(const std::string& path) {
  Walk walk;
  walk.Follow(!path.empty() && path[0] == '/' ? path : CurrentDirectory() + "/" + path, kMaxLinks);
  return walk.findings;
}

const WriterFinding* FirstFailing(const std::vector<WriterFinding>& findings) {
  const auto failing =
      std::find_if(findings.begin(), findings.end(), [](const WriterFinding& found) { return found.fails; });
  return failing != findings.end() ? &*failing : nullptr;
}

}  // namespace kelmar::check
