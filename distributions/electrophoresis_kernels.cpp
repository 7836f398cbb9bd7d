#include "distributions/electrophoresis_kernels.h"

#include <algorithm>
#include <cmath>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/sharp_boundary.h"
#include "distributions/work_blocks.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_run_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/species_simulation.h"
#include "fit/static_grid_lamm.h"
#include "lamm/lamm_settings.h"
#include "platform/user_interface.h"

namespace {

constexpr double kCmPerMicron = 1e-4;
// Largest relative change per time step: the boundary of a constant force
// keeps its shape, and the phase error of larger steps shows in it.
constexpr double kStepTolerance = 0.5;

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
  platform::UI().MessageBox("", text, platform::BoxButtons::Ok, platform::BoxIcon::Information);
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

struct CMobilityKernels::Saved {
  LammSolverSettings settings;
  LammRunState runState;
  unsigned char electrophoresis = 0;
  bool gridAllocated = false;
};

CMobilityKernels::CMobilityKernels(double D) : D_(D), saved_(std::make_unique<Saved>()) {
  LammSolverSettings& st = LammSettings();
  LammGrid& g = CurrentLammGrid();
  saved_->settings = st;
  saved_->runState = CurrentLammRunState();
  saved_->electrophoresis = gModelSelectorFlags.ElectrophoresisLammModel;
  saved_->gridAllocated = g.GridAllocated != 0;
  // The planar solver is the static grid's; the grid is even from the
  // meniscus to the bottom.
  gModelSelectorFlags.ElectrophoresisLammModel = 1;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.automaticAlgorithm = 0;
  st.workingMaxDcOverC = std::min(st.workingMaxDcOverC, kStepTolerance);
  g.TwoZoneGridRequested = 0;
  ready_ = D > 0.0 && gModelParams.bottom > gModelParams.meniscus;
}

CMobilityKernels::~CMobilityKernels() {
  LammSolverSettings& st = LammSettings();
  const Saved& s = *saved_;
  FreeLammArrays();
  st.claverieAlgorithm = s.settings.claverieAlgorithm;
  st.movingHatAlgorithm = s.settings.movingHatAlgorithm;
  st.automaticAlgorithm = s.settings.automaticAlgorithm;
  st.workingMaxDcOverC = s.settings.workingMaxDcOverC;
  st.gridSizeInUse = s.settings.gridSizeInUse;
  CurrentLammRunState() = s.runState;
  gModelSelectorFlags.ElectrophoresisLammModel = s.electrophoresis;
  if (s.gridAllocated) AllocLammArrays();
}

int CMobilityKernels::Solve(int i, double v) {
  if (!ready_) return 1;
  LammSolverSettings& st = LammSettings();
  LammGrid& g = CurrentLammGrid();
  const int n = ElectrophoresisGridSize(v, D_, saved_->settings.gridSizeInUse);
  if (!g.GridAllocated || g.AllocatedGridSize != n) {
    FreeLammArrays();
    st.gridSizeInUse = n;
    if (!AllocLammArrays()) return 1;
  }
  nodes_ = n;
  LammRunState& rs = CurrentLammRunState();
  for (int p = 1; p <= n; ++p) g.Concentration[p] = 1.0;
  rs.s = rs.sStar = v;
  rs.D = D_;
  SetAccelerationPhase();
  SetLammSolverStartState(nullptr, true);
  rs.gridOutput = WorkBlock().lammSolutions[i];
  SimulateStaticGridLamm();
  rs.gridOutput = nullptr;
  if (st.singularMatrixError) return 3;
  if (st.discretizationError) return 2;
  return 0;
}

void ComputeMigrationStepKernel(int i, double v) {
  ContiSettings& cs = Conti();
  SharpBoundaryState& b = SharpBoundary();
  const SharpBoundaryState before = b;
  const unsigned char linear = cs.linearElectrophoresis;
  b = SharpBoundaryState{};
  b.k = v * kCmPerMicron;
  cs.linearElectrophoresis = 1;
  const ScanSet& sc = CurrentScanSet();
  const double t0 = StartTime();
  for (int p = 1; p <= sc.count; ++p)
    ContiShapeModelCurve(1.0f, ScanTime(p) - t0, sc.grid, KernelRow(i, sc.order[p]), sc.gridLength);
  cs.linearElectrophoresis = linear;
  b = before;
}
