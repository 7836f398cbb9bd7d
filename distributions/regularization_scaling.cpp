#include "distributions/regularization_scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "distributions/brent_roots.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/nnls.h"
#include "distributions/regularization_matrix.h"
#include "distributions/work_blocks.h"
#include "numerics/statistics.h"
#include "platform/user_interface.h"

RegularizationState& Regularization() {
  static RegularizationState state;
  return state;
}

namespace {

int AmplitudeCount() {
  const NormalEquationBlock& b = NeqBlock();
  return b.fixedComponent ? b.gridPoints - 1 : b.gridPoints;
}

void ZeroAmplitudes(int m) {
  double* x = NeqBlock().solution;
  for (int i = 1; i <= m; ++i) x[i] = 0.0;
}

}  // namespace

float RegularizationChiSquareDeviation(float x) {
  RegularizationState& st = Regularization();
  // A Run the user stopped: every trial reads as the root, so that the
  // searches end at once; the Run discards what they leave.
  if (RunStopRequested()) return 0.0f;
  const double alpha = std::exp(std::min(static_cast<double>(x), 100.0)) * st.scale;
  st.lastAlpha = static_cast<float>(alpha);
  ++st.trials;
  AddRegularizationMatrix(alpha);
  if (!NNLSFromSolution()) {
    ZeroAmplitudes(st.amplitudes);
    st.lastDeviation = 1e10f;
    return 1e10f;
  }
  const double ratio = ChiSquareRatio(ChiSquareFromNormalEquations(), st.chiSquareReference);
  const float dev = static_cast<float>(ratio - st.targetRatio);
  st.lastDeviation = dev;
  if (!Conti().monteCarloRun) {
    char line[160];
    const float p = Conti().confidenceLevel;
    if (p < 1.0f)
      std::snprintf(line, sizeof line, "Scaling regularization alpha=%f, P = %f (please wait...)",
                    alpha,
                    1.0 - FDistributionProbability(ratio, st.degreesOfFreedom,
                                                          st.degreesOfFreedom));
    // (An unbounded ratio, of an exact best fit, has the probability 0.)
    else
      std::snprintf(line, sizeof line,
                    "Scaling regularization alpha=%f, ratio = %f (please wait...)", alpha, ratio);
    ContiStatusLine(70, line);
  }
  return dev;
}

