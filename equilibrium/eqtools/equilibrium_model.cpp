#include "equilibrium/eqtools/equilibrium_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/nnls.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_end.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "numerics/regrid.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

constexpr double kGasConstant = 8.31447e7;  // erg / (mol K)
constexpr double kFailedRmsd = 1e10;
// exp() of more than this no longer fits a float basis row.
constexpr double kMaxExponent = 80.0;
// Relative spread of the simplex values at which a minimisation ends. The
// rmsd of equilibrium data can be nearly flat in Mb over a wide range (a
// TI profile shared by all scans takes what the scans have in common), so a
// loose spread stops the simplex on the slope, several percent from the
// minimum; an evaluation costs one small linear solve, so be strict.
constexpr float kSimplexTolerance = 1e-6f;

int gBasisCount = 0;  // scans the blocks were made for
int gGridLength = 0;

float* Basis(int k) { return KernelRow(k, 1); }

void SetFailed() {
  NormalEquationBlock& b = NeqBlock();
  for (int k = 1; k <= gBasisCount; ++k) b.solution[k] = 0.0;
  EqModelState().lastRmsd = kFailedRmsd;
  gFitEngineState.currentRmsd = static_cast<float>(kFailedRmsd);
}

}  // namespace

EquilibriumModelState& EqModelState() {
  static EquilibriumModelState state;
  return state;
}

double EquilibriumExponent(double r, double mb, double rpm, double celsius, double r0) {
  const double omega = 2.0 * static_cast<double>(kPiF) * rpm / 60.0;
  return (r * r - r0 * r0) * mb * omega * omega / (2.0 * kGasConstant * (celsius + 273.15));
}

double EquilibriumExponential(double r, double mb, double rpm, double celsius, double r0) {
  return std::exp(EquilibriumExponent(r, mb, rpm, celsius, r0));
}

bool CurrentBuoyantMass(double celsius, double* mb) {
  const ModelParams& p = gModelParams;
  if (gFitEngineState.molarMassParameters) {
    *mb = (1.0 - gSolutionConditions.vbarRho) * p.massOrD[1];
    return true;
  }
  // D is kept in units of 1e-7 cm^2/s.
  const double d = static_cast<double>(p.massOrD[1]) * 1e-7;
  if (!(d > 0.0)) return false;
  *mb = p.s[1] * 1e-13 * (celsius + 273.15) * 8.31451e7 / d;
  return true;
}

bool AllocEquilibriumWorkArrays() {
  const ScanSet& s = CurrentScanSet();
  const int n = s.count, r = s.gridLength;
  if (n < 1 || r < 1) return false;
  if (!AllocDistributionWorkArrays(n, 1, r)) return false;
  if (!AllocNormalEquationBlock(n, n, r)) {
    FreeDistributionWorkArrays(n);
    return false;
  }
  NeqBlock().fixedComponent = false;
  gBasisCount = n;
  gGridLength = r;
  return true;
}

void FreeEquilibriumWorkArrays() {
  if (gBasisCount < 1) return;
  FreeNormalEquationBlock();
  FreeDistributionWorkArrays(gBasisCount);
  gBasisCount = 0;
}

