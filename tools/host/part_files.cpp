#include "host/part_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/file_io.h"

namespace kelmar::host {
namespace {

bool AppendFile(int from, int to) {
  if (lseek(from, 0, SEEK_SET) != 0) return false;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = read(from, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, chunk, static_cast<std::size_t>(n))) return false;
  }
}

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// A file in `directory` that is gone from it as soon as it is open.
int NamelessFile(const std::string& directory) {
  std::string path = directory + ".kelmar-host-XXXXXX";
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

}  // namespace

PartFiles::~PartFiles() {
  for (const int fd : fds_) {
    if (fd >= 0) close(fd);
  }
  if (!hidden_path_.empty()) unlink(hidden_path_.c_str());
}

bool PartFiles::OpenFirst(const std::string& directory, std::string& error) {
  struct stat status {};
  if (stat(output_.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    if (!S_ISCHR(status.st_mode) && !S_ISFIFO(status.st_mode)) {
      error = output_ + " is neither a regular file, a character device nor a pipe: not replaced";
      return false;
    }
    written_into_ = true;
    fds_.push_back(open(output_.c_str(), O_WRONLY | O_CLOEXEC));
  } else {
    hidden_path_ = directory + "." + output_.substr(directory.size()) + ".kelmar-host-XXXXXX";
    fds_.push_back(mkostemp(hidden_path_.data(), O_CLOEXEC));
    if (fds_.back() < 0) hidden_path_.clear();
  }
  if (fds_.back() >= 0) return true;
  error = (written_into_ ? "cannot open " : "cannot create a file beside ") + output_ + ": " + std::strerror(errno);
  return false;
}

bool PartFiles::Create(const std::string& output, unsigned count, std::string& error) {
  output_ = output;
  // A link is followed, never replaced; one that leads nowhere is refused.
  struct stat status {};
  char target[PATH_MAX];
  if (lstat(output.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    if (realpath(output.c_str(), target) == nullptr) {
      error = "cannot follow the symbolic link " + output + ": " + std::strerror(errno);
      return false;
    }
    output_ = target;
  }
  const std::string directory = DirectoryOf(output_);
  if (!OpenFirst(directory, error)) return false;
  // A device or a pipe has no directory to spare: the other parts wait in TMPDIR.
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string spare = !written_into_ ? directory : tmpdir != nullptr && *tmpdir != '\0' ? tmpdir + std::string("/") : "/tmp/";
  for (unsigned i = 1; i < count; ++i) {
    fds_.push_back(NamelessFile(spare));
    if (fds_.back() < 0) {
      error = "cannot create a file in " + spare + " for " + output_ + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool PartFiles::Publish(std::string& error) {
  for (std::size_t i = 1; i < fds_.size(); ++i) {
    if (!AppendFile(fds_[i], fds_[0])) {
      error = "cannot write " + output_ + ": " + std::strerror(errno);
      return false;
    }
  }
  bool written = written_into_ || fchmod(fds_[0], 0644) == 0;
  if (close(fds_[0]) != 0) written = false;
  fds_[0] = -1;
  if (!written) {
    error = "cannot write " + output_ + ": " + std::strerror(errno);
    return false;
  }
  if (written_into_) return true;
  if (rename(hidden_path_.c_str(), output_.c_str()) != 0) {
    error = "cannot create " + output_ + ": " + std::strerror(errno);
    return false;
  }
  hidden_path_.clear();
  return true;
}

}  // namespace kelmar::host
