// Element integrals of the planar and frame-radius solvers: the three-hat
// forms against the two-hat forms they sum to (partition of unity), the
// worked closed forms at the grid ends, Romberg integration against the
// closed forms, and the external loading cell against its volume integral.
#include "lamm/element_integrals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lamm/moving_frame_core.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

std::vector<double> EvenGrid(int n, double m, double b) {
  std::vector<double> x(n + 1, 0.0);
  for (int i = 1; i <= n; ++i) x[i] = m + (b - m) * (i - 1) / (n - 1);
  return x;
}

double Near(double v) { return 1e-12 * std::max(1.0, std::fabs(v)); }

}  // namespace

TEST(FrameElementIntegrals, ThreeHatFormsSumToTheTwoHatForms) {
  // The hats are a partition of unity: summing over the weight hat k turns
  // a three-hat integral into the two-hat one.
  const int N = 9;
  const auto x = lammtest::RandomGrid(N, 5.9, 7.2, 7);
  const double* xi = x.data();
  for (int i = 0; i <= N + 1; ++i) {
    double weights = 0;
    for (int j = 0; j <= N + 1; ++j) {
      double sB = 0, sA = 0, sD = 0, sE = 0, sC = 0;
      for (int k = 0; k <= N + 1; ++k) {
        sB += CalcElementIntegral3B(xi, N, i, j, k);
        sA += CalcElementIntegral3A(xi, N, i, j, k);
        sD += CalcElementIntegral3D(xi, N, i, j, k);
        sE += CalcElementIntegral3E(xi, N, i, j, k);
        sC += CalcElementIntegral3C(xi, N, i, j, k);
      }
      SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
      EXPECT_NEAR(sB, CalcElementIntegral2J(xi, N, i, j), Near(sB));
      EXPECT_NEAR(sA, CalcElementIntegral2K(xi, N, i, j), Near(sA));
      EXPECT_NEAR(sD, CalcElementIntegral2I(xi, N, i, j), Near(sD));
      // (phi_j sum_k phi_k)' = phi_j' and -u (phi_j sum_k phi_k)' = the motion form.
      EXPECT_NEAR(sE, CalcElementIntegral2J(xi, N, i, j), Near(sE));
      EXPECT_NEAR(sC, CalcElementIntegral2L(xi, N, i, j), Near(sC));
      weights += CalcElementIntegral2I(xi, N, i, j);
    }
    EXPECT_NEAR(weights, CalcElementIntegral1(xi, N, i), Near(weights)) << i;
  }
  double total = 0;
  for (int i = 1; i <= N; ++i) total += CalcElementIntegral1(xi, N, i);
  EXPECT_NEAR(total, (x[N] * x[N] - x[1] * x[1]) / 2, 1e-13);
}

