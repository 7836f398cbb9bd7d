#include "distributions/electrophoresis_kernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/neq_threads.h"
#include "distributions/sharp_boundary.h"
#include "distributions/work_blocks.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

constexpr double kCmPerMicron = 1e-4;
// Largest relative change per time step: the boundary of a constant force
// keeps its shape, and the phase error of larger steps shows in it.
constexpr double kStepTolerance = 0.5;
// Steps by the travelling boundary: the lag that Crank-Nicolson steps give
// it stays within a fixed part of its width (about 2e-3 of the loading).
constexpr double kBoundaryStepFraction = 0.3;

double StartTime() {
  const ModelParams& mp = gModelParams;
  return mp.startTimeFit || mp.startTime != 0.0f ? mp.startTime : 0.0;
}

// The working time of the scan at position p in time order, as the Lamm
// models of the model evaluation take it.
double ScanTime(int p) {
  const ScanSet& sc = CurrentScanSet();
  const ScanRecord& rec = sc.records[sc.order[p]];
  return LammSettings().rampRotorSpeed ? rec.time : rec.timeRead;
}

bool Refuse(const char* text) {
  platform::Tell("", text);
  return false;
}

}  // namespace

bool ElectrophoresisSettingsAccepted() {
  const ContiSettings& cs = Conti();
  if (!(cs.sMin < cs.sMax)) return Refuse("v min must be smaller than v max");
  if (gModelSelectorFlags.ElectrophoresisCVModel && !(cs.constantD > 0.0f))
    return Refuse("the constant D must be positive");
  if (!(gModelParams.bottom > gModelParams.meniscus)) return Refuse("the column length must be positive");
  return true;
}

// One solver state: the settings with the kernels' switches, the grid of
// the last velocity (kept while the next needs as many nodes) and the run
// state.
struct CMobilityKernels::Solver {
  LammSolverSettings settings;
  LammGrid grid;
  LammRunState run;
};

namespace {

// The solver state of a solve, installed on the calling thread for as long
// as it lives.
class InstalledSolverState {
 public:
  InstalledSolverState(LammSolverSettings& settings, LammGrid& grid, LammRunState& run) {
    UseThreadLammSettings(&settings);
    UseThreadLammGrid(&grid);
    UseThreadLammRunState(&run);
  }
  ~InstalledSolverState() {
    UseThreadLammSettings(nullptr);
    UseThreadLammGrid(nullptr);
    UseThreadLammRunState(nullptr);
  }
  InstalledSolverState(const InstalledSolverState&) = delete;
  InstalledSolverState& operator=(const InstalledSolverState&) = delete;
};

}  // namespace

CMobilityKernels::CMobilityKernels(double D) : D_(D), gridSizeInUse_(LammSettings().gridSize.inUse) {
  electrophoresis_ = gModelSelectorFlags.ElectrophoresisLammModel;
  // The planar solver is the static grid's; the grid is even from the
  // meniscus to the bottom.
  gModelSelectorFlags.ElectrophoresisLammModel = 1;
  own_ = NewSolver();
  ready_ = D > 0.0 && gModelParams.bottom > gModelParams.meniscus;
}

CMobilityKernels::~CMobilityKernels() { gModelSelectorFlags.ElectrophoresisLammModel = electrophoresis_; }

std::unique_ptr<CMobilityKernels::Solver> CMobilityKernels::NewSolver() const {
  auto solver = std::make_unique<Solver>();
  LammSolverSettings& st = solver->settings;
  st = LammSettings();
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.automaticAlgorithm = 0;
  st.workingMaxDcOverC = std::min(st.workingMaxDcOverC, kStepTolerance);
  // A kernel starts from the even loading, never from a measured scan.
  st.experimentalInitialDistribution = 0;
  solver->run = CurrentLammRunState();
  return solver;
}

