#include "fit/nelder_mead.h"

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
#include "numerics/arrays.h"
#include "numerics/random.h"

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

constexpr int kMaxEvaluations = 5000;

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
                        int* nfunk) {
  FitEngineState& fs = gFitEngineState;
  fs.simplexCollapsed = 0;
  ++fs.minimiserRuns;
  fs.evaluationsThisRun = 0;
  *nfunk = 0;
  FloatVec psum(1, n);
  ComputePsum(p, n, psum);

  for (;;) {
    if (fs.stopRequested) return;
    int ilo, ihi, inhi;
    RankSimplex(y, n, &ilo, &ihi, &inhi);
    ShowBestVertex(host, p[ilo], y[ilo]);

    const float rtol = RelativeSpread(y[ilo], y[ihi]);
    if (rtol < ftol) {
      std::swap(y[1], y[ilo]);
      for (int j = 1; j <= n; ++j) std::swap(p[1][j], p[ilo][j]);
      return;
    }
    if (*nfunk >= kMaxEvaluations) {
      if (gSerialFitSettings.running)
        gSerialFitSettings.errorCode = 10;
      else if (host)
        host->ErrorBox("Nelder-Mead not converged");
      return;
    }

    fs.simplexCollapsed = SimplexCollapsed(p, n, ilo);
    if (fs.simplexCollapsed) return;

    *nfunk += MoveSimplex(host, p, y, psum, n, target, ilo, ihi, inhi);
  }
}

void ReportRestartsExhausted(FitHost* host) {
  if (gSerialFitSettings.running) {
    gSerialFitSettings.errorCode = 10;
    return;
  }
  if (host)
    host->MessageBox("", "the fit did not settle in " + std::to_string(kMaxNelderMeadRestarts) +
                             " restarts: the best parameters found are kept");
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
        x = Clamp(start + (learnt ? LearntStep(spread[j]) : GaussRandom((fs.meniscusMax - fs.meniscusMin) / 3.0f)), fs.meniscusMin,
                  fs.meniscusMax);
      } else if (k == 14) {
        x = Clamp(start + (learnt ? LearntStep(spread[j]) : GaussRandom((fs.bottomMax - fs.bottomMin) / 3.0f)), fs.bottomMin,
                  fs.bottomMax);
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
