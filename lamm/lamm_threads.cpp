#include "lamm/lamm_threads.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "data/load_hooks.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_nonideal.h"
#include "lamm/lamm_outcome.h"
#include "lamm/solver_display.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/worker_threads.h"

int& LammThreadCount() {
  static int count = 2;
  return count;
}

int& LammListFirstEquation() {
  static int first = 1;
  return first;
}

namespace {

// Persistent worker threads, numbered 1..; thread i keeps one solver (and
// with it its work memory) for every list it works on.
class LammWorkerPool {
 public:
  static LammWorkerPool& Instance() {
    static LammWorkerPool pool;
    return pool;
  }

  // Runs job(i, solver) for i = 1..count and waits for all. Thread w runs
  // the parts w, w + threads, ...: fewer threads than parts (the system
  // refused one) still run every part once.
  // While they work, the calling thread runs tick every tenth of a second.
  void Run(int count, const std::function<void(int, CLammIdeal&)>& job,
           const std::function<void()>& tick = {}) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (static_cast<int>(threads_.size()) < count) {
      const int index = static_cast<int>(threads_.size()) + 1;
      solvers_.push_back(std::make_unique<CLammIdeal>());
      // The thread starts from the generation before this list's, so it
      // takes part in this list even when it first runs after the wake-up.
      const unsigned long before = generation_;
      try {
        threads_.emplace_back([this, index, before] { Loop(index, before); });
      } catch (const std::system_error&) {
        solvers_.pop_back();
        break;
      }
    }
    const int threads = std::min(count, static_cast<int>(threads_.size()));
    if (threads == 0) {
      lock.unlock();
      CLammIdeal solver;
      for (int i = 1; i <= count; ++i) job(i, solver);
      return;
    }
    job_ = &job;
    parts_ = count;
    active_ = threads;
    remaining_ = threads;
    ++generation_;
    wake_.notify_all();
    const auto finished = [this] { return remaining_ == 0; };
    while (!done_.wait_for(lock, std::chrono::milliseconds(100), finished)) {
      if (!tick) continue;
      lock.unlock();
      tick();
      lock.lock();
    }
    job_ = nullptr;
  }

  ~LammWorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

 private:
  void Loop(int index, unsigned long seen) {
    for (;;) {
      const std::function<void(int, CLammIdeal&)>* job = nullptr;
      CLammIdeal* solver = nullptr;
      int parts = 0, step = 1;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_) return;
        seen = generation_;
        if (index > active_) continue;
        job = job_;
        solver = solvers_[index - 1].get();
        parts = parts_;
        step = active_;
      }
      for (int part = index; part <= parts; part += step) (*job)(part, *solver);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--remaining_ == 0) done_.notify_all();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  std::vector<std::unique_ptr<CLammIdeal>> solvers_;
  const std::function<void(int, CLammIdeal&)>* job_ = nullptr;
  unsigned long generation_ = 0;
  int parts_ = 0, active_ = 0, remaining_ = 0;
  bool quit_ = false;
};

}  // namespace

MultiThreadCLammIdeal::~MultiThreadCLammIdeal() {
  if (LammDiagnosticsOutput() && debugLog_.Started()) DebugLog("\ndeleting MultiThreadCLammIdeal");
}

void MultiThreadCLammIdeal::SetThreadIndex(int index) {
  index_ = index;
  DebugLog(nullptr);
}

void MultiThreadCLammIdeal::LoadJob(const CLammIdeal* templ, int n, const double* s,
                                    const double* D, const double* vbar, float*** results,
                                    const float* grid, int gridLength, float** perScanRadii,
                                    const int* perScanCounts) {
  template_ = templ;
  n_ = n;
  s_ = s;
  D_ = D;
  vbar_ = vbar;
  results_ = results;
  grid_ = grid;
  gridLength_ = gridLength;
  perScanRadii_ = perScanRadii;
  perScanCounts_ = perScanCounts;
}

void MultiThreadCLammIdeal::SetJobContext(int* errorCodes, int* failingSpecies) {
  errorCodes_ = errorCodes;
  failingSpecies_ = failingSpecies;
}

void MultiThreadCLammIdeal::SetExtraJobArrays(int count, const float* radii, float** values) {
  initialCount_ = count;
  initialRadii_ = radii;
  initialValues_ = values;
}

