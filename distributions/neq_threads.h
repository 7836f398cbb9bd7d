#pragma once
// The persistent worker pool of the normal equations. Workers are created
// once (more are added when more are asked for), sleep between jobs and
// never touch the user interface; the calling thread waits, polling the
// keyboard and showing progress. Jobs hand out their work items through
// atomic counters, so a worker that starts late (its processor busy with
// other work) simply takes fewer items, and the job ends as soon as every
// item is done: a worker that has not started by then sits the job out.
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

  // Runs job(t) on workers t = 1..threads (fewer when the count is above
  // the cap or the system refuses a thread); job must take work items until
  // none is left and then return. Returns once finished() holds (every item
  // done) and no worker is inside the job; meanwhile the calling thread
  // runs poll about every 10 ms.
  void Run(int threads, const std::function<void(int)>& job, const std::function<bool()>& finished,
           const std::function<void()>& poll);
  // Runs job(t) once for every t = 1..threads and returns when all of them
  // have returned (jobs that split their work by t); with fewer workers
  // than parts a worker runs several parts one after the other.
  void Run(int threads, const std::function<void(int)>& job, const std::function<void()>& poll);
  int Size() const;

 private:
  friend class MultiContiNEQThread;
  NeqThreadPool() = default;
  void WorkerLoop(int jobIndex);
  // Adds workers up to wanted (capped); the number that may join a job.
  int Grow(std::unique_lock<std::mutex>& lock, int wanted);

  mutable std::mutex mutex_;
  std::condition_variable wake_, left_;
  std::vector<std::unique_ptr<MultiContiNEQThread>> workers_;
  const std::function<void(int)>* job_ = nullptr;
  int active_ = 0;      // workers 1..active_ may join the open job
  int inside_ = 0;      // workers running the job now
  int completed_ = 0;   // workers that have finished the current job
  bool open_ = false;   // the job still accepts workers
  long generation_ = 0;
  bool quit_ = false;
};
