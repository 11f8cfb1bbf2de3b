// The progress line of an operation that moves data: on stderr, redrawn
// twice a second on a terminal, else every five seconds, with the bytes done, of how many when known, the
// throughput and the time taken, and a last line with the totals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace kelmar::host {

// Counts bytes that any session moved; read by the progress line.
void CountProgress(std::uint64_t bytes);

class ProgressLine {
 public:
  // `total` 0: not known. `on_terminal`: redraw one line in place.
  ProgressLine(std::string what, std::uint64_t total, bool on_terminal);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // Stops the redrawing and writes the totals.
  ~ProgressLine();

 private:
  std::string Line(bool last) const;

  std::string what_;
  std::uint64_t total_;
  bool on_terminal_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable stop_wanted_;
  bool stop_ = false;
  std::thread drawer_;
};

}  // namespace kelmar::host
