#include "models/reacting/hetero_association.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "lamm/element_integrals.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/quiet_steps.h"
#include "models/reacting/hetero_association_step.h"
#include "models/reacting/mass_action.h"
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

// The 30 rows of the flux tables: the first ten nodes, ten in the middle
// and the last ten; on a grid of fewer than 30 nodes each node once, in order.
int FluxTableRows(int N, int rows[30]) {
  const int mid = (N + 10) / 2;
  int n = 0;
  for (int i = 1; i <= 10; ++i) rows[n++] = i;
  for (int i = mid + 1; i <= mid + 10; ++i) rows[n++] = i;
  for (int i = N - 9; i <= N; ++i) rows[n++] = i;
  std::sort(rows, rows + n);
  int* end = std::unique(rows, rows + n);
  end = std::remove_if(rows, end, [N](int i) { return i < 1 || i > N; });
  return static_cast<int>(end - rows);
}

// One table row per node, the node number padded as the layout wants it.
void DrawFluxTable(bool provisional) {
  LammRunState& rs = CurrentLammRunState();
  LammProgressWindow* w = rs.progressWindow;
  if (!w) return;  // nobody to show it to, nobody to wait for
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return;
  const int N = CurrentLammGrid().AllocatedGridSize;
  const double* a = provisional ? h.cATmp : h.cA;
  const double* b = provisional ? h.cBTmp : h.cB;
  char text[512];
  std::snprintf(text, sizeof text, "%.0f sec", rs.t);
  w->DrawText(10, 50, text);
  w->DrawText(10, 70,
              provisional
                  ? "#:    -     FreeATemp -     OldA    -      FluxA     -     FreeBTemp  -     OldB     -     "
                    "FluxB    -      dFlux    -   Complex"
                  : "#:    -     FreeA    -     OldA    -      FluxA     -     FreeB     -     OldB     -      "
                    "FluxB    -      dFlux    -   Complex");
  int rows[30];
  const int n = FluxTableRows(N, rows);
  int y = 70;
  for (int r = 0; r < n; ++r) {
    y += 15;
    if (r == 10 || r == 20) y += 10;
    const int i = rows[r];
    const char* pad = i < 10 ? "__" : i < 100 ? "_" : "";
    std::snprintf(text, sizeof text,
                  "%s%d:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f ", pad, i, a[i],
                  h.cAOld[i], h.fluxA[i], b[i], h.cBOld[i], h.fluxB[i], h.fluxA[i] - h.fluxB[i], h.cAB[i]);
    w->DrawText(10, y, text);
  }
  y += 30;
  const double amountAB = HeteroAssociationSectorAmount(h.cAB);
  const double amountA = HeteroAssociationSectorAmount(h.cA), amountB = HeteroAssociationSectorAmount(h.cB);
  std::snprintf(text, sizeof text, "sum:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f", amountA,
                HeteroAssociationSectorAmount(h.cAOld), HeteroAssociationSectorAmount(h.fluxA), amountB,
                HeteroAssociationSectorAmount(h.cBOld), HeteroAssociationSectorAmount(h.fluxB), amountAB);
  w->DrawText(10, y, text);
  y += 15;
  std::snprintf(text, sizeof text, "total A  = %3.6f    total B = %3.6f; assymfact = %e", amountA + amountAB,
                amountB + amountAB, st.meanFluxDiff);
  w->DrawText(10, y, text);

  // Keys: a key pressed during the run makes the next table wait; then "r"
  // runs on, "s" stops, any other key lets this one table go.
  const WindowHolder holder = w;
  int key = ReadKeyChar(holder);
  if (!st.pauseFlag) {
    if (key != -1) st.pauseFlag = 1;
    return;
  }
  while (key == -1) {
    if (platform::StopFlag()) return;  // the mouse stops a waiting run too
    WaitSecondsOrKey(holder, 0.1f);
    key = ReadKeyChar(holder);
  }
  if (key == 'r') {
    st.pauseFlag = 0;
  } else if (key == 's') {
    st.pauseFlag = 0;
    rs.running = 0;
    platform::StopFlag() = true;
  }
}

}  // namespace

HeteroAssociationState& CurrentHeteroAssociationState() {
  static HeteroAssociationState state;
  return state;
}

bool BindHeteroAssociationArrays(HeteroAssociationArrays& out) {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated || !g.ReactingArrays[0] || !g.ReactingArrays[33]) return false;
  double** r = g.ReactingArrays;
  double** named[] = {&out.cA,    &out.cB,    &out.cAOld,  &out.cBOld,  &out.cAOlder, &out.cBOlder, &out.fluxA,
                      &out.fluxB, &out.cATmp, &out.cBTmp,  &out.cAB,    &out.avg,     &out.rate,    &out.SASub,
                      &out.SADiag, &out.SASup, &out.SBSub, &out.SBDiag, &out.SBSup};
  int k = 0;
  for (double** p : named) *p = r[k++];
  for (double*& p : out.QK) p = r[k++];
  for (double*& p : out.TK) p = r[k++];
  out.solve = r[k];
  return true;
}

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

double HeteroAssociationSectorAmount(const double* values) {
  const LammGrid& g = CurrentLammGrid();
  const int N = g.AllocatedGridSize;
  const double* xi = g.FrameRadius ? g.FrameRadius : g.Radius;
  double sum = 0;
  for (int i = 1; i <= N; ++i) sum += values[i] * CalcElementIntegral1(xi, N, i);
  return kSectorFactor * sum;
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

void SetHeteroAssociationPauseFlag() { CurrentHeteroAssociationState().pauseFlag = 1; }

void ShowHeteroAssociationFluxTable() { DrawFluxTable(false); }
void ShowHeteroAssociationFluxTableTemp() { DrawFluxTable(true); }

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
