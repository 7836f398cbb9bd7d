#include "lamm/fe_integrals.h"
#include "lamm/lamm_ideal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "tests/lamm/lamm_test_support.h"

namespace {

// Hat function k on the grid x[1..n] and its slope, evaluated inside the
// element [x[e], x[e+1]].
double Hat(const std::vector<double>& x, int k, int e, double r) {
  if (k == e) return (x[e + 1] - r) / (x[e + 1] - x[e]);
  if (k == e + 1) return (r - x[e]) / (x[e + 1] - x[e]);
  return 0;
}
double Slope(const std::vector<double>& x, int k, int e) {
  if (k == e) return -1 / (x[e + 1] - x[e]);
  if (k == e + 1) return 1 / (x[e + 1] - x[e]);
  return 0;
}

// Three-point Gauss quadrature per element over elements 1..L-1; exact for
// the polynomials of degree <= 5 that these integrands are.
double Quadrature(const std::vector<double>& x, int L,
                  const std::function<double(int e, double r)>& f) {
  static const double g[3] = {-std::sqrt(0.6), 0.0, std::sqrt(0.6)};
  static const double w[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};
  double sum = 0;
  for (int e = 1; e < L; ++e) {
    const double a = x[e], b = x[e + 1], mid = 0.5 * (a + b), half = 0.5 * (b - a);
    for (int q = 0; q < 3; ++q) sum += w[q] * half * f(e, mid + half * g[q]);
  }
  return sum;
}

void ExpectClose(long double closed, double quad, const char* what, int i, int j, int k = 0) {
  const double scale = std::max(1.0, std::fabs(quad));
  EXPECT_NEAR(static_cast<double>(closed), quad, 1e-12 * scale)
      << what << " (" << i << ", " << j << (k ? ", " + std::to_string(k) : "") << ")";
}

}  // namespace

TEST(ElementIntegrals, NodeRadiusFormsAgreeWithGaussQuadrature) {
  const int n = 12;
  const std::vector<double> x = lammtest::RandomGrid(n, 6.0, 7.2, 7);
  for (int L : {n, 8}) {  // the whole grid and an active end at node 8
    for (int i = 0; i <= L + 1; ++i) {
      const double weight = (i >= 1 && i <= L)
                                ? Quadrature(x, L, [&](int e, double r) { return r * Hat(x, i, e, r); })
                                : 0.0;
      ExpectClose(FEIntegralSedimentation(x.data(), n, i, L), weight, "weight", i, L);
      for (int j = i - 2; j <= i + 2; ++j) {
        const bool in = i >= 1 && j >= 1 && i <= L && j <= L;
        auto q = [&](const std::function<double(int, double)>& f) {
          return in ? Quadrature(x, L, f) : 0.0;
        };
        ExpectClose(FEIntegralMassNonUniform(x.data(), n, i, j, L),
                    q([&](int e, double r) { return r * Hat(x, i, e, r) * Hat(x, j, e, r); }),
                    "mass", i, j);
        ExpectClose(FEIntegralDiffusionNonUniform(x.data(), n, i, j, L),
                    q([&](int e, double r) { return r * Slope(x, i, e) * Slope(x, j, e); }),
                    "diffusion", i, j);
        ExpectClose(FEIntegralSedimentationNonUniform(x.data(), n, i, j, L),
                    q([&](int e, double r) { return r * r * Slope(x, i, e) * Hat(x, j, e, r); }),
                    "sedimentation", i, j);
      }
    }
  }
}

TEST(ElementIntegrals, UniformGridFormsAgreeWithGaussQuadrature) {
  const int n = 9;
  const double m = 5.9, b = 7.3;
  std::vector<double> x(n + 1, 0.0);
  for (int i = 1; i <= n; ++i) x[i] = m + (b - m) * (i - 1) / (n - 1);
  for (int i = 1; i <= n; ++i) {
    for (int j = 0; j <= n + 1; ++j) {
      const bool in = j >= 1 && j <= n && std::abs(i - j) <= 1;
      ExpectClose(FEIntegralA(x.data(), n, m, b, i, j),
                  in ? Quadrature(x, n, [&](int e, double r) { return r * Hat(x, i, e, r) * Hat(x, j, e, r); }) : 0.0,
                  "A", i, j);
      for (int k = 0; k <= n + 1; ++k) {
        const bool in3 = in && k >= 1 && k <= n && std::abs(i - k) <= 1 && std::abs(j - k) <= 1;
        ExpectClose(FEIntegralB(x.data(), n, m, b, i, j, k),
                    in3 ? Quadrature(x, n, [&](int e, double r) {
                      return r * Slope(x, i, e) * Slope(x, j, e) * Hat(x, k, e, r);
                    })
                        : 0.0,
                    "B", i, j, k);
        ExpectClose(FEIntegralC(x.data(), n, m, b, i, j, k),
                    in3 ? Quadrature(x, n, [&](int e, double r) {
                      return r * r * Slope(x, i, e) * Hat(x, j, e, r) * Hat(x, k, e, r);
                    })
                        : 0.0,
                    "C", i, j, k);
      }
    }
  }
}

