#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace kelmar {

RegularFile::RegularFile(const char* path) : fd_(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
  if (fd_ < 0) return;
  struct stat status {};
  if (fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    size_ = static_cast<std::uint64_t>(status.st_size);
    return;
  }
  not_regular_ = true;
  close(fd_);
  fd_ = -1;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) close(fd_);
}

bool RegularFile::ReadAt(std::uint64_t offset, void* into, std::size_t bytes) const {
  auto* out = static_cast<char*>(into);
  while (bytes > 0) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    const ssize_t n = pread(fd_, out, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += static_cast<std::uint64_t>(n);
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

std::FILE* RegularFile::TakeStream() {
  if (fd_ < 0) return nullptr;
  std::FILE* stream = fdopen(fd_, "r");
  if (stream != nullptr) fd_ = -1;
  return stream;
}

}  // namespace kelmar