// A = (I - J/n) o G and b_j = sum_i b~_j(i) y~_j(i) with G the Gram matrix of
// the centred bases and y~ the double-centred data: the sums over the scans
// of the written triple loop collapse, so one pass costs n^2 m, not n^3 m.
// Without TI elimination (one scan) A is diagonal and y~ row-centred.
void BuildEquilibriumNormalEquations() {
  const ScanSet& s = CurrentScanSet();
  NormalEquationBlock& b = NeqBlock();
  const int n = gBasisCount, gL = s.firstGridPoint, gR = s.lastGridPoint;
  const int m = gR - gL + 1;
  const bool ti = EqModelState().tiEliminated;
  double all = 0;
  for (int k = 1; k <= n; ++k) {
    double ys = 0, bs = 0;
    const float* y = s.gridSignals[k];
    const float* bk = Basis(k);
    for (int i = gL; i <= gR; ++i) {
      ys += y[i];
      bs += bk[i];
    }
    b.dataScanMean[k] = ys / m;
    b.kernelMean[k] = bs / m;
    all += ys;
  }
  b.dataMean = all / (static_cast<double>(m) * n);
  for (int i = gL; i <= gR; ++i) {
    double sum = 0;
    for (int k = 1; k <= n; ++k) sum += s.gridSignals[k][i];
    b.dataRadialMean[i] = sum / n;
  }
  // Centred bases and data, row by row.
  std::vector<double> bc(static_cast<size_t>(n) * m), yc(static_cast<size_t>(n) * m);
  for (int k = 1; k <= n; ++k) {
    const float* y = s.gridSignals[k];
    const float* bk = Basis(k);
    double* brow = &bc[static_cast<size_t>(k - 1) * m];
    double* yrow = &yc[static_cast<size_t>(k - 1) * m];
    for (int i = gL; i <= gR; ++i) {
      brow[i - gL] = bk[i] - b.kernelMean[k];
      yrow[i - gL] = y[i] - b.dataScanMean[k] - (ti ? b.dataRadialMean[i] - b.dataMean : 0.0);
    }
  }
  double sumSquares = 0;
  for (double v : yc) sumSquares += v * v;
  b.sumSquaresData = sumSquares;
  const double inv = ti ? 1.0 / n : 0.0;
  for (int j = 1; j <= n; ++j) {
    const double* bj = &bc[static_cast<size_t>(j - 1) * m];
    const double* yj = &yc[static_cast<size_t>(j - 1) * m];
    double rhs = 0;
    for (int i = 0; i < m; ++i) rhs += bj[i] * yj[i];
    b.rhs[j] = rhs;
    for (int l = j; l <= n; ++l) {
      const double* bl = &bc[static_cast<size_t>(l - 1) * m];
      double g = 0;
      for (int i = 0; i < m; ++i) g += bj[i] * bl[i];
      const double a = ((j == l ? 1.0 : 0.0) - inv) * g;
      b.normalMatrix[j][l] = b.normalMatrix[l][j] = a;
      b.regularizedMatrix[j][l] = b.regularizedMatrix[l][j] = a;
    }
  }
}

double EquilibriumRmsdFromNormalEquations() {
  const ScanSet& s = CurrentScanSet();
  const NormalEquationBlock& b = NeqBlock();
  const int n = gBasisCount;
  double sum = b.sumSquaresData;
  for (int j = 1; j <= n; ++j) {
    sum -= 2.0 * b.solution[j] * b.rhs[j];
    for (int l = 1; l <= n; ++l) sum += b.solution[j] * b.solution[l] * b.normalMatrix[j][l];
  }
  const double points = static_cast<double>(s.lastGridPoint - s.firstGridPoint + 1) * n;
  return sum > 0.0 ? std::sqrt(sum / points) : 0.0;
}

namespace {

// Mb of scan k's conditions; false when it cannot be formed.
bool ScanBuoyantMass(int k, double* mb) {
  const ScanRecord& rec = CurrentScanSet().records[k];
  return CurrentBuoyantMass(rec.temperature, mb);
}

// The basis row of scan k on [lo, hi]; false when an exponent leaves the
// float range (a wandering fit or an absurd mass).
bool FillBasis(int k, int lo, int hi) {
  const ScanSet& s = CurrentScanSet();
  EquilibriumModelState& st = EqModelState();
  const ScanRecord& rec = s.records[k];
  double mb = 0;
  if (!ScanBuoyantMass(k, &mb)) return false;
  st.mb = mb;
  st.rpm = rec.rpm;
  st.temperature = rec.temperature;
  float* row = Basis(k);
  for (int i = lo; i <= hi; ++i) {
    const double e = EquilibriumExponent(s.grid[i], mb, rec.rpm, rec.temperature, st.r0);
    if (!(std::fabs(e) <= kMaxExponent)) return false;
    row[i] = static_cast<float>(std::exp(e));
  }
  return true;
}

}  // namespace

