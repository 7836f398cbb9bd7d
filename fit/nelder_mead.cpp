#include "fit/nelder_mead.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "fit/stalled_steps.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/clock.h"
#include "platform/input_events.h"

int EvaluateSimplexFromStart(FitHost* host, float** p, float* y, int n, FitTarget target) {
  for (int i = 1; i <= n + 1; ++i) y[i] = target(p[i], host);
  return LowestVertex(y, n);
}

int LowestVertex(const float* y, int n) {
  int best = 1;
  for (int i = 2; i <= n + 1; ++i)
    if (y[i] < y[best]) best = i;
  return best;
}

void ComputePsum(float** p, int n, float* psum) {
  for (int j = 1; j <= n; ++j) {
    float sum = 0.0f;
    for (int i = 1; i <= n + 1; ++i) sum += p[i][j];
    psum[j] = sum;
  }
}

float RelativeSpread(float lo, float hi) {
  const float denominator = std::fabs(lo) + std::fabs(hi);
  if (denominator == 0.0f) return 0.0f;
  return 2.0f * std::fabs(hi - lo) / denominator;
}

namespace {

void ShowBestVertex(FitHost* host, float* vertex, float value) {
  if (!host) return;
  FitEngineState& fs = gFitEngineState;
  if (gModelSelectorFlags.DistributionModel) {
    host->ShowBestContiVertex(vertex);
    return;
  }
  UnpackFitVectorForDisplay(vertex);
  fs.currentRmsd = value;
  ShowFitInfo(host);
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(1);
}

}  // namespace

float TryNelderMeadPoint(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target,
                         int ihi, float fac) {
  // The trial vertex is reused from call to call (one-based, n entries).
  static thread_local std::vector<float> trial;
  trial.resize(static_cast<size_t>(n) + 1);
  float* ptry = trial.data();
  const float fac1 = (1.0f - fac) / static_cast<float>(n);
  const float fac2 = fac1 - fac;
  for (int j = 1; j <= n; ++j) ptry[j] = psum[j] * fac1 - p[ihi][j] * fac2;
  const float ytry = target(ptry, host);
  if (ytry < y[ihi]) {
    y[ihi] = ytry;
    for (int j = 1; j <= n; ++j) {
      psum[j] += ptry[j] - p[ihi][j];
      p[ihi][j] = ptry[j];
    }
  }
  return ytry;
}

void NelderMeadMinimize(FitHost* host, float** p, float* y, int n, float ftol, FitTarget target,
                        int* nfunk, const EvaluatedPoints* seen, int stall, bool reportLimit) {
  FitEngineState& fs = gFitEngineState;
  fs.simplexCollapsed = 0;
  ++fs.minimiserRuns;
  fs.evaluationsThisRun = 0;
  *nfunk = 0;
  FloatVec psum(1, n);
  ComputePsum(p, n, psum);
  FloatVec modelTrial(1, n);
  int nextModel = 0;
  float stallBest = 0.0f;
  int stallSince = -1;

  for (;;) {
    if (fs.stopRequested) return;
    int ilo, ihi, inhi;
    RankSimplex(y, n, &ilo, &ihi, &inhi);
    ShowBestVertex(host, p[ilo], y[ilo]);

    if (stallSince < 0 || y[ilo] < stallBest - ftol * std::fabs(stallBest)) {
      stallBest = y[ilo];
      stallSince = *nfunk;
    }
    const float rtol = RelativeSpread(y[ilo], y[ihi]);
    if (rtol < ftol || (stall > 0 && *nfunk - stallSince >= stall)) {
      std::swap(y[1], y[ilo]);
      for (int j = 1; j <= n; ++j) std::swap(p[1][j], p[ilo][j]);
      return;
    }
    if (*nfunk >= kMaxNelderMeadEvaluations) {
      if (reportLimit && gSerialFitSettings.running)
        gSerialFitSettings.errorCode = 10;
      else if (reportLimit && host)
        host->ErrorBox("Nelder-Mead not converged");
      return;
    }

    fs.simplexCollapsed = SimplexCollapsed(p, n, ilo);
    if (fs.simplexCollapsed) return;

    // With the points seen so far, the minimum of a quadratic through them
    // replaces the worst vertex when it is lower than the best: a simplex
    // crawling along a narrow valley is carried to where the valley's floor
    // is lowest. Tried again after n + 1 further evaluations when it was not.
    if (seen && seen->Count() >= nextModel) {
      nextModel = seen->Count() + n + 1;
      float drop = 0.0f;
      if (QuadraticModelMinimum(*seen, modelTrial, &drop) && drop > 0.5f * ftol) {
        const float ytry = target(modelTrial, host);
        ++*nfunk;
        if (ytry < y[ilo]) {
          y[ihi] = ytry;
          for (int j = 1; j <= n; ++j) p[ihi][j] = modelTrial[j];
          ComputePsum(p, n, psum);
          nextModel = 0;
          continue;
        }
      }
    }

    *nfunk += MoveSimplex(host, p, y, psum, n, target, ilo, ihi, inhi);
  }
}

