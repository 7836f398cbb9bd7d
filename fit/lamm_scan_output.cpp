#include "fit/lamm_scan_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "lamm/solver_display.h"
#include "lamm/lamm_grid_arrays.h"
#include "numerics/constants.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/signal_shapes.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/regrid.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

void DrawAt(int y, const char* text) {
  LammProgressWindow* w = CurrentLammRunState().progressWindow;
  if (w) w->DrawText(10, y, text);
}

void ResetSlices(LammRunState& rs) {
  rs.sliceCount = 0;
  rs.sliceTime = 0;
  rs.sliceNode = 0;
}

// Radial resolution of absorbance optics, applied to a simulated scan.
void AverageIfRequested(int n, const float* r, float* y) {
  const LammSolverSettings& st = LammSettings();
  if (CurrentDataTypeFlags().absorbance && st.simulateRadialResolution)
    AverageAbsorbanceOverWindow(n, st.convolutionRange, r, y);
}
}  // namespace

double ScanTimeAt(int position) {
  const ScanSet& ss = CurrentScanSet();
  const ScanRecord& rec = ss.records[ss.order[position]];
  return LammSettings().rampRotorSpeed && !CurrentDataTypeFlags().dls ? rec.time : rec.timeRead;
}

bool CurvesOnCommonGrid() {
  return gModelSelectorFlags.CSModel || gFitEngineState.fitTINoise ||
         gModelParams.concentrationsLinear || gModelParams.riNoiseFit;
}

void EnsureSpeciesCurves(int k) {
  ScanSet& ss = CurrentScanSet();
  SpeciesScanArrays& sp = ss.species[k];
  if (ss.gridLength < 1) return;
  const bool sized = static_cast<int>(sp.onGridPerScan.size()) == ss.count + 1 &&
                     ss.speciesGridLength == ss.gridLength;
  if (sized) {
    bool complete = true;
    for (int j = 1; j <= ss.count; ++j) complete = complete && sp.onGridPerScan[j];
    if (complete) return;
  }
  for (float*& a : sp.onGridPerScan)
    if (a) free_vector(a, 1, ss.speciesGridLength);
  sp.onGridPerScan.assign(static_cast<size_t>(ss.count) + 1, nullptr);
  for (int j = 1; j <= ss.count; ++j) sp.onGridPerScan[j] = vector(1, ss.gridLength);
  ss.speciesScanCount = ss.count;
  ss.speciesGridLength = ss.gridLength;
}

double LastScanTime() {
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1) return CurrentLammRunState().t;
  return ScanTimeAt(ss.count);
}

void ShowStepText() {
  char text[64];
  std::snprintf(text, sizeof text, "dt = %f sec  ", CurrentLammRunState().dt);
  DrawAt(70, text);
}

void ShowIterationText() {
  char text[64];
  std::snprintf(text, sizeof text, "#it = %d   ", CurrentLammRunState().iteration);
  DrawAt(90, text);
}

void ShowTimeText() {
  const LammRunState& rs = CurrentLammRunState();
  char text[96];
  if (LammSettings().massConservationCheck)
    std::snprintf(text, sizeof text, "t = %.0f sec (M=%f) ", rs.t, rs.totalAmount);
  else
    std::snprintf(text, sizeof text, "t = %.0f sec  ", rs.t);
  DrawAt(110, text);
}

void ShowStepResultText(float x) {
  char text[64];
  std::snprintf(text, sizeof text, "ri=%f  ", x);
  DrawAt(130, text);
}

