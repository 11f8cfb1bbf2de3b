// Bytes that end exactly at a page boundary followed by an inaccessible page:
// reading one byte past them crashes the case instead of passing by luck.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kelmar/db2_vendor.h"

namespace kelmar::testbed {

class GuardedBytes {
 public:
  explicit GuardedBytes(std::string_view bytes) : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    if (bytes.size() > page_) std::abort();
    void* mapped = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) std::abort();
    base_ = static_cast<char*>(mapped);
    if (mprotect(base_ + page_, page_, PROT_NONE) != 0) std::abort();
    data_ = base_ + page_ - bytes.size();
    std::memcpy(data_, bytes.data(), bytes.size());
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  ~GuardedBytes() { munmap(base_, 2 * page_); }

  char* data() const { return data_; }

  // DB2's session input whose options are these bytes, `size_options` of them.
  Init_input Input(unsigned short size_options) const {
    Init_input in{};
    in.options = data_;
    in.size_options = size_options;
    return in;
  }

 private:
  std::size_t page_;
  char* base_ = nullptr;
  char* data_ = nullptr;
};

}  // namespace kelmar::testbed