void ComputeEquilibriumModelAndNoise() {
  ScanSet& s = CurrentScanSet();
  const NormalEquationBlock& b = NeqBlock();
  const EquilibriumModelState& st = EqModelState();
  const int n = gBasisCount, R = s.gridLength, gL = s.firstGridPoint, gR = s.lastGridPoint;
  if (n < 1 || n != s.count) return;
  if (!s.tiNoise) {
    s.tiNoise = vector(1, R);
    std::fill(s.tiNoise + 1, s.tiNoise + R + 1, 0.0f);
  }
  if (!s.riNoise) {
    s.riNoise = vector(1, s.count);
    std::fill(s.riNoise + 1, s.riNoise + s.count + 1, 0.0f);
  }
  for (int k = 1; k <= n; ++k)
    s.riNoise[k] = static_cast<float>(b.dataScanMean[k] - b.solution[k] * b.kernelMean[k]);
  // TI profile on [gL - 2, gR + 2]; outside the grid the radii continue
  // with the grid's step so that the ends extend even at the grid's edges.
  const int lo = gL - 2, hi = gR + 2, len = hi - lo + 1;
  std::vector<float> tr(static_cast<size_t>(len) + 1), tv(static_cast<size_t>(len) + 1);
  const double step = R > 1 ? (s.grid[R] - s.grid[1]) / (R - 1) : 0.001;
  for (int i = lo; i <= hi; ++i) {
    const int c = i < 1 ? 1 : (i > R ? R : i);
    tr[i - lo + 1] = static_cast<float>(s.grid[c] + (i - c) * step);
  }
  for (int i = gL; i <= gR; ++i) {
    double t = 0;
    if (st.tiEliminated) {
      double sum = 0;
      for (int k = 1; k <= n; ++k) sum += (Basis(k)[i] - b.kernelMean[k]) * b.solution[k];
      t = b.dataRadialMean[i] - b.dataMean - sum / n;
    }
    tv[i - lo + 1] = static_cast<float>(t);
  }
  auto extend = [&](int from, int to, int at) {
    const double x1 = tr[from - lo + 1], x2 = tr[to - lo + 1];
    const double y1 = tv[from - lo + 1], y2 = tv[to - lo + 1];
    const double slope = x2 != x1 ? (y2 - y1) / (x2 - x1) : 0.0;
    tv[at - lo + 1] = static_cast<float>(y1 + slope * (tr[at - lo + 1] - x1));
  };
  const int gL1 = gR > gL ? gL + 1 : gL, gR1 = gR > gL ? gR - 1 : gR;
  extend(gL, gL1, gL - 1);
  extend(gL, gL1, gL - 2);
  extend(gR1, gR, gR + 1);
  extend(gR1, gR, gR + 2);
  for (int i = 1; i <= R; ++i) s.tiNoise[i] = (i >= lo && i <= hi) ? tv[i - lo + 1] : 0.0f;

  for (int t = 1; t <= s.count; ++t) {
    const int k = static_cast<int>(s.order.size()) > t && s.order[t] > 0 ? s.order[t] : t;
    if (static_cast<int>(s.model.size()) <= k || !s.model[k] || !s.radii[k]) continue;
    const int np = s.points[k];
    float* model = s.model[k];
    std::fill(model + 1, model + np + 1, 0.0f);
    InterpolateOntoGrid(np, s.radii[k], model, len, tr.data(), tv.data());
    const ScanRecord& rec = s.records[k];
    double mb = 0;
    ScanBuoyantMass(k, &mb);
    const double c = b.solution[k];
    for (int i = 1; i <= np; ++i) {
      const double e = EquilibriumExponent(s.radii[k][i], mb, rec.rpm, rec.temperature, st.r0);
      const double curve = c > 0.0 && e <= kMaxExponent ? c * std::exp(e) : 0.0;
      model[i] = static_cast<float>(model[i] + s.riNoise[k] + curve);
    }
  }
}

double EquilibriumRmsdAtDataPoints() {
  const ScanSet& s = CurrentScanSet();
  double sum = 0;
  long count = 0;
  for (int k = 1; k <= s.count; ++k) {
    if (static_cast<int>(s.model.size()) <= k || !s.model[k] || !s.signals[k]) continue;
    if (static_cast<int>(s.firstFitPoint.size()) <= k || static_cast<int>(s.lastFitPoint.size()) <= k) continue;
    const int last = std::min(s.lastFitPoint[k], s.points[k]);
    for (int i = std::max(s.firstFitPoint[k], 1); i <= last; ++i) {
      const double d = static_cast<double>(s.signals[k][i]) - s.model[k][i];
      sum += d * d;
      ++count;
    }
  }
  // Without fit points of their own the scans are judged on the grid.
  return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : EquilibriumRmsdFromNormalEquations();
}

void FinishEquilibriumRun(FitHost* host) {
  ComputeEquilibriumModelAndNoise();
  FreeEquilibriumWorkArrays();
  if (host) host->DrawFitCurves();
}