int CMobilityKernels::SolveOn(Solver& solver, int i, double v, bool worker, int& nodes) {
  const InstalledSolverState installed(solver.settings, solver.grid, solver.run);
  LammSolverSettings& st = solver.settings;
  LammGrid& g = solver.grid;
  const std::vector<double> radii = MobilityKernelRadii(v, D_, gridSizeInUse_);
  const int n = static_cast<int>(radii.size()) - 1;
  if (!g.GridAllocated || g.AllocatedGridSize != n) {
    FreeLammArrays();
    st.gridSize.inUse = n;
    if (!AllocLammArrays()) return 1;
  }
  std::copy(radii.begin() + 1, radii.end(), g.Radius + 1);
  nodes = n;
  LammRunState& rs = solver.run;
  for (int p = 1; p <= n; ++p) g.Concentration[p] = 1.0;
  rs.s = rs.sStar = v;
  rs.D = D_;
  rs.worker = worker ? 1 : 0;
  rs.boundaryStepFraction = kBoundaryStepFraction;
  SetAccelerationPhase();
  SetLammSolverStartState(nullptr, true);
  // Every scan gets its kernel row: a model simulated before from its first
  // scan as the initial distribution leaves the first simulated scan at 2.
  rs.scanCounter = 1;
  rs.nextScanTime = rs.pendingTime = ScanTime(1);
  rs.gridOutput = WorkBlock().lammSolutions[i];
  SimulateStaticGridLamm();
  rs.gridOutput = nullptr;
  if (st.singularMatrixError) return 3;
  if (st.discretizationError) return 2;
  return 0;
}

int CMobilityKernels::Solve(int i, double v) {
  if (!ready_) return 1;
  return SolveOn(*own_, i, v, false, nodes_);
}

int CMobilityKernels::SolveList(int n, const double* v, int threads,
                                const std::function<void(int)>& progress) {
  if (!ready_) return 1;
  if (n < 1) return 0;
  std::atomic<bool>& stop = platform::StopFlag();
  std::vector<int> codes(static_cast<size_t>(n) + 1, 0);
  threads = std::clamp(threads, 1, n);
  if (threads == 1) {
    for (int i = 1; i <= n && !stop.load(); ++i) {
      if (progress) progress(i);
      codes[i] = Solve(i, v[i]);
      if (codes[i] == 1) return 1;
    }
  } else {
    // The quickest velocities first: they need the most nodes and steps, and
    // the slow ones fill the gaps at the end, so the workers finish together.
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 1);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return std::fabs(v[a]) > std::fabs(v[b]); });
    std::vector<std::unique_ptr<Solver>> solvers(static_cast<size_t>(threads) + 1);
    for (auto& solver : solvers) solver = NewSolver();
    std::atomic<int> next{0}, current{0};
    std::atomic<bool> noArrays{false};
    std::function<void(int)> work = [&](int t) {
      Solver& solver = *solvers[static_cast<size_t>(t)];
      int nodes = 0;
      for (int q = next++; q < n && !stop.load() && !noArrays.load(); q = next++) {
        const int i = order[static_cast<size_t>(q)];
        current = i;
        codes[static_cast<size_t>(i)] = SolveOn(solver, i, v[i], true, nodes);
        if (codes[static_cast<size_t>(i)] == 1) noArrays = true;
      }
    };
    int shown = 0;
    std::function<void()> poll = [&] {
      if (KeyPressed() || platform::StopDeadlinePassed()) stop = true;
      const int i = current.load();
      if (progress && i != 0 && i != shown) progress(shown = i);
    };
    NeqThreadPool::Instance().Run(threads, work, poll);
    if (noArrays.load()) return 1;
  }
  for (int i = 1; i <= n; ++i)
    if (codes[static_cast<size_t>(i)] != 0) return codes[static_cast<size_t>(i)];
  return 0;
}

void ComputeMigrationStepKernel(int i, double v) {
  // Migration is linear whatever geometry the sedimentation models use.
  SharpBoundaryState b;
  b.k = v * kCmPerMicron;
  const ScanSet& sc = CurrentScanSet();
  const double t0 = StartTime();
  for (int p = 1; p <= sc.count; ++p)
    ContiShapeModelCurve(b, true, 1.0f, ScanTime(p) - t0, sc.grid, KernelRow(i, sc.order[p]), sc.gridLength);
}
