#include "stored_format.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace xjkelmar {
namespace {

constexpr char kFinished[8] = {'X', 'J', 'K', 'O', 'B', 'J', '1', '\0'};
constexpr char kUnfinished[8] = {'X', 'J', 'K', 'O', 'B', 'J', '?', '\0'};

std::uint64_t RotateLeft(std::uint64_t value, unsigned bits) { return (value << bits) | (value >> (64 - bits)); }

}  // namespace

ObjectHeader UnfinishedHeader() {
  ObjectHeader header{};
  std::memcpy(header.magic, kUnfinished, sizeof header.magic);
  return header;
}

ObjectHeader FinishedHeader(std::uint32_t parts, std::uint32_t sequence, std::uint64_t length, std::uint64_t checksum) {
  ObjectHeader header{};
  std::memcpy(header.magic, kFinished, sizeof header.magic);
  header.parts = parts;
  header.sequence = sequence;
  header.length = length;
  header.checksum = checksum;
  return header;
}

bool ReadHeader(int fd, ObjectHeader& header) {
  struct stat status {};
  if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) || fstat(fd, &status) != 0) {
    return false;
  }
  return std::memcmp(header.magic, kFinished, sizeof header.magic) == 0 && header.parts > 0 &&
         header.sequence <= header.parts &&
         static_cast<std::uint64_t>(status.st_size) - sizeof header == header.length;
}

void Checksum::Mix(std::uint64_t word) {
  state_ ^= word * 0x87c37b91114253d5u;
  state_ = RotateLeft(state_, 27) * 0x4cf5ad432745937fu + 0x52dce729u;
}

void Checksum::Add(const char* bytes, std::size_t size) {
  length_ += size;
  while (size > 0 && pending_bytes_ != 0) {
    pending_ |= std::uint64_t{static_cast<unsigned char>(*bytes++)} << (8 * pending_bytes_);
    --size;
    if (++pending_bytes_ == 8) {
      Mix(pending_);
      pending_ = 0;
      pending_bytes_ = 0;
    }
  }
  for (; size >= 8; bytes += 8, size -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    Mix(word);
  }
  for (; size > 0; --size) {
    pending_ |= std::uint64_t{static_cast<unsigned char>(*bytes++)} << (8 * pending_bytes_++);
  }
}

std::uint64_t Checksum::Value() const {
  Checksum last = *this;
  last.Mix(last.pending_ ^ RotateLeft(last.length_, 32));
  return last.state_ ^ (last.state_ >> 29);
}

}  // namespace xjkelmar
