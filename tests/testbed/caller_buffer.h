// A caller's output buffer of `capacity` marked bytes, and one more that no call may write.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kelmar::testbed {

class CallerBuffer {
 public:
  static constexpr char kMark = '#';
  explicit CallerBuffer(std::size_t capacity) : capacity_(capacity), bytes_(capacity + 1, kMark) {}
  char* data() { return bytes_.data(); }
  std::size_t capacity() const { return capacity_; }
  std::string Text() const { return std::string(bytes_.data(), strnlen(bytes_.data(), capacity_)); }
  bool Untouched() const { return bytes_ == std::vector<char>(capacity_ + 1, kMark); }
  bool WrittenPastCapacity() const { return bytes_[capacity_] != kMark; }
  bool ZeroFilled() const {
    return capacity_ > 0 && std::all_of(bytes_.begin() + static_cast<long>(Text().size()),
                                        bytes_.begin() + static_cast<long>(capacity_), [](char c) { return c == 0; });
  }

 private:
  std::size_t capacity_;
  std::vector<char> bytes_;
};

}  // namespace kelmar::testbed
