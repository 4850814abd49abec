#include "zip/WorkerPool.h"

#include <algorithm>

#include "platform/Process.h"

namespace zo {

TWorkerPool::TWorkerPool(int threads) {
  // Blocks are allocated on one thread and freed on another: kept for reuse
  // in each thread's own heap, they would add up to far more than the
  // blocks in flight.
  if (threads > 0) ReturnLargeBuffersAtOnce();
  for (int i = 0; i < threads; ++i) FThreads.emplace_back([this] { Work(); });
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
  }
  FReady.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

void TWorkerPool::Enqueue(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FQueue.push_back(std::move(task));
  }
  FReady.notify_one();
}

void TWorkerPool::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FReady.wait(lock, [this] { return FStopping || !FQueue.empty(); });
      if (FQueue.empty()) return;   // stopping, and nothing left to run
      task = std::move(FQueue.front());
      FQueue.pop_front();
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
