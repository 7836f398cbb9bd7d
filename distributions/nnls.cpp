#include "distributions/nnls.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "numerics/linear_solvers.h"
#include "distributions/work_blocks.h"

namespace {

// The passive set is kept in the order its indices entered, and its
// Cholesky factor L (strict lower triangle in `reducedMatrix`, diagonal in
// `choleskyDiagonal`) grows by one row per new index. Positions from `from`
// on are (re)computed from the matrix.
bool FactorFrom(NormalEquationBlock& b, int m, int from) {
  double** L = b.reducedMatrix;
  double* d = b.choleskyDiagonal;
  const int* p = b.passiveOrder;
  double** M = b.regularizedMatrix;
  for (int i = from; i <= m; ++i) {
    const double* Mi = M[p[i]];
    double* Li = L[i];
    for (int j = 1; j < i; ++j) {
      double s = Mi[p[j]];
      const double* Lj = L[j];
      for (int k = 1; k < j; ++k) s -= Li[k] * Lj[k];
      Li[j] = s / d[j];
    }
    double s = Mi[p[i]];
    for (int k = 1; k < i; ++k) s -= Li[k] * Li[k];
    if (!(s > 0.0)) return false;
    d[i] = std::sqrt(s);
  }
  return true;
}

// z = (L L')^-1 rhs over the passive positions.
void SolvePassive(NormalEquationBlock& b, int m) {
  double** L = b.reducedMatrix;
  const double* d = b.choleskyDiagonal;
  double* y = b.reducedRhs;
  double* z = b.reducedSolution;
  const int* p = b.passiveOrder;
  for (int i = 1; i <= m; ++i) {
    double s = b.rhs[p[i]];
    const double* Li = L[i];
    for (int k = 1; k < i; ++k) s -= Li[k] * y[k];
    y[i] = s / d[i];
  }
  for (int i = m; i >= 1; --i) {
    double s = y[i];
    for (int k = i + 1; k <= m; ++k) s -= L[k][i] * z[k];
    z[i] = s / d[i];
  }
}

// Set by a solve that could not go on inside a fit's trial.
bool gTrialFailed = false;

// An evaluation of a fit that is one of its trials (not the evaluation of
// its result, which is a Run's).
bool InFitTrial() {
  const ContiSettings& cs = Conti();
  return gFitEngineState.fitRunning && cs.silent && !cs.finalEvaluation && !cs.monteCarloRun;
}

bool Fallback(NormalEquationBlock& b, int n, const char* message, int serialCode) {
  // Inside a fit's trial the failure is the trial's: it is rejected (its
  // amplitudes 0), with no box and no error code of a series, and the fit
  // goes on from its other points.
  if (InFitTrial()) {
    gTrialFailed = true;
    for (int i = 1; i <= n; ++i) b.solution[i] = 0.0;
    return false;
  }
  ContiErrorOrCode(message, serialCode);
  // Rows of amplitudes whose kernels vanish over the data carry nothing and
  // would make the matrix singular: the solve leaves them at 0.
  return SolveNormalEquationsD(b.regularizedMatrix, b.rhs, n, b.solution, b.choleskyDiagonal);
}

}  // namespace

bool TakeNNLSTrialFailure() {
  const bool failed = gTrialFailed;
  gTrialFailed = false;
  return failed;
}

int SolvedAmplitudeCount() {
  const NormalEquationBlock& b = NeqBlock();
  return b.gridPoints;
}

namespace {

// The passive set of the amplitudes in `solution` (their positive entries),
// reduced until the solution over it is positive: a feasible point with
// its factor in place, from which the iterations go on. Each round drops
// at least one index, so at most m rounds. Returns the passive count; 0
// (a cold start) when the factorisation fails.
int WarmStart(NormalEquationBlock& b, int n) {
  double* x = b.solution;
  int* P = b.passiveSet;
  int* order = b.passiveOrder;
  const double* z = b.reducedSolution;
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    P[i] = x[i] > 0.0 ? 1 : 0;
    if (P[i]) order[++m] = i;
    x[i] = 0.0;
  }
  for (int from = 1; m > 0;) {
    if (!FactorFrom(b, m, from)) {
      for (int q = 1; q <= m; ++q) P[order[q]] = 0;
      return 0;
    }
    SolvePassive(b, m);
    int kept = 0;
    from = 0;
    for (int q = 1; q <= m; ++q) {
      if (z[q] > 0.0 && from == 0) {
        ++kept;  // unchanged position: its factor row stays
      } else if (z[q] > 0.0) {
        order[++kept] = order[q];
      } else {
        P[order[q]] = 0;
        if (from == 0) from = q;
      }
    }
    if (from == 0) {
      for (int q = 1; q <= m; ++q) x[order[q]] = z[q];
      return m;
    }
    m = kept;
  }
  return 0;
}

