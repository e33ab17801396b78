// Worker threads for the parallel parts of one run. parallelFor(n, f) calls f(i, slot) for every
// i in [0, n), spread over the workers and the calling thread, and returns when every call has
// returned; `slot` (below size()) names the thread making the call, so that f can keep scratch
// space per slot. Each i's work must depend on i alone: results are then the same whatever the
// number of threads. A call made from inside a parallelFor of the same pool runs in order on its
// thread, so nested parts do not wait on each other. The first exception a call throws is
// rethrown by parallelFor once every call has ended (the others still run).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class vcThreadPool {
 public:
  // `threads` threads in all, the caller's included (at least 1; 1 starts none).
  explicit vcThreadPool(unsigned threads);
  ~vcThreadPool();
  vcThreadPool(const vcThreadPool&) = delete;
  vcThreadPool& operator=(const vcThreadPool&) = delete;

  unsigned size() const { return unsigned(workers_.size()) + 1; }
  void parallelFor(std::size_t n, const std::function<void(std::size_t, unsigned)>& f);
  // The hardware's thread count (at least 1).
  static unsigned hardwareThreads();

 private:
  void work_(unsigned slot);
  void runShare_(unsigned slot);

  std::vector<std::thread> workers_;
  std::mutex m_;
  std::condition_variable start_, done_;
  const std::function<void(std::size_t, unsigned)>* job_ = nullptr;
  std::size_t n_ = 0, next_ = 0;
  unsigned busy_ = 0;
  unsigned long generation_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;
};

// Runs f(i, 0) for i in [0, n) on `pool`, or in order on this thread without one.
inline void vfParallelFor(vcThreadPool* pool, std::size_t n,
                          const std::function<void(std::size_t, unsigned)>& f) {
  if (pool && n > 1) {
    pool->parallelFor(n, f);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) f(i, 0);
}
