#include "host/part_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

PartFiles::~PartFiles() {
  for (const Part& part : parts_) {
    if (part.fd >= 0) close(part.fd);
    if (!part.path.empty()) unlink(part.path.c_str());
  }
}

bool PartFiles::Create(const std::string& output, unsigned count, std::string& error) {
  output_ = output;
  const std::size_t slash = output.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : output.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
  for (unsigned i = 0; i < count; ++i) {
    std::string path = directory + (slash == std::string::npos ? "/." : ".") + name + ".kelmar-host-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
      error = "cannot create a file beside " + output + ": " + std::strerror(errno);
      return false;
    }
    parts_.push_back({std::move(path), fd});
  }
  return true;
}

bool PartFiles::Publish(std::string& error) {
  Part& first = parts_.front();
  for (std::size_t i = 1; i < parts_.size(); ++i) {
    if (!AppendFile(parts_[i].fd, first.fd)) {
      error = "cannot write " + output_ + ": " + std::strerror(errno);
      return false;
    }
  }
  if (fchmod(first.fd, 0644) != 0 || close(first.fd) != 0) {
    first.fd = -1;
    error = "cannot write " + output_ + ": " + std::strerror(errno);
    return false;
  }
  first.fd = -1;
  if (rename(first.path.c_str(), output_.c_str()) != 0) {
    error = "cannot create " + output_ + ": " + std::strerror(errno);
    return false;
  }
  first.path.clear();
  return true;
}

}  // namespace kelmar::host