bool RunEquilibrium(FitHost* host) {
  ScanSet& s = CurrentScanSet();
  EquilibriumModelState& st = EqModelState();
  ModelParams& p = gModelParams;
  if (s.count < 1) return false;
  if (p.meniscus == 0.0f || p.bottom == 0.0f) {
    platform::Tell("", "set Meniscus and Bottom first");
    return false;
  }
  if (!st.inFit) {
    if (s.leftFitLimit == 0.0f) {
      s.leftFitLimit = p.meniscus;
      CheckLeftFitLimit();
    }
    if (s.rightFitLimit == 0.0f) {
      s.rightFitLimit = p.bottom;
      CheckRightFitLimit();
    }
    UnpackModelParameters();
    if (!gFitEngineState.molarMassParameters && !(p.massOrD[1] > 0.0f)) {
      platform::Tell("", "the diffusion coefficient of species 1 must be positive");
      return false;
    }
    if (!AllocEquilibriumWorkArrays()) return false;
  }
  if (gBasisCount != s.count || s.firstGridPoint < 1 || s.lastGridPoint < s.firstGridPoint) return false;
  // A single scan has no profile of its own apart from its data: eliminating
  // TI noise would take the whole signal with it.
  st.tiEliminated = s.count > 1;
  st.r0 = p.meniscus + 0.5 * (p.bottom - p.meniscus);
  const int gL = s.firstGridPoint, gR = s.lastGridPoint;
  const int lo = gL > 1 ? gL - 1 : gL, hi = gR < s.gridLength ? gR + 1 : gR;
  bool ok = true;
  for (int k = 1; k <= s.count && ok; ++k) ok = FillBasis(k, lo, hi);
  gModelSelectorFlags.EquilibriumModel284 = gModelSelectorFlags.EquilibriumModel284 ||
                                            !gModelSelectorFlags.EquilibriumModel523;
  gFitEngineState.fitTINoise = 1;
  if (ok) {
    BuildEquilibriumNormalEquations();
    ok = NNLS(NeqBlock(), gBasisCount);
  }
  if (!ok) {
    SetFailed();
  } else {
    // The rmsd of the model at the measured points, as the window reports
    // it after Run and Fit alike. On a grid finer than the data the
    // interpolated scans lose part of their noise, and the grid's rmsd is
    // lower by as much as that (and its minimum elsewhere).
    ComputeEquilibriumModelAndNoise();
    st.lastRmsd = EquilibriumRmsdAtDataPoints();
    gFitEngineState.currentRmsd = static_cast<float>(st.lastRmsd);
  }
  if (!st.inFit) FinishEquilibriumRun(host);
  return true;
}

void ShowEquilibriumStep(FitHost* host) {
  if (!host) return;
  const FitEngineState& fs = gFitEngineState;
  const EquilibriumModelState& st = EqModelState();
  char line[128];
  std::snprintf(line, sizeof line, "s%d, step #%d        ", fs.minimiserRuns, fs.evaluationsThisRun);
  host->DrawText(10, 70, line);
  std::snprintf(line, sizeof line, "sosq=%e             ", static_cast<double>(fs.currentRmsd));
  host->DrawText(10, 90, line);
  double mb = st.mb;
  CurrentBuoyantMass(st.temperature, &mb);
  std::snprintf(line, sizeof line, "buoyant molar mass = %.0f        ", mb);
  host->DrawText(10, 110, line);
}

namespace {

int PackEquilibriumFitVector(float* v) {
  const ModelParameterVector& pv = gModelParameterVector;
  if (!pv.F[1]) return 0;
  if (v) v[1] = pv.P[1];
  return 1;
}

void UnpackEquilibriumFitVector(const float* v) {
  if (!gModelParameterVector.F[1]) return;
  gModelParameterVector.P[1] = v[1];
  gModelParams.massOrD[1] = v[1];
}

float EquilibriumFitObjective(float* v, FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  // A key press waits in the queue; a click reaches the fit only as the
  // stop flag the window sets while it is busy (the key poll swallows it).
  const bool key = KeyPressed();
  if (platform::StopFlag().exchange(false) || key) {
    fs.stopRequested = 1;
    // The rest of the fit is its ending: further presses are no new stops.
    platform::HoldInput();
    return static_cast<float>(kFailedRmsd);
  }
  ++fs.evaluationsThisRun;
  UnpackEquilibriumFitVector(v);
  EquilibriumModelState& st = EqModelState();
  st.lastRmsd = kFailedRmsd;
  st.inFit = true;
  RunEquilibrium(host);
  st.inFit = false;
  fs.currentRmsd = static_cast<float>(st.lastRmsd);
  return static_cast<float>(st.lastRmsd);
}

// Every vertex but `best` scattered by 5 % around the best and evaluated.
void ScatterSimplex(FitHost* host, float** p, float* y, int n, int best) {
  for (int i = n + 1; i >= 1; --i) {
    if (i == best) continue;
    for (int j = 1; j <= n; ++j) p[i][j] = p[best][j] + GaussRandom(0.05f * p[best][j]);
    y[i] = EquilibriumFitObjective(p[i], host);
  }
}

// Relative change, absolute where the reference is 0.
bool Settled(double reference, double now, double tolerance) {
  const double d = std::fabs(now - reference);
  return reference != 0.0 ? d / std::fabs(reference) <= tolerance : d <= tolerance;
}

}  // namespace

