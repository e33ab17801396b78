#include "platform/core/vcThreadPool.h"

#include <algorithm>

namespace {
// The pool whose parallelFor this thread is working for, if any: a call from inside runs in
// order on this thread.
thread_local const vcThreadPool* tInside = nullptr;
}  // namespace

vcThreadPool::vcThreadPool(unsigned threads) {
  for (unsigned s = 1; s < std::max(threads, 1u); ++s) workers_.emplace_back([this, s] { work_(s); });
}

vcThreadPool::~vcThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : workers_) t.join();
}

unsigned vcThreadPool::hardwareThreads() { return std::max(std::thread::hardware_concurrency(), 1u); }

void vcThreadPool::parallelFor(std::size_t n, const std::function<void(std::size_t, unsigned)>& f) {
  if (tInside == this || workers_.empty() || n <= 1) {
    for (std::size_t i = 0; i < n; ++i) f(i, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    job_ = &f;
    n_ = n;
    next_ = 0;
    busy_ = unsigned(workers_.size());
    error_ = nullptr;
    ++generation_;
  }
  start_.notify_all();
  tInside = this;
  runShare_(0);
  tInside = nullptr;
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(m_);
    done_.wait(lock, [this] { return busy_ == 0; });
    job_ = nullptr;
    error = error_;
  }
  if (error) std::rethrow_exception(error);
}

void vcThreadPool::runShare_(unsigned slot) {
  for (;;) {
    std::size_t i;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (next_ >= n_) return;
      i = next_++;
    }
    try {
      (*job_)(i, slot);
    } catch (...) {
      std::lock_guard<std::mutex> lock(m_);
      if (!error_) error_ = std::current_exception();
    }
  }
}

void vcThreadPool::work_(unsigned slot) {
  unsigned long seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    tInside = this;
    runShare_(slot);
    tInside = nullptr;
    std::lock_guard<std::mutex> lock(m_);
    if (--busy_ == 0) done_.notify_one();
  }
}
