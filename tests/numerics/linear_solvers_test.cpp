#include "numerics/linear_solvers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/eigen.h"
#include "numerics/statistics.h"
#include "numerics/triangular_solve.h"
#include "numerics/vector_kernel.h"
#include "platform/fatal_error.h"
#include "platform/scripted_ui.h"

namespace {

template <typename Mat, typename T>
Mat MakeMatrix(const std::vector<std::vector<T>>& rows) {
  const long n = static_cast<long>(rows.size());
  Mat m(1, n, 1, n);
  for (long i = 1; i <= n; ++i)
    for (long j = 1; j <= n; ++j) m.get()[i][j] = rows[i - 1][j - 1];
  return m;
}

template <typename Vec, typename T>
Vec MakeVector(const std::vector<T>& values) {
  Vec v(1, static_cast<long>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) v.get()[i + 1] = values[i];
  return v;
}

TEST(LinearSolvers, LuSolvesTheThreeByThreeExampleInBothPrecisions) {
  const std::vector<std::vector<double>> rows{{2, 1, 1}, {1, 3, 2}, {1, 0, 0}};
  const double expected[] = {6, 15, -23};

  DoubleMat a = MakeMatrix<DoubleMat, double>(rows);
  DoubleVec b = MakeVector<DoubleVec, double>({4, 5, 6});
  SolveLinearSystemD(a, b, 3, true);
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(b[i], expected[i - 1], 1e-12);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a[i][j], rows[i - 1][j - 1]) << "keepA must keep A";

  FloatMat af = MakeMatrix<FloatMat, float>({{2, 1, 1}, {1, 3, 2}, {1, 0, 0}});
  FloatVec bf = MakeVector<FloatVec, float>({4, 5, 6});
  SolveLinearSystem(af, bf, 3, false);
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(bf[i], expected[i - 1], 1e-4);
  EXPECT_EQ(af[1][1], 1.0f) << "without keepA the pivoted factors overwrite A";
}

TEST(LinearSolvers, LuFactorsReproduceThePermutedMatrixAndItsDeterminant) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-1, 1);
  const int n = 6;
  DoubleMat a(1, n, 1, n), lu(1, n, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) lu[i][j] = a[i][j] = u(gen);
  IntVec indx(1, n);
  double d = 0;
  dludcmp(lu, n, indx, &d);
  // Replay the interchanges on a copy of A, then compare with L*U.
  DoubleMat pa(1, n, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) pa[i][j] = a[i][j];
  for (int j = 1; j <= n; ++j)
    if (indx[j] != j)
      for (int k = 1; k <= n; ++k) std::swap(pa[j][k], pa[indx[j]][k]);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double sum = 0;
      for (int k = 1; k <= std::min(i, j); ++k) sum += (k == i ? 1.0 : lu[i][k]) * lu[k][j];
      EXPECT_NEAR(sum, pa[i][j], 1e-12);
    }

  FloatMat m3 = MakeMatrix<FloatMat, float>({{2, -1, 0.5f}, {1, 3, 2}, {4, 0, -1}});
  FloatMat f3 = MakeMatrix<FloatMat, float>({{2, -1, 0.5f}, {1, 3, 2}, {4, 0, -1}});
  IntVec i3(1, 3);
  float d3 = 0;
  ludcmp(f3, 3, i3, &d3);
  EXPECT_NEAR(d3 * f3[1][1] * f3[2][2] * f3[3][3], Determinant3x3(m3), 1e-4);
  EXPECT_FLOAT_EQ(Determinant3x3(m3), 2 * (-3) + 1 * (-1 - 8) + 0.5f * (-12));
  FloatMat m2 = MakeMatrix<FloatMat, float>({{3, 2}, {1, 4}});
  EXPECT_FLOAT_EQ(Determinant2x2(m2), 10);
}

TEST(LinearSolvers, EqualScaledPivotCandidatesSwapInTheLaterRow) {
  FloatMat a = MakeMatrix<FloatMat, float>({{1, 0}, {1, 1}});
  IntVec indx(1, 2);
  float d = 0;
  ludcmp(a, 2, indx, &d);
  EXPECT_EQ(indx[1], 2);
  EXPECT_EQ(d, -1.0f);
}