void MultiThreadCLammIdeal::DebugLog(const char* text) {
  if (!LammDiagnosticsOutput()) return;
  // Workers never show boxes: a file that cannot be opened is passed over.
  if (!debugLog_.Started()) {
    char name[100];
    std::snprintf(name, sizeof name, "c:\\temp\\MTdebug_t%d_%ld.txt", index_, static_cast<long>(getpid()));
    char header[100];
    std::snprintf(header, sizeof header, "\nstarting new debugging session for thread #%d", index_);
    debugLog_.Start(name, header, false);
  }
  debugLog_.Append(text, false);
}

int MultiThreadCLammIdeal::Run(CLammIdeal& solver) {
  DebugLog("\nstart MultiThreadCLammIdeal::Run()");
  if (errorCodes_) errorCodes_[index_] = 0;
  if (failingSpecies_) failingSpecies_[index_] = 0;
  if (s_ && D_ && results_ && template_) {
    bool failed = false;
    int mine = 0;  // the last own species when there is no shared queue
    for (;;) {
      if (failed || platform::StopFlag()) break;
      int k = 0;
      if (queue_) {
        k = queue_->Take();
      } else {
        mine = mine == 0 ? (index_ - 1 > 0 ? index_ - 1 : count_) : mine + count_;
        if (mine <= n_) k = mine;
      }
      if (k == 0) break;
      char line[200];
      std::snprintf(line, sizeof line,
                    "\nstarting new debugging session for Lamm equation #%d (s = %.4f S, D = %.3f F)",
                    k, s_[k], D_[k] * 1e7);
      DebugLog(line);
      // A nonideal species gets a fresh copy of the template (its ctot field
      // is shared read-only); an ideal one reuses the thread's solver.
      std::unique_ptr<CLammNonIdeal> own;
      CLammIdeal* L = &solver;
      const auto* nonidealTemplate = nonideal_ ? dynamic_cast<const CLammNonIdeal*>(template_) : nullptr;
      if (nonidealTemplate) {
        own = std::make_unique<CLammNonIdeal>();
        own->CopyConstruct(*nonidealTemplate);
        L = own.get();
      } else {
        solver.CopySettings(*template_);
      }
      L->SetWorker(true, k, index_);
      if (progress_) {
        progress_->time[index_].store(0, std::memory_order_relaxed);
        progress_->species[index_].store(k, std::memory_order_relaxed);
      }
      L->PublishTimeTo(progress_ ? &progress_->time[index_] : nullptr);
      L->SetSpeciesAndOutput(s_[k], D_[k], results_[k], grid_, gridLength_, perScanRadii_,
                             perScanCounts_);
      L->SetSolventAndComputeFrictionalRatio(template_->Temperature(),
                                             vbar_ ? vbar_[k] : template_->Vbar(),
                                             template_->Density(), template_->Viscosity());
      if (initialCount_ > 0 && initialRadii_ && initialValues_)
        L->LoadInitialDistribution(initialCount_, initialRadii_, initialValues_[k]);
      const int code = L->CheckAndRun();
      L->PublishTimeTo(nullptr);
      if (code > 0) {
        if (errorCodes_) errorCodes_[index_] = code;
        if (failingSpecies_) failingSpecies_[index_] = k;
        platform::StopFlag() = true;
        failed = true;
      }
      if (L->AbortRequested()) platform::StopFlag() = true;
      DebugLog(" -> OK");
    }
  }
  DebugLog("\nexit from MultiThreadCLammIdeal::Run()");
  return 0;
}

MultiThreadCLammNonIdeal::MultiThreadCLammNonIdeal() { SetNonideal(true); }

MultiThreadCLammNonIdeal::~MultiThreadCLammNonIdeal() {
  DebugLog("\ndeleting MultiThreadCLammNonIdeal");
}

