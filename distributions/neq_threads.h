#pragma once
// The persistent worker pool of the normal equations. Workers are created
// once (and added when more are asked for), wait for a job, run their share
// of it and report back; they never touch the user interface, and the only
// value several of them may write is the atomic stop flag.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class MultiContiNEQThread {
 public:
  explicit MultiContiNEQThread(int jobIndex);
  ~MultiContiNEQThread();
  MultiContiNEQThread(const MultiContiNEQThread&) = delete;
  MultiContiNEQThread& operator=(const MultiContiNEQThread&) = delete;
  int jobIndex() const { return jobIndex_; }

 private:
  void Run();
  int jobIndex_;
  std::thread thread_;
};

class NeqThreadPool {
 public:
  static NeqThreadPool& Instance();
  ~NeqThreadPool();

  // Runs job(t) for t = 1..threads on the workers and returns when all are
  // done. Meanwhile the calling thread runs `poll` about every 10 ms (key
  // polling, progress display).
  void Run(int threads, const std::function<void(int)>& job, const std::function<void()>& poll);
  int Size() const;

 private:
  friend class MultiContiNEQThread;
  NeqThreadPool() = default;
  void WorkerLoop(int jobIndex);

  mutable std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::vector<std::unique_ptr<MultiContiNEQThread>> workers_;
  const std::function<void(int)>* job_ = nullptr;
  int active_ = 0;       // workers taking part in the current job
  int remaining_ = 0;    // of them still running
  long generation_ = 0;
  bool quit_ = false;
};