bool& SimplexRanOutOfRestarts() {
  static bool ranOut = false;
  return ranOut;
}

void ReportRestartsExhausted(FitHost* host) {
  SimplexRanOutOfRestarts() = true;
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::Limit,
               LimitEndText("the fit did not settle in " + std::to_string(kMaxNelderMeadRestarts) + " restarts"));
}

void ReportSimplexEvaluationsExhausted(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  RecordFitEnd(host, FitEndKind::Limit,
               LimitEndText("the fit did not settle in " + std::to_string(kMaxNelderMeadEvaluations) +
                            " simplex evaluations"));
}

FitBudgetScope::FitBudgetScope(FitHost* host) : host_(host) {
  FitEngineState& fs = gFitEngineState;
  BeginFitDraws();
  if (fs.fitScopeDepth++ == 0) {
    fs.fitEvaluations = 0;
    fs.budgetSpent = 0;
    // Reached unless the fit says otherwise on its way out.
    LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
    fs.fitStartSeconds = static_cast<double>(platform::Clock().TickCountMs()) / 1000.0;
  }
}

FitBudgetScope::~FitBudgetScope() {
  FitEngineState& fs = gFitEngineState;
  EndFitDraws();
  if (--fs.fitScopeDepth != 0) return;
  platform::ArmStopDeadline(0);
  if (fs.budgetSpent) ReportFitBudgetSpent(host_);
}

bool FitEvaluationAllowed() {
  FitEngineState& fs = gFitEngineState;
  if (fs.fitScopeDepth == 0 || !fs.fitRunning) return true;
  if (!(static_cast<double>(platform::Clock().TickCountMs()) / 1000.0 - fs.fitStartSeconds < fs.maxFitSeconds)) {
    platform::ArmStopDeadline(0);
    fs.budgetSpent = 2;
    fs.stopRequested = 1;
    return false;
  }
  ++fs.fitEvaluations;
  // The kernels' polls end this evaluation if the fit's time runs out in it.
  platform::ArmStopDeadline(fs.fitStartSeconds + fs.maxFitSeconds);
  return true;
}

bool FitEvaluationOutOfTime(bool cutShort) {
  const bool passed = platform::StopDeadlinePassed();
  platform::ArmStopDeadline(0);
  if (!passed) return false;
  FitEngineState& fs = gFitEngineState;
  fs.budgetSpent = 2;
  fs.stopRequested = 1;
  platform::StopFlag() = false;
  return cutShort;
}

bool FitStoppedByBudget() { return gFitEngineState.budgetSpent != 0; }

void ReportFitBudgetSpent(FitHost* host) {
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
  const std::string minutes = std::to_string(static_cast<long long>(gFitEngineState.maxFitSeconds / 60.0));
  RecordFitEnd(host, FitEndKind::Limit, LimitEndText("the fit did not settle in " + minutes + " minutes"));
}

