#pragma once
// A small pool of worker threads for kernels that split their rows: created once, sized to the
// processor, and every Run joins all its work before it returns, so callers stay as
// single-threaded as they look.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ombrix {

class ThreadPool {
 public:
  // The pool the kernels share: made on first use with one worker fewer than the hardware
  // threads, since the calling thread works too. Lives until the program ends.
  static ThreadPool& Shared();

  // A pool with `workers` threads of its own (0 runs everything on the caller).
  explicit ThreadPool(int workers);
  // Stops and joins the workers. Precondition: no Run is in progress.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Threads that take part in a Run: the workers and the caller.
  int Size() const { return static_cast<int>(threads_.size()) + 1; }

  // Runs job(part) once for every part in 0 .. parts - 1, spread over the workers and the
  // calling thread, and returns when all have finished. When the pool is already running a job
  // (for another thread, or Run is called from inside a job) every part runs on the caller.
  // If parts throw, the first exception is rethrown after all parts have finished.
  // Thread-safe.
  void Run(int parts, const std::function<void(int)>& job);

 private:
  void WorkerLoop();
  void Work();

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::atomic<bool> busy_{false};
  // The job in progress; guarded by mutex_ except for the part counter.
  const std::function<void(int)>* job_ = nullptr;
  int parts_ = 0;
  std::atomic<int> nextPart_{0};
  // Workers still in the job: written under mutex_, read without it by a caller spinning for
  // the join.
  std::atomic<int> working_{0};
  // Written under mutex_; read without it by a worker spinning for the next job.
  std::atomic<uint64_t> generation_{0};
  bool stopping_ = false;
  std::exception_ptr failure_;
};

}  // namespace ombrix
