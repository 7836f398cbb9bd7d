#include "distributions/conti_lamm_pool.h"

#include <algorithm>

#include "data/scan_set.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/work_blocks.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_threads.h"
#include "platform/input_events.h"

namespace {

// Refusals of the settings every species shares (geometry, scans, solver
// controls, non-ideality, detection): the other species would be refused too.
bool SharedSettingsRefused(int code) {
  return code == kLammInvalidSettings || code == kLammNonidealSetup || code == kLammNonidealOutOfRange;
}

// A pool setting for one list (its worker count; the number its first
// species is shown with), restored afterwards.
class ScopedPoolSetting {
 public:
  ScopedPoolSetting(int& setting, int value) : setting_(setting), saved_(setting) { setting = value; }
  ~ScopedPoolSetting() { setting_ = saved_; }
  ScopedPoolSetting(const ScopedPoolSetting&) = delete;
  ScopedPoolSetting& operator=(const ScopedPoolSetting&) = delete;

 private:
  int& setting_;
  int saved_;
};

}  // namespace

int SolveContiSpeciesOnLammPool(const LammListJob& job) {
  const int threads = std::max(1, std::min(job.threads, job.n - 1));
  if (job.threads <= 1 || job.n < 2) return DefaultLammListSolver()(job);

  LammListJob first = job;
  first.n = 1;
  first.threads = 1;
  const int code = DefaultLammListSolver()(first);
  if (platform::StopFlag().load() || SharedSettingsRefused(code)) return code;

  // Species 2..n as a list of their own: the arrays shifted by one.
  const ScanSet& sc = CurrentScanSet();
  float*** kernels = WorkBlock().lammSolutions;
  CLammIdeal templ;
  ConfigureContiLammSpecies(templ, 2, job.s[2], job.D[2], job.vbar[2]);
  ScopedPoolSetting count(LammThreadCount(), threads);
  // Species 2..n go to the pool as a list of their own, shown with their
  // numbers in the whole list.
  ScopedPoolSetting numbers(LammListFirstEquation(), 2);
  const int rest = CLRunMTList(&templ, job.n - 1, job.s + 1, job.D + 1, job.vbar + 1, kernels + 1,
                               sc.grid, sc.gridLength, nullptr, nullptr);
  return code != 0 ? code : rest;
}