void ShrinkSimplex(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target, int ilo) {
  for (int i = 1; i <= n + 1; ++i) {
    if (i == ilo) continue;
    for (int j = 1; j <= n; ++j) p[i][j] = 0.5f * (p[i][j] + p[ilo][j]);
    y[i] = target(p[i], host);
  }
  ComputePsum(p, n, psum);
}

bool SimplexCollapsed(float** p, int n, int ilo) {
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n + 1; ++i) {
      const float d = p[ilo][j] != 0.0f ? (p[i][j] - p[ilo][j]) / p[ilo][j] : p[i][j];
      if (std::fabs(d) > 2e-6f) return false;
    }
  return true;
}

void RankSimplex(const float* y, int n, int* ilo, int* ihi, int* inhi) {
  if (y[1] > y[2]) {
    *ihi = 1;
    *inhi = 2;
  } else {
    *ihi = 2;
    *inhi = 1;
  }
  *ilo = 1;
  for (int i = 1; i <= n + 1; ++i) {
    if (y[i] <= y[*ilo]) *ilo = i;
    if (y[i] > y[*ihi]) {
      *inhi = *ihi;
      *ihi = i;
    } else if (y[i] > y[*inhi] && i != *ihi) {
      *inhi = i;
    }
  }
}

int MoveSimplex(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target, int ilo, int ihi,
                int inhi) {
  float ytry = TryNelderMeadPoint(host, p, y, psum, n, target, ihi, -1.0f);
  if (ytry <= y[ilo]) {
    TryNelderMeadPoint(host, p, y, psum, n, target, ihi, 2.0f);
    return 2;
  }
  if (ytry < y[inhi]) return 1;
  const float ysave = y[ihi];
  ytry = TryNelderMeadPoint(host, p, y, psum, n, target, ihi, 0.5f);
  if (ytry < ysave) return 2;
  ShrinkSimplex(host, p, y, psum, n, target, ilo);
  return 2 + n;
}

namespace {

float Clamp(float v, float lo, float hi) { return v > hi ? hi : (v < lo ? lo : v); }

// A step drawn beyond a limit is mirrored back inside rather than clamped:
// clamped, a start at the limit put about half the vertices on it, they
// coincide in that direction, and a fit started there never left it (a
// meniscus started at its lower limit ended there, 4x the noise away).
float DrawWithin(float start, float step, float lo, float hi) {
  float x = start + step;
  if (x < lo) x = lo + (lo - x);
  if (x > hi) x = hi - (x - hi);
  return Clamp(x, lo, hi);
}

}  // namespace

void SimplexExtents(float** p, int n, int best, float* extent) {
  for (int j = 1; j <= n; ++j) {
    float e = 0.0f;
    for (int i = 1; i <= n + 1; ++i) e = std::fmax(e, std::fabs(p[i][j] - p[best][j]));
    extent[j] = e;
  }
}

float LearntSpread(float extent, float at, float endSpread) {
  const float r = gFitEngineState.initialRandomization;
  const float floor = kLearntSpreadFloor * r * (at != 0.0f ? std::fabs(at) : 1.0f);
  // Near a minimum the values differ by the square of the distance: a
  // simplex of sqrt(tolerance / endSpread) times the size ended with shows
  // values that agree to the tolerance.
  const float scale = endSpread > kFitSimplexTolerance ? std::sqrt(kFitSimplexTolerance / endSpread) : 1.0f;
  return std::fmax(kLearntSpreadFactor * scale * extent, floor);
}

float LearntStep(float width) {
  const float d = GaussRandom(width);
  const float least = 0.5f * std::fabs(width);
  return std::fabs(d) >= least ? d : std::copysign(least, d);
}

float EndSpread(const float* y, int n) {
  float lo = y[1], hi = y[1];
  for (int i = 2; i <= n + 1; ++i) {
    lo = std::fmin(lo, y[i]);
    hi = std::fmax(hi, y[i]);
  }
  return RelativeSpread(lo, hi);
}