void FitEquilibrium(FitHost* host) {
  ScanSet& s = CurrentScanSet();
  FitEngineState& fs = gFitEngineState;
  if (s.count < 1) return;
  // The general fit driver's distribution byte stays clear during this fit.
  const unsigned char savedMode = gModelSelectorFlags.DistributionModel;
  gModelSelectorFlags.DistributionModel = 0;
  if (!AllocEquilibriumWorkArrays()) {
    gModelSelectorFlags.DistributionModel = savedMode;
    return;
  }
  // A stop left over from an earlier computation would end this fit at its
  // first vertex, unchanged and without a word.
  fs.stopRequested = 0;
  platform::StopFlag() = false;
  fs.evaluationsThisRun = 0;
  fs.minimiserRuns = 1;
  // Reached unless the fit says otherwise on its way out.
  LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
  ShowEquilibriumStep(host);
  const int n = PackEquilibriumFitVector(nullptr);
  if (n == 0) {
    // Freshly allocated blocks hold no amplitudes: the model curves come
    // from one plain run.
    FreeEquilibriumWorkArrays();
    RunEquilibrium(host);
    gModelSelectorFlags.DistributionModel = savedMode;
    return;
  }
  float** p = matrix(1, n + 1, 1, n);
  float* y = vector(1, n + 1);
  PackEquilibriumFitVector(p[1]);
  for (int i = 2; i <= n + 1; ++i)
    for (int j = 1; j <= n; ++j) p[i][j] = p[1][j] + GaussRandom(0.05f * p[1][j]);
  EvaluateSimplexFromStart(host, p, y, n, EquilibriumFitObjective);
  int evaluations = 0;
  NelderMeadMinimize(nullptr, p, y, n, kSimplexTolerance, EquilibriumFitObjective, &evaluations);
  int best = LowestVertex(y, n);
  std::vector<float> reference(p[best], p[best] + n + 1);  // 1-based
  double referenceValue = y[best];
  UnpackEquilibriumFitVector(p[best]);
  const double tolerance = fs.maxRelativeChange;
  bool settled = false;
  for (int restart = 0; restart < kMaxEquilibriumRestarts && !fs.stopRequested; ++restart) {
    ++fs.minimiserRuns;
    ScatterSimplex(host, p, y, n, best);
    NelderMeadMinimize(nullptr, p, y, n, kSimplexTolerance, EquilibriumFitObjective, &evaluations);
    best = LowestVertex(y, n);
    UnpackEquilibriumFitVector(p[best]);
    ShowEquilibriumStep(host);
    settled = Settled(referenceValue, y[best], tolerance);
    for (int j = 1; j <= n && settled; ++j) settled = Settled(reference[j], p[best][j], tolerance);
    reference.assign(p[best], p[best] + n + 1);
    referenceValue = y[best];
    if (settled) break;
  }
  const bool stopped = fs.stopRequested != 0;
  if (fs.stopRequested) {
    fs.stopRequested = 0;
    AllocEquilibriumWorkArrays();
  }
  {
    platform::InputHold hold;
    EquilibriumFitObjective(reference.data(), host);
  }
  UnpackEquilibriumFitVector(reference.data());
  FinishEquilibriumRun(host);
  free_matrix(p, 1, n + 1, 1, n);
  free_vector(y, 1, n + 1);
  gModelSelectorFlags.DistributionModel = savedMode;
  if (host) host->RequestRepaint();
  ShowEquilibriumStep(host);
  if (stopped) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  } else if (!settled) {
    if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
    RecordFitEnd(host, FitEndKind::Limit,
                 LimitEndText("the fit did not settle in " + std::to_string(kMaxEquilibriumRestarts) + " restarts"));
  }
}
