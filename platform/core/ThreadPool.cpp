#include "ThreadPool.h"

#include <algorithm>
#include <chrono>

namespace ombrix {

namespace {

// How long a worker stays awake after a job. The stages of one frame and passes run back to
// back hand the pool a new job within microseconds, while waking a sleeping thread can take a
// hundred or more on a virtual machine; the spin is short enough that a pool with nothing to
// do is asleep again at once.
constexpr std::chrono::microseconds kSpinAfterJob{50};

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

ThreadPool& ThreadPool::Shared() {
  static ThreadPool pool(std::max(1, static_cast<int>(std::thread::hardware_concurrency())) - 1);
  return pool;
}

ThreadPool::ThreadPool(int workers) {
  threads_.reserve(static_cast<std::size_t>(std::max(0, workers)));
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { WorkerLoop(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void ThreadPool::Work() {
  // Parts are handed out one at a time, so a slow thread never holds back a whole share.
  for (int part = nextPart_.fetch_add(1); part < parts_; part = nextPart_.fetch_add(1)) {
    try {
      (*job_)(part);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
    }
  }
}

void ThreadPool::WorkerLoop() {
  uint64_t seen = 0;
  for (;;) {
    const auto until = std::chrono::steady_clock::now() + kSpinAfterJob;
    while (seen != 0 && generation_.load(std::memory_order_relaxed) == seen &&
           std::chrono::steady_clock::now() < until) {
      Pause();
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    Work();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --working_;
    }
    done_.notify_one();
  }
}

void ThreadPool::Run(int parts, const std::function<void(int)>& job) {
  if (parts <= 0) return;
  if (threads_.empty() || parts == 1 || busy_.exchange(true)) {
    for (int part = 0; part < parts; ++part) job(part);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    parts_ = parts;
    nextPart_.store(0);
    working_ = static_cast<int>(threads_.size());
    failure_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  Work();
  // The worker most often finishes within microseconds of the caller: waiting for it awake
  // saves the caller's own wake-up.
  const auto until = std::chrono::steady_clock::now() + kSpinAfterJob;
  while (working_.load(std::memory_order_relaxed) != 0 &&
         std::chrono::steady_clock::now() < until) {
    Pause();
  }
  std::exception_ptr failure;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return working_ == 0; });
    job_ = nullptr;
    failure = failure_;
    failure_ = nullptr;
  }
  busy_.store(false);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace ombrix
