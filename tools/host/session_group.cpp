#include "host/session_group.h"

namespace kelmar::host {

void SessionGroup::Fail(const std::string& message) {
  const std::lock_guard lock(mutex_);
  if (failure_.empty()) failure_ = message;
  failed_.store(true, std::memory_order_release);
}

std::string SessionGroup::failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace kelmar::host