void ScaleRegularization() {
  RegularizationState& st = Regularization();
  const ContiSettings& cs = Conti();
  const ContiRunContext& ctx = ContiContext();
  NormalEquationBlock& b = NeqBlock();
  const int m = AmplitudeCount();
  st.amplitudes = m;
  st.limitNote.clear();
  st.trials = 0;
  st.limitBox.clear();
  AddRegularizationMatrix(0.0);
  if (!NNLS()) {
    ZeroAmplitudes(m);
    return;
  }
  st.chiSquareReference = ChiSquareFromNormalEquations();
  st.chiSquareCurrent = st.chiSquareReference;
  const float P = cs.confidenceLevel;
  if (P <= 0.5f || P == 1.0f || m < 4) {
    if (!cs.silent && !SerialFitRunning() && !cs.monteCarloRun && ctx.infoMessages)
      platform::Tell("", "no regularization:  either P < 0.5, P = 1, or to low resolution");
    return;
  }
  if (cs.silent && !cs.finalEvaluation && !cs.monteCarloRun) return;
  // An exact fit (the noise terms take the data whole): no solution but the
  // exact ones keeps the chi-square within any ratio of 0, and the search
  // would divide 0 by 0. The unregularised solution is the result.
  if (!(st.chiSquareReference > 0.0)) return;
  if (P > 1.0f) {
    if (!SerialFitRunning()) ContiTell("", "P > 1 => interpreting P value as chi-square ratio");
    st.targetRatio = P;
  } else {
    double nu;
    if (!ctx.dlsData)
      nu = static_cast<double>(ctx.fitRangePoints) * ctx.scanCount - m;
    else if (ctx.timeCourse)
      nu = static_cast<double>(ctx.fitRangePoints) * ctx.timeCourseScans;
    else
      nu = static_cast<double>(ctx.fitRangePoints) * ctx.scanCount;
    st.degreesOfFreedom = static_cast<float>(nu);
    // Without degrees of freedom (no more points than amplitudes) there is
    // no F ratio to search for: the unregularised solution stays.
    if (!(nu > 0.0)) return;
    st.targetRatio = static_cast<float>(FRatioForConfidence(P, nu, nu));
    if (!(st.targetRatio > 1.0f)) return;
  }
  float trace = 0.0f;
  for (int i = 1; i <= m; ++i) trace += static_cast<float>(b.normalMatrix[i][i]);
  st.scale = trace / (6.0 * m - 12.0);
  if (st.scale == 0.0) return;
  const float tol = (st.targetRatio - 1.0f) * 0.001f;
  auto f = [](float x) { return RegularizationChiSquareDeviation(x); };
  float x1 = std::log(1e-7f), f1 = f(x1);
  float x2 = x1 + 1.0f, f2 = f(x2);
  float step = 1.0f;
  int repeats = 0, turns = 0, steps = 0, stalls = 0;
  bool probed = false;
  // The trial nearest the target, for a ratio that never reaches it, and
  // the trial whose solution the block holds.
  float best = std::fabs(f1) <= std::fabs(f2) ? x1 : x2, bestF = std::min(std::fabs(f1), std::fabs(f2));
  float bestDev = std::fabs(f1) <= std::fabs(f2) ? f1 : f2;
  float held = x2;
  auto keep = [&](float x, float dev) {
    held = x;
    if (std::fabs(dev) < bestF) {
      best = x;
      bestF = std::fabs(dev);
      bestDev = dev;
    }
  };
  // The search ends at the trial nearest the target, saying so.
  auto endAtLimit = [&](const char* why) {
    if (best != held) f(best);
    st.alphaFactor = best >= 100.0f ? std::exp(100.0f) : std::exp(best);
    st.chiSquareCurrent = ChiSquareFromNormalEquations();
    if (RunStopRequested()) return;
    char text[300];
    std::snprintf(text, sizeof text,
                  "the regularization did not reach the chi-square ratio %.5f of P = %.3f: %s; the solution "
                  "nearest to it (ratio %.5f) is kept",
                  st.targetRatio, P, why, st.targetRatio + bestDev);
    st.limitNote = text;
    // Said by a Run and by the evaluation that ends a fit (whose result it is).
    if ((!cs.silent || cs.finalEvaluation) && !cs.monteCarloRun && !SerialFitRunning())
      ContiTell("REGULARIZATION", text);
  };
  std::vector<double> stepSolution;
  while (f1 * f2 > 0.0f) {
    if (RunStopRequested()) return;
    if (++steps > kRegularizationBracketSteps || x2 + step > kRegularizationHighestX ||
        x2 + step < kRegularizationLowestX) {
      char why[120];
      std::snprintf(why, sizeof why, "its search of alpha ended at its limit (%d steps, ln(alpha/scale) %.0f to %.0f)",
                    kRegularizationBracketSteps, kRegularizationLowestX, kRegularizationHighestX);
      endAtLimit(why);
      return;
    }
    x1 = x2;
    f1 = f2;
    x2 = x1 + step;
    f2 = f(x2);
    keep(x2, f2);
    repeats = (f2 == f1) ? repeats + 1 : 0;
    if (repeats >= 10) {
      endAtLimit("the ratio stopped moving with alpha");
      return;
    }
    if ((f1 > 0 && f2 > f1) || (f1 < 0 && f2 < f1)) {
      // Turned back a second time: the ratio has an extremum short of the
      // target on both sides, and no root to bracket. The trial nearest it
      // stays (without this the search would turn back and forth forever).
      if (++turns >= 2) {
        endAtLimit("the ratio turns back short of it on both sides");
        return;
      }
      std::swap(x1, x2);
      std::swap(f1, f2);
      step = -step;
      stalls = 0;
      continue;
    }
    // Chi-square cannot fall as alpha grows: the regularised solution of
    // alpha' > alpha pays a higher chi-square for its lower regularisation
    // term, or the other would be the better solution of both. On scans
    // without material the solution barely changes with alpha (it is 0, or
    // already flat), and the ratio creeps by rounding steps while every step
    // solves the whole system again. Once it has moved by less than 1/1000
    // of its way to the target on three steps in a row, one trial at the end
    // of the range the search walks towards shows whether the target lies
    // there at all; where it does not, no step in between reaches it.
    stalls = std::fabs(f2 - f1) < 1e-3f * std::fabs(f2) ? stalls + 1 : 0;
    if (stalls >= 3 && !probed) {
      probed = true;
      const float end = step > 0.0f ? kRegularizationHighestX - 1.0f : kRegularizationLowestX;
      const int n = SolvedAmplitudeCount();
      stepSolution.assign(b.solution, b.solution + n + 1);
      const float fEnd = f(end);
      if (RunStopRequested()) return;
      if (fEnd * f2 > 0.0f) {
        keep(end, fEnd);
        char why[160];
        std::snprintf(why, sizeof why,
                      "the ratio hardly moves with alpha and stays short of it out to ln(alpha/scale) %.0f", end);
        endAtLimit(why);
        return;
      }
      // The target lies ahead: the walk goes on from its own solution, as
      // it would have without the look.
      std::copy(stepSolution.begin(), stepSolution.end(), b.solution);
      held = x2;
    }
  }
  const float root = zbrent(f, x1, x2, tol);
  f(root);
  st.alphaFactor = root >= 100.0f ? std::exp(100.0f) : std::exp(root);
  st.chiSquareCurrent = ChiSquareFromNormalEquations();
}
