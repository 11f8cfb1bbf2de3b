// Files of the installation opened for reading only when they are regular
// files. The open never waits (a FIFO at the path would block a plain open for
// good) and the type is taken from the opened file itself, so a name that is,
// or links to, a FIFO or a device such as /dev/zero is turned away instead of
// being read forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace kelmar {

class RegularFile {
 public:
  explicit RegularFile(const char* path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // Open and regular. When not, either the open failed (errno says why) or
  // the file is of another type (not_regular()).
  bool is_open() const { return fd_ >= 0; }
  bool not_regular() const { return not_regular_; }
  std::uint64_t size() const { return size_; }

  // Exactly `bytes` from `offset`; false when the file ends before or a read fails.
  bool ReadAt(std::uint64_t offset, void* into, std::size_t bytes) const;

  // The file as a stdio stream, which owns it from then on. Null when not open.
  std::FILE* TakeStream();

 private:
  int fd_;
  bool not_regular_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace kelmar
