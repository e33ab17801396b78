// Work on several threads with the outputs handed back in input order: item i is worked on by
// one of `threads` workers (numbered 0 .. threads - 1, so each may use state of its own) and
// `deliver(i, output)` is called on the calling thread for i = 0, 1, ... as soon as item i and
// every item before it are done. An exception escaping `work` ends the program: catch inside.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

template <class Output, class Work, class Deliver>
void vfRunInOrder(std::size_t items, std::size_t threads, Work work, Deliver deliver) {
  threads = std::max<std::size_t>(1, std::min(threads, items));
  std::vector<std::optional<Output>> done(items);
  std::mutex mu;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  auto worker = [&](std::size_t self) {
    for (std::size_t i; (i = next++) < items;) {
      Output o = work(i, self);
      std::lock_guard<std::mutex> lock(mu);
      done[i] = std::move(o);
      ready.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker, t);
  for (std::size_t i = 0; i < items; ++i) {
    std::unique_lock<std::mutex> lock(mu);
    ready.wait(lock, [&] { return done[i].has_value(); });
    Output o = std::move(*done[i]);
    done[i].reset();
    lock.unlock();
    deliver(i, std::move(o));
  }
  for (std::thread& t : pool) t.join();
}
