// The sessions of one operation, as DB2 runs them: each on its own thread,
// all done moving data before any is ended, then all committed, or all
// aborted when any of them failed.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <string>
#include <vector>

namespace kelmar::host {

class SessionGroup {
 public:
  explicit SessionGroup(unsigned sessions) : data_done_(sessions) {}

  // Keeps the first failure; later ones are what followed from it.
  void Fail(const std::string& message);
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  std::string failure() const;

  // Called once by every session, opened or not, with its sequence number
  // when it has no more data to move; returns when all have.
  void FinishData(int sequence) {
    {
      const std::lock_guard lock(turn_mutex_);
      sequences_.push_back(sequence);
    }
    data_done_.arrive_and_wait();
  }

  // Runs `end` for the session of `sequence` once every session of a lower
  // sequence has ended. Committed in sequence order, of two backups that
  // race for the parts of one image the one that stores the first part
  // stores them all, and the other fails before it stored any.
  template <typename End>
  void EndInTurn(int sequence, End end) {
    std::unique_lock lock(turn_mutex_);
    const auto before = static_cast<std::size_t>(
        std::count_if(sequences_.begin(), sequences_.end(), [&](int other) { return other < sequence; }));
    turn_changed_.wait(lock, [&] { return ended_ >= before; });
    lock.unlock();
    end();
    lock.lock();
    ++ended_;
    turn_changed_.notify_all();
  }

 private:
  std::latch data_done_;
  std::atomic<bool> failed_{false};
  mutable std::mutex mutex_;
  std::string failure_;
  std::mutex turn_mutex_;
  std::condition_variable turn_changed_;
  std::vector<int> sequences_;
  std::size_t ended_ = 0;
};

}  // namespace kelmar::host
