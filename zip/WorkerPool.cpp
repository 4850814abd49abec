#include "zip/WorkerPool.h"

#include <algorithm>

namespace zo {

TWorkerPool::TWorkerPool(int threads) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TWorkerPool::Enqueue(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  ready_.notify_one();
}

void TWorkerPool::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;   // stopping, and nothing left to run
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();   // a packaged task: its exception goes to its future
  }
}

int WorkerThreadsFor(int limit) {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  if (cores < 1) cores = 1;
  if (limit > 0) cores = std::min(cores, limit);
  return cores == 1 ? 0 : cores;
}

}  // namespace zo
