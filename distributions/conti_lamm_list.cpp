#include "distributions/conti_lamm_list.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_run_hooks.h"
#include "distributions/conti_settings.h"
#include "distributions/neq_threads.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_evaluation.h"
#include "fit/fluorescence_options.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_errors.h"
#include "fit/solvent_gradient.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "platform/error_box.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

LammListSolver gSolver = nullptr;

// Everything the species of one list share.
void Configure(CLammIdeal& L, int k, double s, double D, double vbar) {
  const ScanSet& sc = CurrentScanSet();
  const LammSolverSettings& st = LammSettings();
  const SolutionConditions& sol = gSolutionConditions;
  L.MarkLoaded();
  L.SetOutputParameters(s, D, gModelParams.meniscus, gModelParams.bottom, 1.0, sc.leftFitLimit,
                        sc.rightFitLimit);
  if (!st.checkRotorAcceleration) L.ClearRunFlag();
  const DataTypeFlags& df = CurrentDataTypeFlags();
  // The solvers report to the main window once it has been drawn.
  L.SetScanTimes({.records = sc.records.data(), .output = WorkBlock().lammSolutions[k],
                  .grid = sc.grid, .gridLength = sc.gridLength,
                  .showProgress = ContiContext().drawingEnabled, .indexMap = sc.order.data(),
                  .scanCount = sc.count, .suppressText1 = gFitEngineState.fitRunning != 0,
                  .suppressText2 = Conti().silent != 0,
                  .timeResolution = st.simulateTimeResolution != 0, .scanVelocity = st.scanVelocity,
                  .radialResolution = st.simulateRadialResolution != 0,
                  .convolutionRange = st.convolutionRange, .absorbanceData = df.absorbance != 0});
  SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.inUse);
  const ModelSelectorFlags& f = gModelSelectorFlags;
  if (f.ZoneCentrifugationModel || f.ZoneCentrifugationCSModel || f.ZoneCentrifugationLsgModel)
    L.SetGeometryFlags(true, gModelParams.zoneValue, false);
  L.SetSolventAndComputeFrictionalRatio(sol.temperature - 273.15, vbar, sol.density, sol.viscosity);
  ApplySolventGradientToSolver(L, vbar);
  if (gModelParams.startTimeFit || gModelParams.startTime != 0.0f) L.SetInitialTime(gModelParams.startTime);
  if (CurrentSpeedProfile.Active()) L.LoadFromThreadJob(*CurrentSpeedProfile.profile);
  if (df.absorbance && st.simulateTimeResolution && st.scanVelocity > 0 && sc.count >= 1 &&
      sc.radii[1])
    L.SetStartTimeOffset(sc.radii[1][1]);
  ApplyFluorescenceCorrections(L);
}

// Sequential or pooled solution of the species, one fresh object each.
int SolveSpeciesList(const LammListJob& job) {
  std::atomic<int> firstError{0};
  std::atomic<bool>& stop = platform::StopFlag();
  std::vector<int> errors(static_cast<size_t>(job.n) + 1, 0);
  // On this thread the species say which they are, how far the list is: the
  // first, the last and at most ten a second (each one shown is painted).
  auto lastShown = std::chrono::steady_clock::now();
  auto solveOne = [&](int k, int thread) {
    CLammIdeal L;
    Configure(L, k, job.s[k], job.D[k], job.vbar[k]);
    L.SetWorker(thread > 0, k, thread);
    if (k == 1) ShowSolvingLammEquations(L);
    const auto now = std::chrono::steady_clock::now();
    if (thread == 0 && (k == 1 || k == job.n || now - lastShown >= std::chrono::milliseconds(100))) {
      L.ShowSolvingProgress(10, 30);
      lastShown = now;
    }
    const int code = L.CheckAndRun();
    errors[k] = code;
    if (code != kLammSolved) {
      int expected = kLammSolved;
      firstError.compare_exchange_strong(expected, code);
    }
  };
  const int threads = std::max(1, std::min(job.threads, job.n));
  if (threads == 1) {
    // A press reaches the queue only when the window's events are delivered
    // (throttled by the pump): without them a key pressed during the list
    // was taken only by the normal equations, minutes later.
    for (int k = 1; k <= job.n && !platform::PollStop(); ++k) solveOne(k, 0);
  } else {
    // The first species on this thread: a refusal of the common settings is
    // told once, here, and stops the list before the workers start.
    solveOne(1, 0);
    // The others by decreasing |s|: the slowest species start first and the
    // quickest fill the gaps at the end, so the workers finish together.
    std::vector<int> order;
    for (int k = 2; k <= job.n; ++k) order.push_back(k);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return std::fabs(job.s[a]) > std::fabs(job.s[b]); });
    const int count = static_cast<int>(order.size());
    std::atomic<int> next{0};
    std::function<void(int)> work = [&](int t) {
      for (int q = next++; q < count && !stop.load(); q = next++) solveOne(order[q], t);
    };
    std::function<void()> poll = [] { platform::PollStop(); };
    NeqThreadPool::Instance().Run(threads, work, poll);
  }
  // Worker errors are told on the user-interface thread, after the join.
  // A lost or created loading is told by its own message (ReportListError).
  for (int k = 1; k <= job.n; ++k)
    if (errors[k] != 0 && errors[k] != 5 && errors[k] != kLammAmountNotKept) {
      char text[80];
      std::snprintf(text, sizeof text, "error #%d in simulation #%d", errors[k], k);
      platform::Tell("ERROR in simulation", text, platform::BoxIcon::Error);
      break;
    }
  return firstError.load();
}

}  // namespace

void ConfigureContiLammSpecies(CLammIdeal& solver, int k, double s, double D, double vbar) {
  Configure(solver, k, s, D, vbar);
}

void SetLammListSolver(LammListSolver solver) { gSolver = solver; }
LammListSolver DefaultLammListSolver() { return SolveSpeciesList; }

void ReportListError(int code) {
  if (code <= 0) return;
  FitHost* host = ContiHooks().host ? ContiHooks().host() : nullptr;
  CModelFitHost plain;
  ReportSimulationError(host ? host : &plain, code);
}

int& LammListThreads() {
  static int threads = std::max(1u, std::thread::hardware_concurrency());
  return threads;
}

void RunSVContiSedList(int n, const double* sList, const double* dList, const double* vbarList) {
  platform::WriteDiagnostics("\nEnter RunSVContiSedList");
  LammSolverSettings& st = LammSettings();
  st.discretizationError = 0;
  st.singularMatrixError = 0;
  st.listError = 0;
  // The cosolute's lists are read here, once, before any worker starts; a
  // missing one was told once and stops the run.
  if (!PrepareSolventForSolverObjects()) {
    st.listError = 4;
    return;
  }
  LammListJob job;
  job.n = n;
  job.s = sList;
  job.D = dList;
  job.vbar = vbarList;
  job.threads = Conti().multipleThreads ? LammListThreads() : 1;
  const int code = (gSolver ? gSolver : SolveSpeciesList)(job);
  platform::WriteDiagnostics(" --> done with sims");
  platform::WriteDiagnostics(" --> pLammSolutions deleted");
  st.listError = code;
  ReportListError(code);
  if (code == kLammDiscretization) st.discretizationError = 1;
  if (code == kLammSingularMatrix) st.singularMatrixError = 1;
  // Kernel column 1 is the buffer signal of the correction, not a species.
  if (ContiHooks().bufferCorrection && ContiHooks().updateBufferSedimentation)
    ContiHooks().updateBufferSedimentation();
  platform::WriteDiagnostics(" --> OUT");
}