bool Solve(NormalEquationBlock& b, int n, bool warm) {
  double** M = b.regularizedMatrix;
  const double* rhs = b.rhs;
  double* x = b.solution;
  double* w = b.gradient;
  int* P = b.passiveSet;
  int* order = b.passiveOrder;
  double* trial = b.trialSolution;
  const double* z = b.reducedSolution;
  int m = 0;
  if (warm) {
    m = WarmStart(b, n);
  } else {
    for (int i = 1; i <= n; ++i) {
      P[i] = 0;
      x[i] = 0.0;
    }
  }
  const double limit = static_cast<double>(n) * n;
  double counter = 0.0;
  // The solve of a large system can take long: a Run command takes the
  // user's key between its iterations (the feasible point reached stays).
  const bool poll = RunCommandSolving();
  // Each outer iteration that changes x lowers the objective x'Mx - 2b'x;
  // on a nearly singular system (a large regularisation of featureless
  // data) rounding can make the active set cycle without lowering it, for
  // up to n^2 iterations of O(n^2) each. Once n + 10 iterations in a row
  // have not lowered it below the lowest value reached by more than
  // rounding, x is that minimum as far as double precision can tell.
  double lowest = std::numeric_limits<double>::infinity();
  int flat = 0;
  // Kernels found dependent on the passive set since it last grew.
  std::vector<char> dependent(static_cast<size_t>(n) + 1, 0);
  for (;;) {
    counter += 1.0;
    if (poll && RunStopRequested()) return true;
    // w = b - M x; x vanishes outside the passive set.
    for (int i = 1; i <= n; ++i) {
      double s = rhs[i];
      const double* Mi = M[i];
      for (int q = 1; q <= m; ++q) s -= Mi[order[q]] * x[order[q]];
      w[i] = s;
    }
    double objective = 0.0;  // x'Mx - 2b'x = -x'(b + w)
    for (int q = 1; q <= m; ++q) objective -= x[order[q]] * (rhs[order[q]] + w[order[q]]);
    if (objective < lowest - 1e-12 * std::fabs(lowest) || !std::isfinite(lowest)) {
      lowest = objective;
      flat = 0;
    } else if (++flat > n + 10) {
      return true;
    }
    int t = 0;
    for (int i = 1; i <= n; ++i)
      if (!P[i] && !dependent[i] && w[i] > 1e-10 && (t == 0 || w[i] > w[t])) t = i;
    if (t == 0) return true;
    if (counter > limit) return Fallback(b, n, "max #iteration exceeded in NNLS", 1);
    P[t] = 1;
    order[++m] = t;
    if (!FactorFrom(b, m, m)) {
      // A kernel that is, to rounding, a combination of the passive ones
      // (on featureless data many are) has no pivot left: the passive
      // solution already fits the data along it, and its gradient is
      // rounding. It stays out until the passive set changes. (A row of
      // no diagonal is no sum of squares: a matrix of no kernels.)
      if (!(M[t][t] > 0.0)) return Fallback(b, n, "matrix not positive definite in NNLS", 2);
      P[t] = 0;
      --m;
      dependent[t] = 1;
      continue;
    }
    std::fill(dependent.begin(), dependent.end(), 0);
    bool firstPass = true;
    for (;;) {
      SolvePassive(b, m);
      for (int i = 1; i <= n; ++i) trial[i] = 0.0;
      for (int q = 1; q <= m; ++q) trial[order[q]] = z[q];
      if (firstPass && trial[t] <= 0.0) break;  // t stays passive at x_t = 0
      firstPass = false;
      bool feasible = true;
      for (int q = 1; q <= m && feasible; ++q) feasible = trial[order[q]] >= 0.0;
      if (feasible) {
        for (int i = 1; i <= n; ++i) x[i] = trial[i];
        break;
      }
      // Step towards the trial point until the first passive amplitude hits 0.
      double step = 0.0;
      bool haveStep = false;
      for (int i = 1; i <= n; ++i) {
        if (!P[i] || trial[i] > 0.0 || x[i] - trial[i] <= 0.0) continue;
        const double r = x[i] / (x[i] - trial[i]);
        if (!haveStep || r < step) {
          step = r;
          haveStep = true;
        }
      }
      for (int i = 1; i <= n; ++i) x[i] += step * (trial[i] - x[i]);
      int firstChanged = 0;
      int kept = 0;
      for (int q = 1; q <= m; ++q) {
        const int i = order[q];
        if (std::fabs(x[i]) < 1e-8 || x[i] < 0.0) {
          P[i] = 0;
          x[i] = 0.0;
          if (!firstChanged) firstChanged = q;
        } else {
          order[++kept] = i;
        }
      }
      for (int i = 1; i <= n; ++i)
        if (x[i] < 0.0) {
          x[i] = 0.0;
          P[i] = 0;
        }
      m = kept;
      if (firstChanged && firstChanged <= m && !FactorFrom(b, m, firstChanged))
        return Fallback(b, n, "matrix not positive definite in NNLS", 2);
    }
  }
}

}  // namespace

bool NNLS() { return NNLS(NeqBlock(), SolvedAmplitudeCount()); }
bool NNLS(NormalEquationBlock& b, int n) { return Solve(b, n, false); }
bool NNLSFromSolution() { return NNLSFromSolution(NeqBlock(), SolvedAmplitudeCount()); }
bool NNLSFromSolution(NormalEquationBlock& b, int n) { return Solve(b, n, true); }

double ChiSquareFromNormalEquations() {
  const NormalEquationBlock& b = NeqBlock();
  return ChiSquareFromNormalEquations(b, b.fixedComponent ? b.gridPoints - 1 : b.gridPoints);
}

double ChiSquareFromNormalEquations(const NormalEquationBlock& b, int k) {
  const double* c = b.solution;
  double chi = b.sumSquaresData;
  for (int i = 1; i <= k; ++i) chi -= 2.0 * c[i] * b.rhs[i];
  for (int i = 1; i <= k; ++i) {
    if (c[i] == 0.0) continue;
    const double* Ai = b.normalMatrix[i];
    double row = 0.0;
    for (int j = 1; j <= k; ++j) row += c[j] * Ai[j];
    chi += c[i] * row;
  }
  return chi;
}