// A failure that data can bring about ends the command it runs in (its box
// shown, CommandFailure thrown) and leaves the program running.
TEST(LinearSolvers, ARoutineFailureOfTheDataEndsTheCommandNotTheProgram) {
  struct Row {
    const char* text;
    std::function<void()> call;
  };
  const std::vector<Row> rows = {
      {"Singular matrix in routine ludcmp",
       [] {
         DoubleMat a = MakeMatrix<DoubleMat, double>({{1, 2}, {0, 0}});
         DoubleVec b = MakeVector<DoubleVec, double>({1, 1});
         SolveLinearSystemD(a, b, 2, false);
       }},
      {"Singular matrix in routine ludcmp",
       [] {
         DoubleMat a = MakeMatrix<DoubleMat, double>({{1, 2}, {std::nan(""), std::nan("")}});
         DoubleVec b = MakeVector<DoubleVec, double>({1, 1});
         SolveLinearSystemD(a, b, 2, false);
       }},
      {"Singular matrix in routine ludcmp",
       [] {
         FloatMat a = MakeMatrix<FloatMat, float>({{0, 0}, {1, 2}});
         FloatVec b = MakeVector<FloatVec, float>({1, 1});
         SolveLinearSystem(a, b, 2, true);
       }},
      {"Bad x in routine betai", [] { betai(2, 3, std::nan("")); }},
      {"Bad x in routine betai", [] { betai(2, 3, 1.5); }},
      {"Too many iterations in routine jacobi",
       [] {
         FloatMat a = MakeMatrix<FloatMat, float>({{1, std::nanf("")}, {std::nanf(""), 1}});
         FloatMat v(1, 2, 1, 2);
         FloatVec d(1, 2);
         int rotations = 0;
         jacobi(a, 2, d, v, &rotations);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    platform::ScriptedUserInterface ui;
    ui.lenient = true;
    platform::ScopedUI scope(ui);
    platform::ResetQuitRequest();
    EXPECT_THROW(row.call(), platform::CommandFailure);
    EXPECT_FALSE(platform::QuitRequested());
    ASSERT_EQ(ui.transcript.size(), 1u);
    EXPECT_EQ(ui.transcript[0].caption, "Error");
    EXPECT_EQ(ui.transcript[0].text.rfind(row.text, 0), 0u) << ui.transcript[0].text;
  }
  platform::ResetQuitRequest();
  // The F probability of an undefined ratio (0/0) and the F ratio without
  // degrees of freedom are undefined, quietly: no box, no end.
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  EXPECT_TRUE(std::isnan(FDistributionProbability(std::nan(""), 10, 10)));
  EXPECT_EQ(FDistributionProbability(std::numeric_limits<double>::infinity(), 10, 10), 0.0);
  EXPECT_TRUE(std::isnan(FRatioForConfidence(0.95, 0, 0)));
  EXPECT_TRUE(std::isnan(FRatioForConfidence(0.95, -3, -3)));
  EXPECT_TRUE(std::isnan(FRatioForConfidence(1.0, 100, 100)));
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_FALSE(platform::QuitRequested());
}

TEST(LinearSolvers, CholeskyOfTheTwoByTwoExample) {
  // [[4,2],[2,3]] = L L^T with L = [[2,0],[1,sqrt 2]].
  FloatMat a = MakeMatrix<FloatMat, float>({{4, 2}, {2, 3}});
  FloatVec p(1, 2);
  ASSERT_TRUE(choldc(a, 2, p));
  EXPECT_FLOAT_EQ(p[1], 2.0f);
  EXPECT_FLOAT_EQ(p[2], std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(a[2][1], 1.0f);
  EXPECT_EQ(a[1][2], 2.0f) << "the upper triangle stays";
  FloatVec b = MakeVector<FloatVec, float>({2, 1}), x(1, 2);
  cholsl(a, 2, p, b, x);
  EXPECT_NEAR(x[1], 0.5f, 1e-6);
  EXPECT_NEAR(x[2], 0.0f, 1e-6);
  EXPECT_EQ(b[1], 2.0f);

  DoubleMat ad = MakeMatrix<DoubleMat, double>({{4, 2}, {2, 3}});
  DoubleVec bd = MakeVector<DoubleVec, double>({2, 1}), xd(1, 2), pd(1, 2);
  EXPECT_TRUE(dcholsolve(ad, bd, 2, xd, pd));
  EXPECT_NEAR(xd[1], 0.5, 1e-15);
  EXPECT_NEAR(xd[2], 0.0, 1e-15);
  EXPECT_EQ(ad[2][1], 2.0) << "a is left alone";

  FloatVec bf = MakeVector<FloatVec, float>({2, 1});
  FloatMat af = MakeMatrix<FloatMat, float>({{4, 2}, {2, 3}});
  EXPECT_TRUE(cholsolve(af, bf, 2));
  EXPECT_NEAR(bf[1], 0.5f, 1e-6);
  EXPECT_TRUE(choldc(af, 0, p)) << "an empty matrix counts as positive definite";
}

TEST(LinearSolvers, TransposedTriangularSolveOnEveryKernel) {
  // L' w = y for seeded random L with a dominant diagonal: the residual
  // against the plain product, and a column solved alone bit-equal to the
  // same column among others (columns go eight to a group). Sizes on either
  // side of the blocks of eight rows.
  const VectorKernel active = ActiveVectorKernel();
  for (VectorKernel k : kAllVectorKernels) {
    if (!SetActiveVectorKernel(k)) continue;
    SCOPED_TRACE(VectorKernelName(k));
    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 7, 8, 9, 16, 17, 40, 101}) {
      SCOPED_TRACE(n);
      std::vector<std::vector<double>> rows(n + 1, std::vector<double>(n + 1, 0.0));
      std::vector<double*> l(n + 1, nullptr);
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j < i; ++j) rows[i][j] = u(gen) / std::sqrt(static_cast<double>(n));
        rows[i][i] = 2.0 + u(gen);
        l[i] = rows[i].data();
      }
      constexpr int kColumns = 11;
      std::vector<std::vector<double>> y(kColumns, std::vector<double>(n + 1, 0.0)), w = y;
      std::vector<double*> ws;
      for (int c = 0; c < kColumns; ++c) {
        for (int i = 1; i <= n; ++i) y[c][i] = w[c][i] = u(gen);
        ws.push_back(w[c].data());
      }
      SolveTransposedLower(l.data(), n, ws.data(), kColumns);
      for (int c = 0; c < kColumns; ++c) {
        for (int m = 1; m <= n; ++m) {
          double back = 0.0;
          for (int i = m; i <= n; ++i) back += rows[i][m] * w[c][i];
          EXPECT_NEAR(back, y[c][m], 1e-13) << c << " " << m;
        }
      }
      std::vector<double> alone = y[9];
      double* a = alone.data();
      SolveTransposedLower(l.data(), n, &a, 1);
      EXPECT_EQ(alone, w[9]);
    }
    // Sums of terms: the same bits as one pass per term, on lengths about
    // the blocks of eight and thirty-two elements, in place and apart.
    for (int count : {0, 1, 5, 40}) {
      for (int len : {0, 1, 7, 8, 31, 32, 33, 70}) {
        std::vector<std::vector<double>> v(count, std::vector<double>(len + 1));
        std::vector<const double*> vp;
        std::vector<double> c(count), x(len + 1);
        for (int a = 0; a < count; ++a) {
          c[a] = u(gen);
          for (double& e : v[a]) e = u(gen);
          vp.push_back(v[a].data());
        }
        for (double& e : x) e = u(gen);
        std::vector<double> expected = x, apart(len + 1, 0.0), inPlace = x;
        for (int a = 0; a < count; ++a)
          for (int j = 1; j <= len; ++j) {
            volatile double t = c[a] * v[a][j];  // rounded apart from the subtraction
            expected[j] -= t;
          }
        expected[0] = 0.0;
        SubtractTerms(apart.data(), x.data(), c.data(), vp.data(), count, 1, len + 1);
        SubtractTerms(inPlace.data(), inPlace.data(), c.data(), vp.data(), count, 1, len + 1);
        inPlace[0] = 0.0;
        EXPECT_EQ(apart, expected) << count << " terms, " << len;
        EXPECT_EQ(inPlace, expected) << count << " terms, " << len;
      }
    }
  }
  SetActiveVectorKernel(active);
}

