// A fixed set of worker threads that run tasks in the order they were given.
//
// The engine compresses (and checks) entry data on workers while one thread
// reads sources and writes the archive in order. A pool of 0 threads runs
// each task at once on the thread that submits it, so one code path serves
// every thread count and a one-thread run has no threads at all.
//
//   TWorkerPool pool(4);
//   std::future<int> f = pool.Submit([] { return 6 * 7; });
//   f.get();   // 42, or the task's exception
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zo {

class TWorkerPool {
 public:
  // threads 0: no threads, tasks run inside Submit.
  explicit TWorkerPool(int threads);
  // Runs the tasks still queued, then ends the threads.
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  int Threads() const { return static_cast<int>(FThreads.size()); }

  template <typename F>
  auto Submit(F task) -> std::future<decltype(task())> {
    using R = decltype(task());
    auto packaged = std::make_shared<std::packaged_task<R()>>(std::move(task));
    std::future<R> result = packaged->get_future();
    if (FThreads.empty()) {
      (*packaged)();
    } else {
      Enqueue([packaged] { (*packaged)(); });
    }
    return result;
  }

 private:
  void Enqueue(std::function<void()> task);
  void Work();

  std::mutex FMutex;
  std::condition_variable FReady;
  std::deque<std::function<void()>> FQueue;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};

// The number of workers to use: the machine's cores, capped by limit when it
// is above 0. One core means no worker threads (0).
int WorkerThreadsFor(int limit);

}  // namespace zo