void MakeInitialSimplex(int n, float** p, const float* heldScale, const float* spread) {
  const FitEngineState& fs = gFitEngineState;
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const float r = fs.initialRandomization;
  // With learnt spreads every coordinate is drawn with its own width, and the
  // widths the rules below add for a first simplex are left out.
  const bool learnt = spread != nullptr;
  // A coordinate that starts at 0 gets an absolute spread of r; a relative
  // spread alone would leave it at 0 in every vertex, and it could never move.
  // One held at 0 keeps at least the spread of its scale near the clamp, where
  // the relative spread vanishes, and a draw below the clamp is mirrored onto
  // the allowed side: the evaluation would put it back on the clamp, where
  // vertices coincide and the simplex loses that direction.
  auto draw = [r, heldScale, spread](float start, int j) {
    if (heldScale && heldScale[j] > 0.0f) {
      float width = r * std::fmax(std::fabs(start), heldScale[j]);
      if (spread) width = std::fmax(width, spread[j]);
      const float x = start + (spread ? LearntStep(width) : GaussRandom(width));
      return x < 0.0f ? -x : x;
    }
    if (spread) return start + LearntStep(spread[j]);
    return start + (start != 0.0f ? GaussRandom(r * start) : GaussRandom(r));
  };
  // The extra absolute width of some rules (none with learnt spreads).
  auto extra = [r, learnt](float fraction) { return learnt ? 0.0f : GaussRandom(fraction * r); };

  for (int i = 2; i <= n + 1; ++i)
    for (int j = 1; j <= n; ++j) p[i][j] = draw(p[1][j], j);

  const int m = FitOptionCount(CurrentFitOptions());
  const bool selfAssociation = sel.AnySelfAssociationModel();
  const bool threeState = sel.MonomerDimerTetramerModel || sel.MonomerTetramerOctamerModel;
  const bool nonideal = sel.AnyNonidealSpeciesModel();
  const bool equilibriumData = CurrentScanSet().equilibriumMode != 0;
  int floated = 0;
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!gModelParameterVector.F[k]) continue;
    const int j = m + ++floated;
    if (j > n) break;
    const float start = p[1][j];
    for (int i = 2; i <= n + 1; ++i) {
      float& x = p[i][j];
      if (k <= 4) {
        if (selfAssociation) {
          if (k <= 2 && x < 0.0f) x = 0.0f;
          if (threeState && k == 3) x = draw(start, j) + extra(0.3f);
        } else if (!equilibriumData && x < 0.0f) {
          x = 0.0f;
        }
      } else if (k == 7 && threeState) {
        x = draw(start, j) + extra(0.3f);
      } else if (k >= 9 && k <= 12) {
        if (nonideal)
          x = draw(start, j) + extra(0.3f);
        else if (x < 0.0f)
          x = 0.0f;
      } else if (k == 13) {
        x = DrawWithin(start, learnt ? LearntStep(spread[j]) : GaussRandom((fs.meniscusMax - fs.meniscusMin) / 3.0f),
                       fs.meniscusMin, fs.meniscusMax);
      } else if (k == 14) {
        x = DrawWithin(start, learnt ? LearntStep(spread[j]) : GaussRandom((fs.bottomMax - fs.bottomMin) / 3.0f),
                       fs.bottomMin, fs.bottomMax);
      } else if (k == 15 || k == 22) {
        x = draw(start, j) + extra(0.3f);
      } else if (k >= 16 && k <= 19) {
        if (x < 0.0f) x = 0.0f;
      } else if (k == 23 || k == 25 || k == 27 || k == 29 || k == 31 || k == 33) {
        x = draw(start, j);
        if (x < 0.0f) x = 0.0f;
      } else if (k == 24) {
        x = learnt ? draw(start, j) : start + GaussRandom(start) + GaussRandom(100.0f);
      } else if (k == 26 || k == 30 || k == 34) {
        x = Clamp(draw(start, j), 0.0f, 1.0f);
      }
    }
  }
}