namespace {

// What the window shows of a list's progress, drawn again only on a change.
struct LammProgressShown {
  int species = 0;
  std::string time;
};

// The species taken last, and the time its solver has reached, in the texts
// and at the places that a list solved on the calling thread shows them.
void ShowLammListProgress(const CLammIdeal& templ, const double* s, const double* D,
                          const LammListProgress& progress, LammProgressShown& shown) {
  if (!templ.ShowsProgressText()) return;
  int thread = 0, k = 0;
  for (int i = 1; i < static_cast<int>(progress.species.size()); ++i) {
    const int taken = progress.species[i].load(std::memory_order_relaxed);
    if (taken > k) k = taken, thread = i;
  }
  if (k == 0) return;
  const double t = progress.time[thread].load(std::memory_order_relaxed);
  const LammSolverDisplay& display = CurrentLammSolverDisplay();
  if (k != shown.species) {
    ShowSolvingLammEquation(k + LammListFirstEquation() - 1, s[k], D[k], thread, 10, 30);
    // The step lines of a species solved on this thread before the workers
    // took over would stand beside the workers' time: they go.
    if (shown.species == 0 && display.drawText)
      for (const int y : {70, 90, 130}) display.drawText(10, y, "");
    shown.species = k;
  }
  char text[200];
  std::snprintf(text, sizeof text, "t = %.0f sec  ", t);
  if (text == shown.time || !display.drawText) return;
  display.drawText(10, 110, text);
  shown.time = text;
}

int RunList(const CLammIdeal* templ, int n, const double* s, const double* D, const double* vbar,
            float*** results, const float* grid, int gridLength, float** perScanRadii,
            const int* perScanCounts, int initialCount, const float* initialRadii,
            float** initialValues) {
  const int count = platform::CapWorkerThreads(LammThreadCount());
  std::vector<int> errorCodes(count + 1, 0), failing(count + 1, 0);
  // The run's trace goes to the template's debug file.
  auto log = [templ](const char* text) {
    if (templ && LammDiagnosticsOutput()) templ->DebugLog(text);
  };
  log(nullptr);
  log("\nStarting CLRunMTList");
  if (templ) ShowSolvingLammEquations(*templ);
  LammSpeciesQueue queue(n);
  LammListProgress progress(count);
  std::vector<std::unique_ptr<MultiThreadCLammIdeal>> workers;
  const bool nonideal = dynamic_cast<const CLammNonIdeal*>(templ) != nullptr;
  for (int i = 0; i <= count; ++i) {
    if (nonideal)
      workers.push_back(std::make_unique<MultiThreadCLammNonIdeal>());
    else
      workers.push_back(std::make_unique<MultiThreadCLammIdeal>());
  }
  log(" ... pLammThreads allocated");
  for (int i = 1; i <= count; ++i) {
    workers[i]->SetThreadIndex(i);
    workers[i]->SetWorkerCount(count);
    workers[i]->LoadJob(templ, n, s, D, vbar, results, grid, gridLength, perScanRadii,
                        perScanCounts);
    if (initialCount > 0) workers[i]->SetExtraJobArrays(initialCount, initialRadii, initialValues);
    workers[i]->SetJobContext(errorCodes.data(), failing.data());
    workers[i]->SetQueue(&queue);
    workers[i]->SetProgress(&progress);
  }
  log(", loaded");
  platform::PumpEvents();
  // A failed species stops the other workers through the stop flag; only a
  // stop of the user's (or one before the list) stays set after the list.
  bool userStop = platform::StopFlag().load();
  if (!platform::StopFlag() && platform::TakeKeyDown()) platform::StopFlag() = userStop = true;
  const std::function<void(int, CLammIdeal&)> job = [&](int index, CLammIdeal& solver) {
    workers[index]->Run(solver);
  };
  log(", started ");
  // The window stays alive while the list runs: it shows how far the
  // workers are and takes a key that stops them.
  LammProgressShown shown;
  const std::function<void()> tick = [&] {
    platform::PumpEvents();
    if (!platform::StopFlag() && platform::TakeKeyDown()) platform::StopFlag() = userStop = true;
    if (templ && s && D) ShowLammListProgress(*templ, s, D, progress, shown);
  };
  LammWorkerPool::Instance().Run(count, job, tick);
  tick();
  log(", exited ");
  int result = 0;
  for (int i = 1; i <= count; ++i) {
    if (errorCodes[i] > 0) {
      result = errorCodes[i];
      // A lost or created loading is told by the caller in words that name
      // the species and what to change: a number beside it says nothing more.
      if (errorCodes[i] == kLammAmountNotKept) continue;
      char text[100];
      std::snprintf(text, sizeof text, "error #%d in simulation #%d", errorCodes[i], failing[i]);
      ErrorBox(text);
    }
  }
  // A list ended by a failure is not one the user stopped: the caller would
  // tell a "user interrupt" beside the failure.
  if (result > 0 && !userStop) platform::StopFlag() = false;
  log(", checked ");
  // The pool returns once every worker has finished its part.
  log(", all done ");
  workers.clear();
  log(", and deleted. ");
  return result;
}

}  // namespace