TEST(ElementIntegrals, StiffnessRowsSumToZeroAndWeightsToTheSectorArea) {
  const int n = 15;
  const std::vector<double> x = lammtest::RandomGrid(n, 6.1, 7.0, 3);
  for (int L : {n, 10}) {
    double weights = 0;
    for (int i = 1; i <= L; ++i) {
      long double row = 0, column = 0;
      for (int j = i - 1; j <= i + 1; ++j) {
        row += FEIntegralDiffusionNonUniform(x.data(), n, i, j, L);
        // Constants are transported without change in shape: the columns
        // of the sedimentation operator sum to zero.
        column += FEIntegralSedimentationNonUniform(x.data(), n, j, i, L);
      }
      EXPECT_NEAR(static_cast<double>(row), 0.0, 1e-12) << i;
      EXPECT_NEAR(static_cast<double>(column), 0.0, 1e-12) << i;
      weights += static_cast<double>(FEIntegralSedimentation(x.data(), n, i, L));
    }
    EXPECT_NEAR(weights, (x[L] * x[L] - x[1] * x[1]) / 2, 1e-13);
  }
}

namespace {
// Opens the frame integrals of a solver set up on the moving frame.
class FrameProbe : public CLammIdeal {
 public:
  explicit FrameProbe(double s, bool steep) {
    SetOutputParameters(s, 1e-7, 6.0, 7.2, 1, 6.1f, 7.1f);
    N_ = 9;
    opt_.movingFrame = true;
    opt_.staticGrid = false;
    AllocWorkMemory();
    sStar_ = s;
    rotor_.rpm = 40000;
    SetupMovingFrameGrid();
    steep_ = steep;
  }
  int N() const { return N_; }
  const double* xi() const { return xi_; }
};
}  // namespace

TEST(FrameIntegrals, CombinedEndRowsMatchTheirClosedForms) {
  for (double s : {4.0, -4.0}) {
    FrameProbe p(s, false);
    const double* x = p.xi();
    const int N = p.N();
    const double x1 = x[1], x2 = x[2], x3 = x[3], a = x[N - 2], b = x[N - 1], c = x[N];
    EXPECT_NEAR(p.FrameIntegralCombined(1, 1), x2 * x2 / 6 + x1 * x2 / 4 + x1 * x1 / 4, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(1, 2), (2 * x2 * x2 + x1 * x2 + x1 * x1) / 12, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(2, 1), x2 * x2 / 6 - x1 * x1 / 4 - x1 * x2 / 12, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(2, 2),
                x3 * x3 / 6 + x2 * x3 / 3 - x1 * x1 / 12 - x1 * x2 / 4, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(N - 1, N - 1),
                c * b / 4 + c * c / 12 - b * a / 3 - a * a / 6, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(N - 1, N), c * b / 12 + c * c / 4 - b * b / 6, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(N, N - 1), -(c * c + c * b + 2 * b * b) / 12, 1e-12);
    EXPECT_NEAR(p.FrameIntegralCombined(N, N), -c * c / 4 - c * b / 4 - b * b / 6, 1e-12);
    // Away from the ends motion minus sedimentation is twice the mass.
    for (int i = 3; i <= N - 2; ++i)
      for (int j = i - 1; j <= i + 1; ++j)
        EXPECT_NEAR(p.FrameIntegralCombined(i, j), 2 * p.FrameIntegralMass(i, j), 1e-12);
    double weights = 0;
    for (int i = 1; i <= N; ++i) weights += p.FrameIntegralWeight(i);
    EXPECT_NEAR(weights, (c * c - x1 * x1) / 2, 1e-12);
  }
}

TEST(FrameIntegrals, SteepGradientTermsAreOutflowAtThePileUp) {
  for (double s : {4.0, -4.0}) {
    FrameProbe plain(s, false), steep(s, true);
    const double* x = steep.xi();
    const int N = steep.N();
    const int e = s > 0 ? N : 1;
    const double x2 = x[e] * x[e];
    EXPECT_NEAR(steep.FrameIntegralSedimentation(e, e) - plain.FrameIntegralSedimentation(e, e),
                s > 0 ? -x2 : x2, 1e-12);
    // The combined form carries the same outflow as motion minus sedimentation.
    EXPECT_NEAR(steep.FrameIntegralCombined(e, e),
                steep.FrameIntegralMotion(e, e) - steep.FrameIntegralSedimentation(e, e), 1e-12);
    // Diffusion rows still sum to zero with the end terms.
    double row = 0;
    for (int j = e - 1; j <= e + 1; ++j) row += steep.FrameIntegralDiffusion(e, j);
    EXPECT_NEAR(row, 0.0, 1e-12);
  }
}
