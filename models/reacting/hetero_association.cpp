#include "models/reacting/hetero_association.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "lamm/coefficients/mass_action.h"
#include "lamm/element_integrals.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/quiet_steps.h"
#include "models/reacting/hetero_association_step.h"
#include "numerics/constants.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

constexpr double kMaxLogK = 30.0;
constexpr double kStaticFramePeriod = 1e10;  // s

// The loading total of one component: signal over extinction, nothing for
// a signal or extinction that is not positive.
double LoadingTotal(float load, float eps) {
  if (!(eps > 0) || !(load > 0) || !std::isfinite(load) || !std::isfinite(eps)) return 0.0;
  return static_cast<double>(load) / eps;
}

// K and the complex of the loading mixture, arrays untouched.
void SolveLoadingEquilibrium(HeteroAssociationState& st) {
  double logK = st.logK;
  if (std::isnan(logK)) logK = 0;
  logK = std::clamp(logK, -kMaxLogK, kMaxLogK);
  st.K = std::pow(10.0, logK);
  st.a0 = LoadingTotal(st.loadA, st.epsA);
  st.b0 = LoadingTotal(st.loadB, st.epsB);
  st.cAB0 = SmallerComplexRoot(st.a0, st.b0, st.K);
  st.epsAB = static_cast<double>(st.epsA) + st.epsB;
}

}  // namespace

void InitHeteroAssociationEquilibrium() {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  SolveLoadingEquilibrium(st);
  st.dtPrev = 0;
  HeteroAssociationArrays h;
  LammGrid& g = CurrentLammGrid();
  if (!BindHeteroAssociationArrays(h) || !g.Concentration) return;
  const double freeA = std::max(0.0, st.a0 - st.cAB0), freeB = std::max(0.0, st.b0 - st.cAB0);
  for (int i = 1; i <= g.AllocatedGridSize; ++i) {
    h.cAOld[i] = h.cA[i] = h.cAOlder[i] = freeA;
    h.cBOld[i] = h.cB[i] = h.cBOlder[i] = freeB;
  }
  ComputeHeteroAssociationSignal();
}

void ComputeHeteroAssociationSignal() {
  const HeteroAssociationState& st = CurrentHeteroAssociationState();
  HeteroAssociationArrays h;
  LammGrid& g = CurrentLammGrid();
  if (!BindHeteroAssociationArrays(h)) return;
  for (int i = 1; i <= g.AllocatedGridSize; ++i) {
    const double complex = h.cA[i] * h.cB[i] * st.K;
    g.Concentration[i] = st.epsA * h.cA[i] + st.epsB * h.cB[i] + st.epsAB * complex;
    if (st.showComplex) h.cAB[i] = complex;
  }
}

void SetupHeteroAssociationGrid() {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  LammGrid& g = CurrentLammGrid();
  const LammRunState& rs = CurrentLammRunState();
  const int N = g.AllocatedGridSize;
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  st.omega2 = SvedbergOmega2(rs.rpm);
  st.frameRate = st.omega2 * st.sFrame;
  st.t0 = rs.t;
  st.framePeriod = kStaticFramePeriod;
  for (double* r : {g.Radius, g.FrameRadius}) {
    if (!r) continue;
    r[1] = m;
    r[N] = b;
    for (int i = 2; i <= N - 1; ++i) r[i] = m * std::pow(b / m, (i - 1.5) / (N - 1));
  }
}