TEST(LinearSolvers, IndefiniteMatricesFallBackToLu) {
  // Regular but indefinite: Cholesky refuses, the LU answers x = (1, 1).
  FloatMat a = MakeMatrix<FloatMat, float>({{1, 2}, {2, 1}});
  FloatVec b = MakeVector<FloatVec, float>({3, 3});
  EXPECT_FALSE(cholsolve(a, b, 2));
  EXPECT_NEAR(b[1], 1.0f, 1e-6);
  EXPECT_NEAR(b[2], 1.0f, 1e-6);
  EXPECT_EQ(a[2][1], 2.0f);

  DoubleMat ad = MakeMatrix<DoubleMat, double>({{1, 2}, {2, 1}});
  DoubleVec bd = MakeVector<DoubleVec, double>({3, 3}), x(1, 2), p(1, 2);
  EXPECT_FALSE(dcholsolve(ad, bd, 2, x, p));
  EXPECT_NEAR(x[1], 1.0, 1e-14);
  EXPECT_NEAR(x[2], 1.0, 1e-14);
  EXPECT_EQ(bd[1], 3.0);
  EXPECT_FALSE(SolveNormalEquationsD(ad, bd, 2, x, p));
  EXPECT_NEAR(x[1], 1.0, 1e-14);
}

