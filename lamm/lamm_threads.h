#pragma once
// Lists of Lamm equations (one species each) solved in parallel. A template
// solver carries every setting; worker threads 1..count take the species in
// list order, each the next one not yet taken when it is free, so that no
// thread idles while species are left (a thread the system holds back does
// not hold back species of its own). Every species is solved on the taking
// thread's solver, copied from the template. The workers are persistent
// threads that keep their solver and its work memory from one list to the
// next; every species is solved by the same arithmetic whatever the thread
// count and whichever thread solves it.
#include <atomic>
#include <vector>

#include "lamm/lamm_debug_log.h"

class CLammIdeal;

// The species 1..n of a list, handed out in order.
class LammSpeciesQueue {
 public:
  explicit LammSpeciesQueue(int n) : n_(n) {}
  // The next species; 0 when none is left.
  int Take() {
    const int k = next_.fetch_add(1);
    return k <= n_ ? k : 0;
  }

 private:
  const int n_;
  std::atomic<int> next_{1};
};

// What the workers of a list have reached, for the calling thread to show
// while it waits: per worker the species it took last and the time its
// solver has reached. Workers only store; they never draw.
struct LammListProgress {
  explicit LammListProgress(int workers) : species(workers + 1), time(workers + 1) {}
  std::vector<std::atomic<int>> species;
  std::vector<std::atomic<double>> time;
};

// "number of threads for Lamm equations" (default 2); values below 1 count
// as 1.
int& LammThreadCount();

// The number the window shows for the first species of a list: a list that
// goes on with the species of one begun elsewhere numbers them as there.
// 1 unless a caller sets it.
int& LammListFirstEquation();

// "solving Lamm equations..." in the main window at the start of a list,
// when the template reports progress text.
void ShowSolvingLammEquations(const CLammIdeal& templ);
// "solving Lamm equation #k for s = ..." at (x, y) of the main window: the
// species a list is at.
void ShowSolvingLammEquation(int equation, double s, double D, int thread, int x, int y);

class MultiThreadCLammIdeal {
 public:
  MultiThreadCLammIdeal() = default;
  virtual ~MultiThreadCLammIdeal();
  MultiThreadCLammIdeal(const MultiThreadCLammIdeal&) = delete;
  MultiThreadCLammIdeal& operator=(const MultiThreadCLammIdeal&) = delete;

  void SetThreadIndex(int index);
  // Nonideal workers solve every species on a copy of a CLammNonIdeal template.
  void SetNonideal(bool on) { nonideal_ = on; }
  void LoadJob(const CLammIdeal* templ, int n, const double* s, const double* D,
               const double* vbar, float*** results, const float* grid, int gridLength,
               float** perScanRadii, const int* perScanCounts);
  void SetJobContext(int* errorCodes, int* failingSpecies);
  void SetExtraJobArrays(int count, const float* radii, float** values);
  // The list's shared queue; without one, worker i solves the species k
  // with k mod count = i - 1.
  void SetQueue(LammSpeciesQueue* queue) { queue_ = queue; }
  // The number of working threads the species are dealt to.
  void SetWorkerCount(int count) { count_ = count < 1 ? 1 : count; }
  void SetProgress(LammListProgress* progress) { progress_ = progress; }
  void DebugLog(const char* text);
  // The thread body, run with the worker thread's own solver.
  int Run(CLammIdeal& solver);

 private:
  int index_ = 0;
  int* errorCodes_ = nullptr;
  int* failingSpecies_ = nullptr;
  const CLammIdeal* template_ = nullptr;
  int n_ = 0;
  const double* s_ = nullptr;
  const double* D_ = nullptr;
  const double* vbar_ = nullptr;
  float*** results_ = nullptr;
  const float* grid_ = nullptr;
  int gridLength_ = 0;
  float** perScanRadii_ = nullptr;
  const int* perScanCounts_ = nullptr;
  int initialCount_ = 0;
  const float* initialRadii_ = nullptr;
  float** initialValues_ = nullptr;
  CLammDebugLog debugLog_;
  int count_ = 1;
  bool nonideal_ = false;
  LammSpeciesQueue* queue_ = nullptr;
  LammListProgress* progress_ = nullptr;
};

// The worker class of the lists: every species gets its own copy of the
// nonideal template.
class MultiThreadCLammNonIdeal : public MultiThreadCLammIdeal {
 public:
  MultiThreadCLammNonIdeal();
  ~MultiThreadCLammNonIdeal() override;
};

// Solves species 1..n (s in Svedberg, D in cm^2/s, vbar for each species or null
// for the template's) into results[k][scan]; returns the last positive error
// code (0 when all were solved), after one "error #%d in simulation #%d" box
// per failed worker. A species that lost or created its loading gets no such
// box: the caller tells it by its own message (the amount recorded for
// TakeAmountNotKept, lamm/amount_kept.h).
int CLRunMTList(const CLammIdeal* templ, int n, const double* s, const double* D,
                const double* vbar, float*** results, const float* grid, int gridLength,
                float** perScanRadii, const int* perScanCounts);
// The same, every solver starting from initialValues[k] on initialRadii.
int CLRunMTListExtra(const CLammIdeal* templ, int n, const double* s, const double* D,
                     const double* vbar, float*** results, const float* grid, int gridLength,
                     float** perScanRadii, const int* perScanCounts, int initialCount,
                     const float* initialRadii, float** initialValues);
// One common vbar value for all species.
int CLRunMTListUniformC0(const CLammIdeal* templ, int n, const double* s, const double* D,
                         float value, float*** results, const float* grid, int gridLength,
                         float** perScanRadii, const int* perScanCounts);
int CLRunMTListUniformC0B(const CLammIdeal* templ, int n, const double* s, const double* D,
                          float value, float*** results, const float* grid, int gridLength,
                          float** perScanRadii, const int* perScanCounts, int initialCount,
                          const float* initialRadii, float** initialValues);
// The list on the calling thread.
int RunLammListSingleThread(const CLammIdeal* templ, int n, const double* s, const double* D,
                            const double* vbar, float*** results, const float* grid,
                            int gridLength, float** perScanRadii, const int* perScanCounts);
int RunLammListSingleThreadUniform(const CLammIdeal* templ, int n, const double* s,
                                   const double* D, float value, float*** results,
                                   const float* grid, int gridLength, float** perScanRadii,
                                   const int* perScanCounts);
