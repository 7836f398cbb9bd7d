#include "distributions/nnls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/serial_fit_settings.h"
#include "numerics/linear_solvers.h"
#include "platform/scripted_ui.h"
#include "test_support.h"

using conti_test::DenseProblem;
using conti_test::LoadIntoBlock;
using conti_test::RandomProblem;

namespace {

double Objective(const NormalEquationBlock& b, const std::vector<double>& x, int n) {
  double f = 0.0;
  for (int i = 1; i <= n; ++i) {
    f -= 2.0 * x[i] * b.rhs[i];
    for (int j = 1; j <= n; ++j) f += x[i] * x[j] * b.regularizedMatrix[i][j];
  }
  return f;
}

// Every subset of variables solved without the constraint; the best
// feasible one is the non-negative least-squares solution.
std::vector<double> BruteForce(const NormalEquationBlock& b, int n) {
  std::vector<double> best(n + 1, 0.0);
  double bestF = 0.0;  // x = 0
  for (unsigned mask = 1; mask < (1u << n); ++mask) {
    std::vector<int> idx;
    for (int i = 1; i <= n; ++i)
      if (mask & (1u << (i - 1))) idx.push_back(i);
    const int m = static_cast<int>(idx.size());
    std::vector<std::vector<double>> store(m + 1, std::vector<double>(m + 1));
    std::vector<double*> a(m + 1);
    std::vector<double> rhs(m + 1), sol(m + 1), work(m + 1);
    for (int i = 0; i <= m; ++i) a[i] = store[i].data();
    for (int i = 1; i <= m; ++i) {
      rhs[i] = b.rhs[idx[i - 1]];
      for (int j = 1; j <= m; ++j) a[i][j] = b.regularizedMatrix[idx[i - 1]][idx[j - 1]];
    }
    dcholsolve(a.data(), rhs.data(), m, sol.data(), work.data());
    bool feasible = true;
    for (int i = 1; i <= m; ++i) feasible = feasible && sol[i] >= 0.0;
    if (!feasible) continue;
    std::vector<double> x(n + 1, 0.0);
    for (int i = 1; i <= m; ++i) x[idx[i - 1]] = sol[i];
    const double f = Objective(b, x, n);
    if (f < bestF) {
      bestF = f;
      best = x;
    }
  }
  return best;
}

double RhsNorm(const NormalEquationBlock& b, int n) {
  double s = 0.0;
  for (int i = 1; i <= n; ++i) s += b.rhs[i] * b.rhs[i];
  return std::sqrt(s);
}

}  // namespace

TEST(Nnls, SatisfiesOptimalityOnRandomProblems) {
  for (int n : {5, 20, 60, 150}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      DenseProblem p = RandomProblem(2 * n + 10, n, seed * 100 + n);
      LoadIntoBlock(p);
      NormalEquationBlock& b = NeqBlock();
      ASSERT_TRUE(NNLS());
      const double bn = RhsNorm(b, n);
      int positive = 0;
      for (int i = 1; i <= n; ++i) {
        double g = b.rhs[i];
        for (int j = 1; j <= n; ++j) g -= b.regularizedMatrix[i][j] * b.solution[j];
        ASSERT_GE(b.solution[i], 0.0);
        if (b.solution[i] == 0.0) {
          EXPECT_LE(g, 1e-10) << "n " << n << " i " << i;
        } else {
          ++positive;
          EXPECT_LE(std::fabs(g), 1e-8 * bn) << "n " << n << " i " << i;
        }
      }
      EXPECT_GT(positive, 0);
      EXPECT_LT(positive, n);
      // The next trial of a parameter search: a stiffer system started from
      // this minimum reaches the minimum a cold start reaches.
      for (int i = 1; i <= n; ++i) b.regularizedMatrix[i][i] *= 1.05;
      ASSERT_TRUE(NNLSFromSolution());
      const std::vector<double> warm(b.solution, b.solution + n + 1);
      ASSERT_TRUE(NNLS());
      for (int i = 1; i <= n; ++i)
        EXPECT_NEAR(warm[i], b.solution[i], 1e-12 * (1.0 + std::fabs(b.solution[i])))
            << "n " << n << " i " << i;
    }
  }
}