void EvaluatedPoints::Add(const float* p, float value) {
  for (int j = 1; j <= n; ++j) x.push_back(p[j]);
  y.push_back(value);
}

namespace {

// Least squares a c = b by Householder reflections (a is rows x cols, row
// major, overwritten); false when a column is dependent on the others.
bool LeastSquares(std::vector<double>& a, std::vector<double>& b, int rows, int cols, std::vector<double>& c) {
  double largest = 0.0;
  for (int k = 0; k < cols; ++k) {
    double norm = 0.0;
    for (int i = k; i < rows; ++i) norm += a[i * cols + k] * a[i * cols + k];
    norm = std::sqrt(norm);
    largest = std::max(largest, norm);
    if (norm <= 1e-9 * largest || norm == 0.0) return false;
    const double alpha = a[k * cols + k] > 0.0 ? -norm : norm;
    a[k * cols + k] -= alpha;
    double vv = 0.0;
    for (int i = k; i < rows; ++i) vv += a[i * cols + k] * a[i * cols + k];
    for (int j = k + 1; j < cols; ++j) {
      double dot = 0.0;
      for (int i = k; i < rows; ++i) dot += a[i * cols + k] * a[i * cols + j];
      const double f = 2.0 * dot / vv;
      for (int i = k; i < rows; ++i) a[i * cols + j] -= f * a[i * cols + k];
    }
    double dot = 0.0;
    for (int i = k; i < rows; ++i) dot += a[i * cols + k] * b[i];
    const double f = 2.0 * dot / vv;
    for (int i = k; i < rows; ++i) b[i] -= f * a[i * cols + k];
    a[k * cols + k] = alpha;
  }
  c.assign(static_cast<size_t>(cols), 0.0);
  for (int k = cols - 1; k >= 0; --k) {
    double sum = b[k];
    for (int j = k + 1; j < cols; ++j) sum -= a[k * cols + j] * c[j];
    c[k] = sum / a[k * cols + k];
  }
  return true;
}

// Solves h u = -g for a symmetric h (n x n, row major) by Cholesky; false
// when h is not positive definite.
bool NewtonStep(std::vector<double> h, const std::vector<double>& g, int n, std::vector<double>& u) {
  for (int j = 0; j < n; ++j) {
    double d = h[j * n + j];
    for (int k = 0; k < j; ++k) d -= h[j * n + k] * h[j * n + k];
    if (!(d > 0.0)) return false;
    d = std::sqrt(d);
    h[j * n + j] = d;
    for (int i = j + 1; i < n; ++i) {
      double s = h[i * n + j];
      for (int k = 0; k < j; ++k) s -= h[i * n + k] * h[j * n + k];
      h[i * n + j] = s / d;
    }
  }
  u.assign(static_cast<size_t>(n), 0.0);
  for (int i = 0; i < n; ++i) {
    double s = -g[i];
    for (int k = 0; k < i; ++k) s -= h[i * n + k] * u[k];
    u[i] = s / h[i * n + i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = u[i];
    for (int k = i + 1; k < n; ++k) s -= h[k * n + i] * u[k];
    u[i] = s / h[i * n + i];
  }
  return true;
}

}  // namespace

namespace {

bool QuadraticMinimumOfLowest(const EvaluatedPoints& points, int rowsWanted, float* trial, float* predictedDrop,
                              QuadraticCurvature* curvature) {
  const int n = points.n;
  if (n < 1 || n > kQuadraticModelMaxN) return false;
  const int terms = (n + 1) * (n + 2) / 2;
  std::vector<int> order;
  for (int k = 0; k < points.Count(); ++k)
    if (std::isfinite(points.y[k]) && points.y[k] > 0.0f && points.y[k] < 1e9f) order.push_back(k);
  if (static_cast<int>(order.size()) < terms + n) return false;
  std::stable_sort(order.begin(), order.end(), [&points](int a, int b) { return points.y[a] < points.y[b]; });
  const int rows = std::min(static_cast<int>(order.size()), rowsWanted);
  const float* x0 = &points.x[static_cast<size_t>(order[0]) * n];
  const double y0 = points.y[order[0]];
  std::vector<double> scale(static_cast<size_t>(n), 0.0);
  for (int r = 1; r < rows; ++r)
    for (int j = 0; j < n; ++j)
      scale[j] = std::max(scale[j], std::fabs(static_cast<double>(points.x[static_cast<size_t>(order[r]) * n + j]) - x0[j]));
  for (int j = 0; j < n; ++j)
    if (!(scale[j] > 0.0)) return false;
  // Columns: 1, u_j, then u_i u_j for i <= j (halved on the diagonal, so that
  // the coefficients are the entries of the Hessian).
  std::vector<double> a(static_cast<size_t>(rows) * terms), b(static_cast<size_t>(rows)), c;
  std::vector<double> u(static_cast<size_t>(n));
  for (int r = 0; r < rows; ++r) {
    const float* x = &points.x[static_cast<size_t>(order[r]) * n];
    for (int j = 0; j < n; ++j) u[j] = (x[j] - x0[j]) / scale[j];
    double* row = &a[static_cast<size_t>(r) * terms];
    int col = 0;
    row[col++] = 1.0;
    for (int j = 0; j < n; ++j) row[col++] = u[j];
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) row[col++] = i == j ? 0.5 * u[i] * u[i] : u[i] * u[j];
    const double v = points.y[order[r]] / y0;
    b[r] = v * v;
  }
  if (!LeastSquares(a, b, rows, terms, c)) return false;
  std::vector<double> g(c.begin() + 1, c.begin() + 1 + n), h(static_cast<size_t>(n) * n);
  int col = 1 + n;
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j) h[i * n + j] = h[j * n + i] = c[col++];
  if (!NewtonStep(h, g, n, u)) return false;
  double longest = 0.0;
  for (int j = 0; j < n; ++j) longest = std::max(longest, std::fabs(u[j]));
  if (longest > 2.0)
    for (int j = 0; j < n; ++j) u[j] *= 2.0 / longest;
  double drop = 0.0;
  for (int i = 0; i < n; ++i) {
    drop -= g[i] * u[i];
    for (int j = 0; j < n; ++j) drop -= 0.5 * u[i] * h[i * n + j] * u[j];
  }
  // The model's value at the lowest point is c[0], near 1: the fall of the
  // root is half the relative fall of the square.
  *predictedDrop = static_cast<float>(0.5 * drop / std::max(c[0], 1e-30));
  for (int j = 0; j < n; ++j) trial[j + 1] = static_cast<float>(x0[j] + u[j] * scale[j]);
  if (curvature) {
    curvature->scale = scale;
    curvature->hessian = h;
    for (double& e : curvature->hessian) e *= 0.5 / std::max(c[0], 1e-30);
  }
  return true;
}

}  // namespace

