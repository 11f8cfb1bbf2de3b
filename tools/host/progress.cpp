#include "host/progress.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "host/file_io.h"

namespace kelmar::host {
namespace {

std::atomic<std::uint64_t> g_bytes{0};

constexpr double kMiB = 1 << 20;

}  // namespace

void CountProgress(std::uint64_t bytes) { g_bytes.fetch_add(bytes, std::memory_order_relaxed); }

ProgressLine::ProgressLine(std::string what, std::uint64_t total, bool on_terminal)
    : what_(std::move(what)), total_(total), on_terminal_(on_terminal) {
  g_bytes.store(0, std::memory_order_relaxed);
  drawer_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    const auto interval = std::chrono::milliseconds(on_terminal_ ? 500 : 5000);
    // A wait on the system clock: one on the steady clock needs pthread_cond_clockwait, which glibc before 2.30
    // lacks. A clock step only moves one redraw.
    while (!stop_wanted_.wait_until(lock, std::chrono::system_clock::now() + interval, [this] { return stop_; })) {
      const std::string line = Line(false);
      WriteAll(STDERR_FILENO, line.data(), line.size());
    }
  });
}

ProgressLine::~ProgressLine() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stop_wanted_.notify_all();
  drawer_.join();
  const std::string line = Line(true);
  WriteAll(STDERR_FILENO, line.data(), line.size());
}

std::string ProgressLine::Line(bool last) const {
  const std::uint64_t bytes = g_bytes.load(std::memory_order_relaxed);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / kMiB / seconds : 0;
  char text[256];
  if (last) {
    std::snprintf(text, sizeof text, "%s: %llu bytes (%.1f MiB) in %.1f s, %.1f MiB/s", what_.c_str(),
                  static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / kMiB, seconds, rate);
  } else if (total_ > 0) {
    std::snprintf(text, sizeof text, "%s: %.1f of %.1f MiB (%.0f%%), %.1f MiB/s, %.0f s", what_.c_str(),
                  static_cast<double>(bytes) / kMiB, static_cast<double>(total_) / kMiB,
                  100.0 * static_cast<double>(bytes) / static_cast<double>(total_), rate, seconds);
  } else {
    std::snprintf(text, sizeof text, "%s: %.1f MiB, %.1f MiB/s, %.0f s", what_.c_str(),
                  static_cast<double>(bytes) / kMiB, rate, seconds);
  }
  // On a terminal each line overwrites the one before, and the last one stays.
  if (!on_terminal_) return std::string(text) + "\n";
  return std::string("\r") + text + "\033[K" + (last ? "\n" : "");
}

}  // namespace kelmar::host