TEST(FrameElementIntegrals, WorkedEndValuesAndTheMotionForm) {
  const int N = 7;
  const auto x = lammtest::RandomGrid(N, 6.0, 7.1, 3);
  const double* xi = x.data();
  const double r1 = x[1], r2 = x[2], r3 = x[3], h = r2 - r1;
  const double rN = x[N], rM = x[N - 1], rL = x[N - 2];
  struct Case {
    const char* what;
    double got, want;
  };
  const Case cases[] = {
      {"1(1)", CalcElementIntegral1(xi, N, 1), (r2 * r2 + r1 * r2 - 2 * r1 * r1) / 6},
      {"1(N)", CalcElementIntegral1(xi, N, N), rN * rN / 3 - rN * rM / 6 - rM * rM / 6},
      {"2I(1,1)", CalcElementIntegral2I(xi, N, 1, 1), -r1 * r1 / 4 + r1 * r2 / 6 + r2 * r2 / 12},
      {"2I(2,1)", CalcElementIntegral2I(xi, N, 2, 1), (r2 * r2 - r1 * r1) / 12},
      {"2J(1,2)", CalcElementIntegral2J(xi, N, 1, 2), -(r1 + r2) / (2 * h)},
      {"2K(1,2)", CalcElementIntegral2K(xi, N, 1, 2), -(r1 * r1 + 2 * r1 * r2 + 3 * r2 * r2) / 12},
      {"3A(1,1,1)", CalcElementIntegral3A(xi, N, 1, 1, 1), -(6 * r1 * r1 + 3 * r1 * r2 + r2 * r2) / 30},
      {"3B(1,1,1)", CalcElementIntegral3B(xi, N, 1, 1, 1), (2 * r1 + r2) / (6 * h)},
      {"3D(1,1,1)", CalcElementIntegral3D(xi, N, 1, 1, 1), h * (4 * r1 + r2) / 20},
      {"3E(1,1,1)", CalcElementIntegral3E(xi, N, 1, 1, 1), (2 * r1 + r2) / (3 * h)},
      {"3E(1,1,2)", CalcElementIntegral3E(xi, N, 1, 1, 2), 1.0 / 6},
      {"3E(1,2,1)", CalcElementIntegral3E(xi, N, 1, 2, 1), 1.0 / 6},
      {"3E(1,2,2)", CalcElementIntegral3E(xi, N, 1, 2, 2), -(r1 + 2 * r2) / (3 * h)},
      {"3E(3,3,3)", CalcElementIntegral3E(xi, N, 3, 3, 3),
       x[3] * (x[4] - x[2]) / ((x[3] - x[2]) * (x[4] - x[3]))},
      {"3E(3,2,3)", CalcElementIntegral3E(xi, N, 3, 2, 3), -1.0 / 6},
      {"3E(3,3,4)", CalcElementIntegral3E(xi, N, 3, 3, 4), 1.0 / 6},
      {"3E(3,2,4)", CalcElementIntegral3E(xi, N, 3, 2, 4), 0.0},
      {"3C(1,1,1)", CalcElementIntegral3C(xi, N, 1, 1, 1), (3 * r1 + 2 * r2) * r2 / 30},
      {"3C(1,1,2)", CalcElementIntegral3C(xi, N, 1, 1, 2), r2 * (r2 - r1) / 60},
      {"3C(1,2,1)", CalcElementIntegral3C(xi, N, 1, 2, 1), r2 * (r2 - r1) / 60},
      {"2L(1,1)", CalcElementIntegral2L(xi, N, 1, 1), (r1 + r2) * r2 / 12},
      {"2L(1,2)", CalcElementIntegral2L(xi, N, 1, 2), -(r1 + r2) * r2 / 12},
      {"2L(2,1)", CalcElementIntegral2L(xi, N, 2, 1), (r1 + 3 * r2) * r2 / 12},
      {"2L(2,2)", CalcElementIntegral2L(xi, N, 2, 2), (-r1 * r2 + 2 * r2 * r3 + r3 * r3) / 12},
      {"2L(N-1,N-1)", CalcElementIntegral2L(xi, N, N - 1, N - 1), (rN * rM - 2 * rM * rL - rL * rL) / 12},
      {"2L(N-1,N)", CalcElementIntegral2L(xi, N, N - 1, N), -(3 * rM + rN) * rM / 12},
      {"2L(N,N-1)", CalcElementIntegral2L(xi, N, N, N - 1), (rN + rM) * rM / 12},
      {"2L(N,N)", CalcElementIntegral2L(xi, N, N, N), -(rN + rM) * rM / 12},
      {"2L(4,3)", CalcElementIntegral2L(xi, N, 4, 3), (3 * x[4] * x[4] + 2 * x[4] * x[3] + x[3] * x[3]) / 12},
      {"2L(4,4)", CalcElementIntegral2L(xi, N, 4, 4), (x[5] - x[3]) * (2 * x[4] + x[3] + x[5]) / 12},
      {"2L(4,5)", CalcElementIntegral2L(xi, N, 4, 5), -(3 * x[4] * x[4] + 2 * x[4] * x[5] + x[5] * x[5]) / 12},
      {"3B(0,1,1)", CalcElementIntegral3B(xi, N, 0, 1, 1), 0.0},
      {"3D(1,1,3)", CalcElementIntegral3D(xi, N, 1, 1, 3), 0.0},
      {"3A(N,N,N+1)", CalcElementIntegral3A(xi, N, N, N, N + 1), 0.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.got, c.want, Near(c.want)) << c.what;
}

TEST(FrameElementIntegrals, UniformGridFormsOfTheThreeHatIntegrals) {
  const int N = 11;
  const auto x = EvenGrid(N, 6.0, 7.0);
  const double h = 0.1;
  for (int i = 2; i < N; ++i) {
    const double r = x[i];
    EXPECT_NEAR(CalcElementIntegral3B(x.data(), N, i, i, i), r / h, 1e-11);
    EXPECT_NEAR(CalcElementIntegral3A(x.data(), N, i, i, i), -h * r / 3, 1e-13);
    EXPECT_NEAR(CalcElementIntegral3A(x.data(), N, i, i - 1, i - 1),
                (6 * h * h - 15 * h * r + 10 * r * r) / 30, 1e-13);
  }
}

TEST(Romberg, IntegratesSmoothFunctionsAndInterpolatesExactly) {
  auto expo = [](double r, const void*) { return std::exp(r); };
  EXPECT_NEAR(RombergIntegral(expo, nullptr, 0.0, 1.0), std::exp(1.0) - 1, 3e-6);
  auto zero = [](double, const void*) { return 0.0; };
  EXPECT_EQ(RombergIntegral(zero, nullptr, 6.0, 7.0), 0.0);
  // Neville interpolation reproduces x^3 + x^2 + x + 1 from four points.
  const double xa[] = {0, 1.0, 0.5, -0.25, 2.0}, ya[] = {0, 4.0, 1.875, 0.796875, 15.0};
  double y = 0, dy = 0;
  ASSERT_TRUE(PolintRomberg(xa, ya, 4, 0.3, y, dy));
  EXPECT_NEAR(y, 1.417, 1e-12);
  const double same[] = {0, 1.0, 1.0};
  EXPECT_FALSE(PolintRomberg(same, ya, 2, 0.0, y, dy));
}

TEST(PlanarElementIntegrals, RombergWithUnitWeightEqualsTheClosedForms) {
  for (bool even : {true, false}) {
    const int N = 8;
    const auto x = even ? EvenGrid(N, 6.0, 7.2) : lammtest::RandomGrid(N, 6.0, 7.2, 11);
    ElementIntegralContext unit;
    unit.r = x.data();
    unit.N = N;
    unit.geometry = PlanarGeometry::UnitWeight;
    SelectIntegralWeight(unit);
    ElementIntegralContext linear = unit;
    linear.geometry = PlanarGeometry::Linear;
    SelectIntegralWeight(linear);
    for (int i = 0; i <= N + 1; ++i) {
      EXPECT_NEAR(RombergNodeWeightIntegral(unit, i), RombergNodeWeightIntegral(linear, i), 3e-6);
      double constRow = 0;
      for (int j = 0; j <= N + 1; ++j) {
        SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
        const double a = RombergElementIntegralA(linear, i, j);
        const double b = RombergElementIntegralB(linear, i, j);
        const double c = RombergElementIntegralC(linear, i, j);
        EXPECT_NEAR(RombergElementIntegralA(unit, i, j), a, 3e-6 * std::max(1e-3, std::fabs(a)));
        EXPECT_NEAR(RombergElementIntegralB(unit, i, j), b, 3e-6 * std::max(1.0, std::fabs(b)));
        EXPECT_NEAR(RombergElementIntegralC(unit, i, j), c, 3e-6 * std::max(1.0, std::fabs(c)));
        constRow += ExtLoadElementConst(x.data(), N, i, j);
      }
      // The rows of phi_i phi_j' sum to 0: constants have no slope.
      EXPECT_DOUBLE_EQ(constRow, 0.0) << i;
    }
  }
}

TEST(ExternalLoadingCell, TaperPlacementFromTheOilVolume) {
  using G = ExternalLoadingGeometry;
  EXPECT_NEAR(G::kTaperLength * G::kWidth * G::kDepth * (1 - G::kNarrowing / 2), 0.0120959, 1e-7);
  EXPECT_NEAR(G::kTaperVolume, 0.0120959, 1e-4);
  struct Case {
    double volume, depth;
  };
  for (const Case c : {Case{0.005, 0.017124}, Case{0.0, 0.0}, Case{-0.002, 0.0}, Case{0.02, G::kTaperLength}}) {
    G cell;
    SetupExternalLoadingCell(cell, c.volume, 7.2);
    EXPECT_NEAR(cell.oilDepth, c.depth, 1e-6) << c.volume;
    EXPECT_NEAR(cell.taperStart, 7.2 - (G::kTaperLength - cell.oilDepth), 1e-12) << c.volume;
    if (c.volume > 0 && c.volume < G::kTaperVolume) {
      // The oil volume below the solution: the taper's narrowest d cm.
      const double d = cell.oilDepth, a = G::kNarrowing, L = G::kTaperLength;
      const double oil = G::kWidth * G::kDepth * ((1 - a) * d + a / (2 * L) * d * d);
      EXPECT_NEAR(oil, c.volume, 1e-12);
    }
  }
  G cell;
  SetupExternalLoadingCell(cell, 0.005, 7.2);
  EXPECT_NEAR(cell.taperStart, 7.2 - 0.020176, 1e-6);
  SetupExternalLoadingCell(cell, 0.0, 7.2);
  EXPECT_NEAR(ExtLoadTaperWeight(cell, 7.2), 0.689, 1e-12);
  EXPECT_EQ(ExtLoadTaperWeight(cell, 7.0), 1.0);
}

TEST(ExternalLoadingCell, TaperElementsAndTheFilledTaper) {
  const int N = 121;
  const auto x = EvenGrid(N, 6.0, 7.2);  // h = 0.01
  ElementIntegralContext cell;
  cell.r = x.data();
  cell.N = N;
  cell.geometry = PlanarGeometry::ExternalLoading;
  SelectIntegralWeight(cell, 0.0);
  // Quadrature of the taper weight with the hats of the last element.
  EXPECT_NEAR(RombergElementIntegralA(cell, N, N), 2.36614835e-3, 1e-10);
  EXPECT_NEAR(RombergElementIntegralB(cell, N, N), 73.0689008, 1e-5);
  EXPECT_NEAR(RombergElementIntegralC(cell, N, N), 2.57923580, 1e-6);
  // The element holding r_g is split there: node weights sum to the
  // cross-section integral 1.2 - L a / 2 over the column.
  double area = 0;
  for (int i = 1; i <= N; ++i) area += RombergNodeWeightIntegral(cell, i);
  EXPECT_NEAR(area, 1.2 - ExternalLoadingGeometry::kTaperLength * ExternalLoadingGeometry::kNarrowing / 2, 1e-9);
  // Far above the taper the closed forms hold.
  EXPECT_EQ(RombergElementIntegralA(cell, 10, 11), ExtLoadElementStatic(x.data(), N, 10, 11));

  ElementIntegralContext filled = cell, linear = cell;
  SelectIntegralWeight(filled, 0.0121);
  linear.geometry = PlanarGeometry::Linear;
  SelectIntegralWeight(linear);
  for (int i = N - 5; i <= N; ++i)
    for (int j = i - 1; j <= std::min(N, i + 1); ++j) {
      EXPECT_EQ(RombergElementIntegralA(filled, i, j), RombergElementIntegralA(linear, i, j));
      EXPECT_EQ(RombergElementIntegralB(filled, i, j), RombergElementIntegralB(linear, i, j));
      EXPECT_EQ(RombergElementIntegralC(filled, i, j), RombergElementIntegralC(linear, i, j));
    }
}