bool QuadraticModelMinimum(const EvaluatedPoints& points, float* trial, float* predictedDrop,
                           QuadraticCurvature* curvature) {
  const int n = points.n;
  const int terms = (n + 1) * (n + 2) / 2;
  // Far from the lowest point a sum of squares is no longer quadratic: with
  // no minimum among the wider set, the nearer points alone may show one.
  for (int rows : {2 * terms, terms + n + 1, terms + n})
    if (QuadraticMinimumOfLowest(points, rows, trial, predictedDrop, curvature) && *predictedDrop > 0.0f) return true;
  return false;
}

namespace {

// Eigenvalues (into d) and eigenvectors (columns of v) of the symmetric a
// (n x n, row major) by cyclic Jacobi rotations, at most 50 sweeps.
void SymmetricEigen(std::vector<double> a, int n, std::vector<double>& d, std::vector<double>& v) {
  v.assign(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) v[i * n + i] = 1.0;
  for (int sweep = 0; sweep < 50; ++sweep) {
    double off = 0.0, diag = 0.0;
    for (int i = 0; i < n; ++i) {
      diag += a[i * n + i] * a[i * n + i];
      for (int j = i + 1; j < n; ++j) off += a[i * n + j] * a[i * n + j];
    }
    if (off <= 1e-30 * diag) break;
    for (int p = 0; p < n; ++p)
      for (int q = p + 1; q < n; ++q) {
        const double apq = a[p * n + q];
        if (apq == 0.0) continue;
        const double theta = (a[q * n + q] - a[p * n + p]) / (2.0 * apq);
        const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < n; ++k) {
          const double akp = a[k * n + p], akq = a[k * n + q];
          a[k * n + p] = c * akp - s * akq;
          a[k * n + q] = s * akp + c * akq;
        }
        for (int k = 0; k < n; ++k) {
          const double apk = a[p * n + k], aqk = a[q * n + k];
          a[p * n + k] = c * apk - s * aqk;
          a[q * n + k] = s * apk + c * aqk;
        }
        for (int k = 0; k < n; ++k) {
          const double vkp = v[k * n + p], vkq = v[k * n + q];
          v[k * n + p] = c * vkp - s * vkq;
          v[k * n + q] = s * vkp + c * vkq;
        }
      }
  }
  d.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) d[i] = a[i * n + i];
}

}  // namespace