TEST(Nnls, EqualsBruteForceEnumerationOfActiveSets) {
  for (int n = 1; n <= 8; ++n) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      DenseProblem p = RandomProblem(n + 3, n, seed * 31 + n);
      LoadIntoBlock(p);
      NormalEquationBlock& b = NeqBlock();
      ASSERT_TRUE(NNLS());
      const std::vector<double> ref = BruteForce(b, n);
      for (int i = 1; i <= n; ++i)
        EXPECT_NEAR(b.solution[i], ref[i], 1e-9 * (1.0 + std::fabs(ref[i])))
            << "n " << n << " seed " << seed << " i " << i;
      // Started from other amplitudes: from the minimum itself, from every
      // amplitude passive, from every other one, from none.
      const std::vector<double> found(b.solution, b.solution + n + 1);
      for (int start = 0; start < 4; ++start) {
        for (int i = 1; i <= n; ++i)
          b.solution[i] = start == 0 ? found[i] : start == 1 ? 1.0 : start == 2 ? i % 2 : 0.0;
        ASSERT_TRUE(NNLSFromSolution());
        for (int i = 1; i <= n; ++i)
          EXPECT_NEAR(b.solution[i], ref[i], 1e-9 * (1.0 + std::fabs(ref[i])))
              << "n " << n << " seed " << seed << " start " << start << " i " << i;
      }
    }
  }
}

TEST(Nnls, RecoversNonNegativeSolutionFromConsistentData) {
  const int n = 40;
  DenseProblem p = RandomProblem(120, n, 7);
  std::vector<double> truth(n + 1);
  for (int i = 1; i <= n; ++i) truth[i] = (i % 3 == 0) ? 0.0 : 0.5 + 0.1 * i;
  for (int r = 0; r < p.rows; ++r) {
    double s = 0.0;
    for (int i = 1; i <= n; ++i) s += p.x(r, i) * truth[i];
    p.y[r] = s;
  }
  LoadIntoBlock(p);
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(NeqBlock().solution[i], truth[i], 1e-9);
  EXPECT_NEAR(ChiSquareFromNormalEquations(), 0.0, 1e-8 * NeqBlock().sumSquaresData);
}

TEST(Nnls, DiagonalSystemClipsNegativeComponents) {
  const int n = 6;
  AllocNormalEquationBlock(n, 1, 1);
  NormalEquationBlock& b = NeqBlock();
  const double diag[] = {0, 2.0, 4.0, 1.0, 8.0, 0.5, 3.0};
  const double rhs[] = {0, 1.0, -2.0, 3.0, 0.0, -0.1, 6.0};
  for (int i = 1; i <= n; ++i) {
    b.regularizedMatrix[i][i] = diag[i];
    b.rhs[i] = rhs[i];
  }
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= n; ++i) {
    EXPECT_NEAR(b.solution[i], std::max(0.0, rhs[i] / diag[i]), 1e-14);
    EXPECT_EQ(b.passiveSet[i] != 0, rhs[i] > 0.0);
  }
}

TEST(Nnls, ZeroRightHandSideGivesZeroAtOnce) {
  DenseProblem p = RandomProblem(10, 4, 3);
  LoadIntoBlock(p);
  NormalEquationBlock& b = NeqBlock();
  for (int i = 1; i <= 4; ++i) b.rhs[i] = (i == 2) ? 1e-11 : -1.0;
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(b.solution[i], 0.0);
}

namespace {

// Two kernels, the first of which, the first to enter, has a zero pivot.
NormalEquationBlock& ZeroFirstPivotBlock() {
  AllocNormalEquationBlock(2, 1, 1);
  NormalEquationBlock& b = NeqBlock();
  b.regularizedMatrix[1][1] = 0.0;
  b.regularizedMatrix[1][2] = b.regularizedMatrix[2][1] = 1.0;
  b.regularizedMatrix[2][2] = 1.0;
  b.rhs[1] = 1.0;
  b.rhs[2] = 0.0;
  return b;
}

}  // namespace

