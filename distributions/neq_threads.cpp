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
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
    if (quit_) return;
    seen = generation_;
    if (!open_ || jobIndex > active_) continue;
    ++inside_;
    const std::function<void(int)>* job = job_;
    lock.unlock();
    (*job)(jobIndex);
    lock.lock();
    --inside_;
    ++completed_;
    left_.notify_all();
  }
}

void NeqThreadPool::Run(int threads, const std::function<void(int)>& job,
                        const std::function<bool()>& finished, const std::function<void()>& poll) {
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
  completed_ = 0;
  open_ = true;
  ++generation_;
  wake_.notify_all();
  if (poll) {
    lock.unlock();
    poll();
    lock.lock();
  }
  for (;;) {
    if (left_.wait_for(lock, std::chrono::milliseconds(10),
                       [&] { return inside_ == 0 && finished(); }))
      break;
    if (poll) {
      lock.unlock();
      poll();
      lock.lock();
    }
  }
  // Workers that have not started yet find the job closed.
  open_ = false;
  job_ = nullptr;
}

void NeqThreadPool::Run(int threads, const std::function<void(int)>& job,
                        const std::function<void()>& poll) {
  const int count = threads < 1 ? 1 : threads;
  // Evaluated under the pool's lock.
  Run(count, job, [this, count] { return completed_ >= count; }, poll);
}