void ShapeSimplex(const QuadraticCurvature& curvature, int n, float** p, float rise) {
  std::vector<double> lambda, v;
  SymmetricEigen(curvature.hessian, n, lambda, v);
  for (int k = 0; k < n; ++k) {
    // u^T H u / 2 = rise along axis k; never beyond twice the fitted scale.
    double length = lambda[k] > 0.0 ? std::sqrt(2.0 * rise / lambda[k]) : 2.0;
    length = std::min(length, 2.0);
    if (GaussRandom(1.0f) < 0.0f) length = -length;
    for (int j = 0; j < n; ++j)
      p[k + 2][j + 1] = static_cast<float>(p[1][j + 1] + length * v[j * n + k] * curvature.scale[j]);
  }
}

bool DampedGaussNewtonStep(const std::vector<double>& a, const std::vector<double>& g, int n, double lambda,
                           const std::vector<char>& free, std::vector<double>& d) {
  d.assign(static_cast<size_t>(n), 0.0);
  std::vector<int> index;
  for (int j = 0; j < n; ++j)
    if (free[j]) index.push_back(j);
  const int m = static_cast<int>(index.size());
  if (m == 0) return false;
  std::vector<double> h(static_cast<size_t>(m) * m), gg(static_cast<size_t>(m)), u;
  for (int i = 0; i < m; ++i) {
    gg[i] = g[index[i]];
    for (int j = 0; j < m; ++j) h[i * m + j] = a[index[i] * n + index[j]];
    h[i * m + i] *= 1.0 + lambda;
  }
  if (!NewtonStep(h, gg, m, u)) return false;
  for (int i = 0; i < m; ++i) d[index[i]] = u[i];
  return true;
}

bool BroydenUpdate(std::vector<double>& jac, std::size_t m, int n, const std::vector<double>& step,
                   const std::vector<double>& unit, const std::vector<float>& before, const std::vector<float>& after) {
  double norm = 0.0;
  for (int i = 0; i < n; ++i) norm += (step[i] / unit[i]) * (step[i] / unit[i]);
  if (!(norm > 0.0) || !std::isfinite(norm)) return false;
  for (size_t e = 0; e < m; ++e) {
    double miss = static_cast<double>(after[e]) - before[e];
    for (int i = 0; i < n; ++i) miss -= jac[e * n + i] * step[i];
    for (int i = 0; i < n; ++i) jac[e * n + i] += miss * step[i] / (unit[i] * unit[i] * norm);
  }
  return true;
}
