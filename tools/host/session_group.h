// The sessions of one operation, as DB2 runs them: each on its own thread,
// all done moving data before any is ended, then all committed, or all
// aborted when any of them failed.
#pragma once

#include <atomic>
#include <latch>
#include <mutex>
#include <string>

namespace kelmar::host {

class SessionGroup {
 public:
  explicit SessionGroup(unsigned sessions) : data_done_(sessions) {}

  // Keeps the first failure; later ones are what followed from it.
  void Fail(const std::string& message);
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  std::string failure() const;

  // Called once by every session, opened or not, when it has no more data
  // to move; returns when all have.
  void FinishData() { data_done_.arrive_and_wait(); }

 private:
  std::latch data_done_;
  std::atomic<bool> failed_{false};
  mutable std::mutex mutex_;
  std::string failure_;
};

}  // namespace kelmar::host