void ShowSimulationProgress(double x) {
  LammRunState& rs = CurrentLammRunState();
  const LammSolverSettings& st = LammSettings();
  ScanSet& ss = CurrentScanSet();
  LammGrid& g = CurrentLammGrid();
  if (st.liveDisplay && StepLinesDue(rs.t >= rs.nextScanTime && rs.scanCounter >= ss.count)) {
    ShowIterationText();
    ShowStepText();
    ShowTimeText();
    ShowStepResultText(static_cast<float>(x));
  }
  // A fit out of time ends the evaluation under way at its next step, even
  // one that would never reach its next scan.
  if (platform::StopDeadlinePassed()) {
    rs.running = 0;
    platform::StopFlag() = true;
    return;
  }
  if (rs.t < rs.nextScanTime) {
    ResetSlices(rs);
    return;
  }
  const ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const bool reacting = gModelSelectorFlags.Model267 != 0;
  const bool keysTaken = reacting && hooks.heteroAssociationKeysTaken && hooks.heteroAssociationKeysTaken();
  if (rs.worker) {
    if (platform::StopFlag().load()) rs.running = 0;
  } else if (!keysTaken && KeyPressed()) {
    rs.running = 0;
    platform::StopFlag() = true;
  }
  if (rs.scanCounter < 1 || rs.scanCounter > ss.count) return;
  const int j = ss.order[rs.scanCounter];
  if (reacting) {
    if (hooks.heteroAssociationSignal) hooks.heteroAssociationSignal();
  } else if (st.movingHatAlgorithm) {
    UpdateMovingGridRadii();
  }

  const int N = g.AllocatedGridSize;
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double v = st.scanVelocity;
  bool complete = true;
  // As many slices as the solver object takes for this species (its rule).
  double slices = 0;
  if (v > 0 && CurrentDataTypeFlags().absorbance && st.simulateTimeResolution) {
    const double omega = std::max(rs.fullSpeed, rs.rpm) * kOmegaPerRpm;
    const double distance = rs.s >= 0 ? b - ss.rightFitLimit : ss.leftFitLimit - m;
    slices = CLammIdeal::FiniteScanSegments(rs.s, rs.D, omega * omega, m, b, v,
                                            ss.records[ss.order[1]].timeRead, distance);
  }
  if (slices <= 2) {
    for (int i = 1; i <= N; ++i) g.DisplayProfile[i] = g.Concentration[i];
  } else {
    const double duration = (b - m) / (v / 60);
    const double tau = duration / slices;
    const double Ts = rs.nextScanTime;
    auto reach = [&](int k) { return m + (v / 60) * (k + 1) * tau; };
    const int S = static_cast<int>(slices);
    if (rs.sliceCount == 0) {
      const double r0 = reach(0);
      int n = 0;
      while (n < N && g.Radius[n + 1] < r0) ++n;
      for (int i = 1; i <= n; ++i) g.DisplayProfile[i] = g.Concentration[i];
      for (int i = n + 1; i <= N; ++i) g.DisplayProfile[i] = 0;
      rs.sliceNode = n;
      rs.sliceTime = rs.t - Ts + tau;
      rs.sliceCount = 1;
      complete = false;
    } else if (rs.sliceCount < S - 1) {
      if (rs.t >= Ts + rs.sliceTime + tau - 1e-10) {
        const double rk = reach(rs.sliceCount);
        int i = rs.sliceNode + 1;
        for (; i <= N && g.Radius[i] < rk; ++i) g.DisplayProfile[i] = g.Concentration[i];
        rs.sliceNode = i - 1;
        rs.sliceTime += tau;
        ++rs.sliceCount;
      }
      complete = false;
    } else if (rs.t < Ts + rs.sliceTime + tau - 1e-10) {
      complete = false;
    } else {
      for (int i = rs.sliceNode + 1; i <= N; ++i) g.DisplayProfile[i] = g.Concentration[i];
      rs.sliceNode = N;
      rs.sliceTime += tau;
      ++rs.sliceCount;
    }
    if (!complete) {
      rs.pendingTime = Ts + rs.sliceTime + tau;
      rs.pendingFlag = 1;
      rs.profilePending = 1;
      return;
    }
  }
  rs.profilePending = 0;

  const int k = rs.species;
  if (rs.gridOutput) {
    float* curve = rs.gridOutput[j];
    CellProfileOntoRadii(ss.gridLength, ss.grid, curve, N, g.Radius, g.DisplayProfile);
    AverageIfRequested(ss.gridLength, ss.grid, curve);
  } else if (!CurvesOnCommonGrid()) {
    if (static_cast<int>(ss.work.size()) < ss.count + 1) ss.work.resize(ss.count + 1, nullptr);
    const int n = ss.points[j];
    if (!ss.work[j]) ss.work[j] = vector(1, n);
    float* work = ss.work[j];
    for (int p = 1; p <= n; ++p) work[p] = 0.0f;
    CellProfileOntoRadii(n, ss.radii[j], work, N, g.Radius, g.DisplayProfile);
    AverageIfRequested(n, ss.radii[j], work);
    float* model = ss.model[j];
    for (int p = 1; p <= n; ++p) model[p] += work[p];
    if (rs.progressWindow && st.liveDisplay) CurrentModelEvaluationHooks().drawScanModel(j, k);
  } else if (k >= 1 && k <= kComponentSlots) {
    EnsureSpeciesCurves(k);
    float* curve = ss.species[k].onGridPerScan[j];
    CellProfileOntoRadii(ss.gridLength, ss.grid, curve, N, g.Radius, g.DisplayProfile);
    AverageIfRequested(ss.gridLength, ss.grid, curve);
  }

  ShowCosoluteAtScan(j, rs.progressWindow != nullptr);

  if (rs.scanCounter < ss.count) {
    ++rs.scanCounter;
    rs.nextScanTime = ScanTimeAt(rs.scanCounter);
    rs.pendingTime = rs.nextScanTime;
    rs.pendingFlag = 1;
    ResetSlices(rs);
  } else if (rs.continueAfterLastScan) {
    rs.nextScanTime = 1e8;
    rs.pendingFlag = 0;
  } else {
    rs.running = 0;
  }
}
