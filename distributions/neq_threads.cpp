#include "distributions/neq_threads.h"

#include <chrono>

MultiContiNEQThread::MultiContiNEQThread(int jobIndex)
    : jobIndex_(jobIndex), thread_([this] { Run(); }) {}

MultiContiNEQThread::~MultiContiNEQThread() {
  if (thread_.joinable()) thread_.join();
}

void MultiContiNEQThread::Run() { NeqThreadPool::Instance().WorkerLoop(jobIndex_); }

NeqThreadPool& NeqThreadPool::Instance() {
  static NeqThreadPool pool;
  return pool;
}

NeqThreadPool::~NeqThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  workers_.clear();  // joins
}

int NeqThreadPool::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(workers_.size());
}

void NeqThreadPool::WorkerLoop(int jobIndex) {
  long seen = 0;
  for (;;) {
    const std::function<void(int)>* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
      if (quit_) return;
      seen = generation_;
      if (jobIndex > active_) continue;
      job = job_;
    }
    (*job)(jobIndex);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--remaining_ == 0) finished_.notify_all();
    }
  }
}

void NeqThreadPool::Run(int threads, const std::function<void(int)>& job,
                        const std::function<void()>& poll) {
  if (threads < 1) threads = 1;
  std::unique_lock<std::mutex> lock(mutex_);
  while (static_cast<int>(workers_.size()) < threads) {
    const int index = static_cast<int>(workers_.size()) + 1;
    lock.unlock();
    auto worker = std::make_unique<MultiContiNEQThread>(index);
    lock.lock();
    workers_.push_back(std::move(worker));
  }
  job_ = &job;
  active_ = threads;
  remaining_ = threads;
  ++generation_;
  wake_.notify_all();
  while (remaining_ > 0) {
    finished_.wait_for(lock, std::chrono::milliseconds(10), [&] { return remaining_ == 0; });
    if (remaining_ > 0 && poll) {
      lock.unlock();
      poll();
      lock.lock();
    }
  }
  job_ = nullptr;
}
