#include "distributions/neq_threads.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/worker_threads.h"

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

int NeqThreadPool::Grow(std::unique_lock<std::mutex>& lock, int wanted) {
  wanted = platform::CapWorkerThreads(wanted);
  while (static_cast<int>(workers_.size()) < wanted) {
    const int index = static_cast<int>(workers_.size()) + 1;
    lock.unlock();
    std::unique_ptr<MultiContiNEQThread> worker;
    try {
      worker = std::make_unique<MultiContiNEQThread>(index);
    } catch (const std::system_error&) {
      // The system refused a thread: the job runs on the workers there are.
    }
    lock.lock();
    if (!worker) break;
    workers_.push_back(std::move(worker));
  }
  return std::min(wanted, static_cast<int>(workers_.size()));
}

void NeqThreadPool::Run(int threads, const std::function<void(int)>& job,
                        const std::function<bool()>& finished, const std::function<void()>& poll) {
  std::unique_lock<std::mutex> lock(mutex_);
  threads = Grow(lock, threads);
  if (threads == 0) {
    // Not one worker: the calling thread takes every item itself.
    lock.unlock();
    job(1);
    return;
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
  int workers;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    workers = Grow(lock, count);
  }
  // Fewer workers than parts: worker w runs the parts w, w + workers, ...,
  // so every part runs once and the sums stay the same.
  const std::function<void(int)> spread = [&](int w) {
    for (int t = w; t <= count; t += std::max(workers, 1)) job(t);
  };
  const std::function<void(int)>& run = workers == count ? job : spread;
  if (workers == 0) {
    run(1);
    return;
  }
  // Evaluated under the pool's lock.
  Run(workers, run, [this, workers] { return completed_ >= workers; }, poll);
}