double HeteroAssociationStepControl() {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  LammRunState& rs = CurrentLammRunState();
  LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return 1.0;
  double dt = st.dtFix;
  const bool ramping = LammSettings().rampRotorSpeed && rs.accelerating;
  if (ramping) {
    // While the rotor accelerates the steps are short and end with the
    // acceleration; the matrices follow the speed of each step.
    dt = std::min(dt, rs.maxStepAccelerating);
    if (rs.t + dt > rs.accelerationEnd) dt = rs.accelerationEnd - rs.t;
  }
  if (rs.t + dt > st.t0 + st.framePeriod) dt = st.t0 + st.framePeriod - rs.t;
  if (rs.pendingFlag && rs.t + dt > rs.pendingTime) {
    rs.pendingFlag = 0;
    dt = rs.pendingTime - rs.t;
  }
  if (!(dt > 0)) {
    rs.dt = 1.0;
    return 1.0;
  }
  // The state rolls only when a step is taken, so that the next predictor
  // still sees the last real step.
  const int N = g.AllocatedGridSize;
  for (int i = 1; i <= N; ++i) {
    h.cAOlder[i] = h.cAOld[i];
    h.cBOlder[i] = h.cBOld[i];
    h.cAOld[i] = h.cA[i];
    h.cBOld[i] = h.cB[i];
    g.PreviousConcentration[i] = g.Concentration[i];
  }
  rs.dt = dt;
  if (ramping) SetHeteroAssociationSpeed(RotorSpeedDuringAcceleration(rs.t, dt));
  const bool first = st.dtPrev == 0;
  HeteroAssociationStep();
  const LammSolverSettings& settings = LammSettings();
  if (settings.singularMatrixError || settings.discretizationError) return 1.0;
  AdvanceHeteroAssociationTime();
  return first ? dt : 1.0;
}

void AdvanceHeteroAssociationTime() {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  const double dt = CurrentLammRunState().dt;
  st.dtPrev = dt;
  // At the end of the acceleration the rotor is at full speed for good.
  if (AdvanceRunClock(dt)) SetHeteroAssociationSpeed(CurrentLammRunState().rpm);
  ComputeHeteroAssociationSignal();
}

void SetHeteroAssociationSpeed(double rpm) {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  CurrentLammRunState().rpm = rpm;
  const double omega2 = SvedbergOmega2(rpm);
  if (omega2 == st.omega2) return;
  st.omega2 = omega2;
  st.frameRate = st.omega2 * st.sFrame;
  AssembleHeteroAssociationMatrices();
  HalveHeteroAssociationMatrices();
}

void HeteroAssociationTotals(double* totalA, double* totalB) {
  HeteroAssociationArrays h;
  *totalA = *totalB = 0;
  if (!BindHeteroAssociationArrays(h)) return;
  const int N = CurrentLammGrid().AllocatedGridSize;
  // The complex K a b integrated through its tensor: the column sums of QK
  // are int phi_j phi_k r dr.
  static const int dj[7] = {-1, -1, 0, 0, 0, 1, 1};
  static const int dk[7] = {-1, 0, -1, 0, 1, 0, 1};
  double complex = 0;
  for (int i = 1; i <= N; ++i)
    for (int p = 0; p < 7; ++p) {
      const int j = i + dj[p], k = i + dk[p];
      if (j >= 1 && j <= N && k >= 1 && k <= N) complex += h.QK[p][i] * h.cA[j] * h.cB[k];
    }
  complex *= kSectorFactor;
  *totalA = HeteroAssociationSectorAmount(h.cA) + complex;
  *totalB = HeteroAssociationSectorAmount(h.cB) + complex;
}

void SimulateHeteroAssociationLamm() {
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  LammSolverSettings& settings = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  // Each species keeps its own coefficients; the frame stays static.
  st.sFrame = 0;
  // The tables wait only once somebody pressed a key; with nobody watching
  // (no progress window) the scan output's key interrupt stays in force.
  st.pauseFlag = 0;
  st.noInterruptFlag = rs.progressWindow ? 1 : 0;
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h) || CurrentLammGrid().AllocatedGridSize < 3) return;
  InitHeteroAssociationEquilibrium();
  SetupHeteroAssociationGrid();
  AssembleHeteroAssociationMatrices();
  HalveHeteroAssociationMatrices();
  settings.singularMatrixError = settings.discretizationError = 0;
  st.dtFix = settings.workingMaxDcOverC > 0 ? settings.workingMaxDcOverC : 1.0;
  if (st.dtFix >= st.framePeriod) st.dtFix = st.framePeriod;
  rs.dt = 1.0;
  CQuietSteps quiet;
  while (rs.running) {
    if (settings.singularMatrixError || settings.discretizationError || platform::StopFlag()) break;
    const double before = rs.dt;
    const double value = HeteroAssociationStepControl();
    if (settings.singularMatrixError || settings.discretizationError) break;
    ShowSimulationProgress(value);
    const double remaining = std::max(0.0, LastScanTime() - rs.t);
    if (quiet.Count(IsQuietStep(before, value / before, settings.equilibriumThreshold, remaining)))
      StopAndDeliverRemainingScans();
  }
}