void ShowSolvingLammEquations(const CLammIdeal& templ) {
  if (!templ.ShowsProgressText()) return;
  const LoadHooks& h = CurrentLoadHooks();
  if (h.drawText) h.drawText("solving Lamm equations...       ", 10, 30);
}

int CLRunMTList(const CLammIdeal* templ, int n, const double* s, const double* D,
                const double* vbar, float*** results, const float* grid, int gridLength,
                float** perScanRadii, const int* perScanCounts) {
  return RunList(templ, n, s, D, vbar, results, grid, gridLength, perScanRadii, perScanCounts, 0,
                 nullptr, nullptr);
}

int CLRunMTListExtra(const CLammIdeal* templ, int n, const double* s, const double* D,
                     const double* vbar, float*** results, const float* grid, int gridLength,
                     float** perScanRadii, const int* perScanCounts, int initialCount,
                     const float* initialRadii, float** initialValues) {
  return RunList(templ, n, s, D, vbar, results, grid, gridLength, perScanRadii, perScanCounts,
                 initialCount, initialRadii, initialValues);
}

int CLRunMTListUniformC0(const CLammIdeal* templ, int n, const double* s, const double* D,
                         float value, float*** results, const float* grid, int gridLength,
                         float** perScanRadii, const int* perScanCounts) {
  std::vector<double> v(static_cast<size_t>(n < 0 ? 0 : n) + 1, value);
  return CLRunMTList(templ, n, s, D, v.data(), results, grid, gridLength, perScanRadii,
                     perScanCounts);
}

int CLRunMTListUniformC0B(const CLammIdeal* templ, int n, const double* s, const double* D,
                          float value, float*** results, const float* grid, int gridLength,
                          float** perScanRadii, const int* perScanCounts, int initialCount,
                          const float* initialRadii, float** initialValues) {
  std::vector<double> v(static_cast<size_t>(n < 0 ? 0 : n) + 1, value);
  return CLRunMTListExtra(templ, n, s, D, v.data(), results, grid, gridLength, perScanRadii,
                          perScanCounts, initialCount, initialRadii, initialValues);
}

int RunLammListSingleThread(const CLammIdeal* templ, int n, const double* s, const double* D,
                            const double* vbar, float*** results, const float* grid,
                            int gridLength, float** perScanRadii, const int* perScanCounts) {
  int code = 0, failing = 0;
  if (!templ || !s || !D || !results) return 0;
  for (int k = 1; k <= n && code == 0 && !platform::StopFlag(); ++k) {
    CLammIdeal solver;
    solver.CopySettings(*templ);
    solver.SetWorker(false, k, 0);
    solver.SetSpeciesAndOutput(s[k], D[k], results[k], grid, gridLength, perScanRadii,
                               perScanCounts);
    solver.SetSolventAndComputeFrictionalRatio(templ->Temperature(), vbar ? vbar[k] : templ->Vbar(),
                                               templ->Density(), templ->Viscosity());
    solver.ShowSolvingProgress(10, 30);
    code = solver.CheckAndRun();
    failing = k;
    if (solver.AbortRequested()) platform::StopFlag() = true;
  }
  if (!platform::StopFlag() && code > 0 && code != kLammAmountNotKept) {
    char text[100];
    std::snprintf(text, sizeof text, "error #%d in simulation #%d", code, failing);
    ErrorBox(text);
  }
  return code;
}

int RunLammListSingleThreadUniform(const CLammIdeal* templ, int n, const double* s,
                                   const double* D, float value, float*** results,
                                   const float* grid, int gridLength, float** perScanRadii,
                                   const int* perScanCounts) {
  std::vector<double> v(static_cast<size_t>(n < 0 ? 0 : n) + 1, value);
  return RunLammListSingleThread(templ, n, s, D, v.data(), results, grid, gridLength,
                                 perScanRadii, perScanCounts);
}