TEST(LinearSolvers, NormalEquationsDropAllZeroRows) {
  DoubleMat a = MakeMatrix<DoubleMat, double>({{4, 0, 2}, {0, 0, 0}, {2, 0, 3}});
  DoubleVec b = MakeVector<DoubleVec, double>({2, 5, 1}), x(1, 3), p(1, 3);
  EXPECT_TRUE(SolveNormalEquationsD(a, b, 3, x, p));
  EXPECT_NEAR(x[1], 0.5, 1e-15);
  EXPECT_EQ(x[2], 0.0);
  EXPECT_NEAR(x[3], 0.0, 1e-15);
  EXPECT_EQ(b[2], 5.0);
  // An indefinite remainder is solved by LU and still reports true.
  DoubleMat c = MakeMatrix<DoubleMat, double>({{1, 0, 2}, {0, 0, 0}, {2, 0, 1}});
  DoubleVec bc = MakeVector<DoubleVec, double>({3, 0, 3});
  EXPECT_TRUE(SolveNormalEquationsD(c, bc, 3, x, p));
  EXPECT_NEAR(x[1], 1.0, 1e-14);
  EXPECT_NEAR(x[3], 1.0, 1e-14);
}

TEST(LinearSolvers, NonNegativeSolverOnDiagonalSystems) {
  struct Case {
    std::vector<float> diag, b, expected;
  };
  const Case cases[] = {
      {{2, 4, 5}, {4, -1, 10}, {2, 0, 2}},
      {{1, 3}, {-1, 0}, {0, 0}},
      {{3, 1, 2}, {0, 0, 0}, {0, 0, 0}},
      {{2, 2}, {1, 3}, {0.5f, 1.5f}},
  };
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.diag.size());
    FloatMat a(1, n, 1, n);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) a[i][j] = i == j ? c.diag[i - 1] : 0.0f;
    FloatVec b = MakeVector<FloatVec, float>(c.b);
    SolveNormalEquations(a, b, n, true);
    for (int i = 1; i <= n; ++i) EXPECT_FLOAT_EQ(b[i], c.expected[i - 1]) << "index " << i;
  }
}

