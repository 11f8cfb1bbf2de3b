// Whole reads and writes on file descriptors, riding out short transfers and
// interruptions. False with errno set on failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelmar::host {

// Reads exactly `size` bytes at `offset`; a file that ends first is EIO.
bool ReadAt(int fd, char* bytes, std::size_t size, std::uint64_t offset);

bool WriteAll(int fd, const char* bytes, std::size_t size);

}  // namespace kelmar::host
