// Elapsed wall-clock time on a monotonic clock, accumulated over start/stop intervals.
#pragma once

#include <chrono>

class vcTimer {
 public:
  // Starts at once when asked; otherwise starts stopped at zero.
  explicit vcTimer(bool startNow = false) {
    if (startNow) start();
  }
  // Starts (or keeps) running; time already accumulated is kept.
  void start() {
    if (!running_) {
      t0_ = Clock::now();
      running_ = true;
    }
  }
  void stop() {
    if (running_) {
      acc_ += Clock::now() - t0_;
      running_ = false;
    }
  }
  // Back to zero, keeping the running state.
  void reset() {
    acc_ = Clock::duration::zero();
    t0_ = Clock::now();
  }
  bool isRunning() const { return running_; }
  // Accumulated seconds, including the current interval while running.
  double sec() const {
    Clock::duration d = acc_;
    if (running_) d += Clock::now() - t0_;
    return std::chrono::duration<double>(d).count();
  }
  double msec() const { return 1000.0 * sec(); }

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point t0_{};
  Clock::duration acc_ = Clock::duration::zero();
  bool running_ = false;
};