// Least squares min |M x - y| with x >= 0 through its normal equations; the
// answer must satisfy the optimality conditions: x >= 0, zero gradient on
// the free variables, non-positive gradient b - A x where x = 0.
TEST(LinearSolvers, NonNegativeSolverMeetsTheOptimalityConditions) {
  std::mt19937 gen(2024);
  std::normal_distribution<double> g;
  int constrainedSeen = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 3 + trial % 10, rows = 2 * n + 5;
    std::vector<std::vector<double>> m(rows, std::vector<double>(n));
    std::vector<double> y(rows);
    for (int r = 0; r < rows; ++r) {
      for (int j = 0; j < n; ++j) m[r][j] = g(gen);
      y[r] = g(gen);
    }
    FloatMat a(1, n, 1, n);
    FloatVec b(1, n), x(1, n);
    std::vector<double> ad(n * n), bd(n);
    double scale = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double s = 0;
        for (int r = 0; r < rows; ++r) s += m[r][i] * m[r][j];
        ad[i * n + j] = s;
        a[i + 1][j + 1] = static_cast<float>(s);
        scale = std::max(scale, std::fabs(s));
      }
      double s = 0;
      for (int r = 0; r < rows; ++r) s += m[r][i] * y[r];
      bd[i] = s;
      b[i + 1] = x[i + 1] = static_cast<float>(s);
    }
    SolveNormalEquations(a, x, n, true);
    for (int i = 0; i < n; ++i) {
      ASSERT_GE(x[i + 1], 0.0f);
      double w = bd[i];
      for (int j = 0; j < n; ++j) w -= ad[i * n + j] * x[j + 1];
      if (x[i + 1] > 0) {
        EXPECT_NEAR(w, 0.0, 1e-4 * scale) << "trial " << trial << " index " << i;
      } else {
        EXPECT_LE(w, 1e-4 * scale) << "trial " << trial << " index " << i;
        ++constrainedSeen;
      }
    }
  }
  EXPECT_GT(constrainedSeen, 20) << "the random problems should exercise the constraint";
}

TEST(LinearSolvers, SavitzkyGolayCoefficientsMatchTheTables) {
  struct Case {
    int np, nl, nr, ld, m;
    std::vector<double> byOffset;  // offsets -nl .. nr
    double denominator;
  };
  const Case cases[] = {
      {5, 2, 2, 0, 2, {-3, 12, 17, 12, -3}, 35},
      {7, 3, 3, 0, 2, {-2, 3, 6, 7, 6, 3, -2}, 21},
      {9, 4, 4, 0, 2, {-21, 14, 39, 54, 59, 54, 39, 14, -21}, 231},
      {7, 3, 3, 0, 4, {5, -30, 75, 131, 75, -30, 5}, 231},
      {5, 2, 2, 1, 2, {-2, -1, 0, 1, 2}, 10},
      {3, 1, 1, 0, 1, {1, 1, 1}, 3},
  };
  for (const Case& c : cases) {
    FloatVec coeff(1, c.np);
    savgol(coeff, c.np, c.nl, c.nr, c.ld, c.m);
    for (int k = -c.nl; k <= c.nr; ++k) {
      const int slot = ((c.np - k) % c.np) + 1;
      EXPECT_NEAR(coeff[slot], c.byOffset[k + c.nl] / c.denominator, 2e-6)
          << "np " << c.np << " m " << c.m << " offset " << k;
    }
  }
  FloatVec c5(1, 5);
  savgol(c5, 5, 2, 2, 0, 2);
  EXPECT_NEAR(c5[1], 17.0 / 35, 1e-6);
  EXPECT_NEAR(c5[2], 12.0 / 35, 1e-6);
  EXPECT_NEAR(c5[5], 12.0 / 35, 1e-6);
  EXPECT_NEAR(c5[3], -3.0 / 35, 1e-6);
  EXPECT_NEAR(c5[4], -3.0 / 35, 1e-6);
}

TEST(LinearSolvers, SavitzkyGolayRefusesBadArguments) {
  struct Args {
    int np, nl, nr, ld, m;
  };
  for (const Args& a : {Args{4, 2, 2, 0, 2}, Args{5, -1, 2, 0, 1}, Args{5, 2, 2, 3, 2},
                        Args{5, 1, 0, 0, 2}}) {
    platform::ScriptedUserInterface ui;
    ui.ExpectBox("Error", "bad args in savgol");
    platform::ScopedUI scope(ui);
    FloatVec c(1, 8);
    EXPECT_THROW(savgol(c, a.np, a.nl, a.nr, a.ld, a.m), platform::CommandFailure);
    EXPECT_TRUE(ui.failures.empty());
  }
  platform::ResetQuitRequest();
}

}  // namespace
