// What every stored object begins with, so that a reader can prove it has the
// whole of it: the number of parts of its image, its own place among them,
// its length and a checksum of its bytes. A backup's sessions share nothing,
// so each part carries the proof for itself and its image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xjkelmar {

struct ObjectHeader {
  char magic[8];
  std::uint32_t parts;     // images: the backup's session count; logs: 1
  std::uint32_t sequence;  // images: from 1; logs: 0
  std::uint64_t length;    // bytes after the header
  std::uint64_t checksum;  // of those bytes
  char reserved[32];
};
static_assert(sizeof(ObjectHeader) == 64);

// A header that no reader accepts, written first and replaced at commit.
ObjectHeader UnfinishedHeader();
ObjectHeader FinishedHeader(std::uint32_t parts, std::uint32_t sequence, std::uint64_t length, std::uint64_t checksum);

// The header at the start of `fd`, when it is a finished one and the file
// holds exactly the length it claims.
bool ReadHeader(int fd, ObjectHeader& header);

// A 64-bit checksum over a stream of buffers of any sizes.
class Checksum {
 public:
  void Add(const char* bytes, std::size_t size);
  std::uint64_t Value() const;

 private:
  void Mix(std::uint64_t word);
  std::uint64_t state_ = 0x9e3779b97f4a7c15u;
  std::uint64_t pending_ = 0;  // the bytes of an unfinished word
  unsigned pending_bytes_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace xjkelmar