TEST(Nnls, NonPositivePivotFallsBackToUnconstrainedSolve) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("Error", "matrix not positive definite in NNLS", platform::IDOK);
  NormalEquationBlock& b = ZeroFirstPivotBlock();
  // The unconstrained solve is not positive definite either: reported false.
  EXPECT_FALSE(NNLS());
  EXPECT_NEAR(b.solution[1], -1.0, 1e-12);
  EXPECT_NEAR(b.solution[2], 1.0, 1e-12);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
}

// A kernel that the passive one spans to rounding (its pivot a rounding
// below 0) while its gradient is a rounding above the entry threshold stays
// out: the solution is the passive one's, with no box and no fallback.
TEST(Nnls, AKernelDependentOnThePassiveOnesStaysOut) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  AllocNormalEquationBlock(2, 1, 1);
  NormalEquationBlock& b = NeqBlock();
  // Kernel 2 is half of kernel 1.
  b.regularizedMatrix[1][1] = 4.0;
  b.regularizedMatrix[1][2] = b.regularizedMatrix[2][1] = 2.0;
  b.regularizedMatrix[2][2] = 1.0 - 1e-12;
  b.rhs[1] = 2.0;
  b.rhs[2] = 1.0 + 1e-9;
  EXPECT_TRUE(NNLS());
  EXPECT_DOUBLE_EQ(b.solution[1], 0.5);
  EXPECT_EQ(b.solution[2], 0.0);
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_TRUE(ui.failures.empty());
}

// A solve with no pivot inside a fit's trial: the trial is rejected, with no box,
// no unconstrained solution and no error code of a series; the evaluation
// of a fit's result is a Run's and falls back as above.
TEST(Nnls, NonPositivePivotInsideAFitsTrialRejectsItWithoutABox) {
  const FitEngineState savedEngine = gFitEngineState;
  const ContiSettings savedSettings = Conti();
  for (const bool serial : {false, true}) {
    SCOPED_TRACE(serial ? "in a series" : "alone");
    platform::ScriptedUserInterface ui;
    platform::ScopedUI scope(ui);
    gSerialFitSettings = SerialFitSettings{};
    gSerialFitSettings.running = serial ? 1 : 0;
    gFitEngineState.fitRunning = 1;
    Conti().silent = 1;
    Conti().finalEvaluation = 0;
    NormalEquationBlock& b = ZeroFirstPivotBlock();
    EXPECT_FALSE(NNLS());
    EXPECT_EQ(b.solution[1], 0.0);
    EXPECT_EQ(b.solution[2], 0.0);
    EXPECT_TRUE(TakeNNLSTrialFailure());
    EXPECT_FALSE(TakeNNLSTrialFailure());
    EXPECT_EQ(gSerialFitSettings.errorCode, 0);
    EXPECT_TRUE(ui.transcript.empty());
    EXPECT_TRUE(ui.failures.empty());
  }
  gSerialFitSettings = SerialFitSettings{};
  gFitEngineState = savedEngine;
  Conti().silent = savedSettings.silent;
  Conti().finalEvaluation = savedSettings.finalEvaluation;
}

TEST(Nnls, ChiSquareIsTheSumOfSquaredResiduals) {
  DenseProblem p = RandomProblem(50, 12, 11);
  LoadIntoBlock(p);
  ASSERT_TRUE(NNLS());
  double direct = 0.0;
  for (int r = 0; r < p.rows; ++r) {
    double m = 0.0;
    for (int i = 1; i <= p.n; ++i) m += p.x(r, i) * NeqBlock().solution[i];
    direct += (p.y[r] - m) * (p.y[r] - m);
  }
  EXPECT_NEAR(ChiSquareFromNormalEquations(), direct, 1e-10 * direct);
}
