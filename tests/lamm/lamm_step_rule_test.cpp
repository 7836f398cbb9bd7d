// The adaptive step rule of the static-grid path at its limits: a boundary
// far steeper than the grid (the refusal of negative values at the start
// once shrank the steps to a microsecond), and a run whose steps a limit
// cuts short. Oracles: the closed form without diffusion (plateau
// c0 exp(-2 s w^2 t), depleted region), and the second moment of the
// boundary, which the Lamm equation places at m exp(s w^2 t) whatever D.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lamm_test_support.h"

using namespace lammtest;

namespace {

struct Moments {
  double secondMoment = 0;  // cm
  double plateau = 0;       // read just before `upTo`
};

// Second-moment radius from the meniscus to `upTo` (trapezoid over the
// output points), with the plateau read at the last point before upTo.
Moments BoundaryMoments(const std::vector<float>& grid, const std::vector<float>& c, double upTo) {
  double integral = 0;
  size_t last = 1;
  for (size_t j = 2; j < grid.size() && grid[j] <= upTo; ++j) {
    integral += 0.5 * (static_cast<double>(c[j]) * grid[j] + static_cast<double>(c[j - 1]) * grid[j - 1]) *
                (grid[j] - grid[j - 1]);
    last = j;
  }
  Moments m;
  m.plateau = c[last];
  const double rp = grid[last];
  m.secondMoment = std::sqrt(rp * rp - 2 * integral / m.plateau);
  return m;
}

}  // namespace

TEST(LammStepRule, BoundaryTooSteepForTheGridEndsInFewStepsAndKeepsTheClosedForm) {
  struct Row {
    const char* name;
    double s, D;   // S, cm^2/s
    double margin;  // cm beyond six diffusion widths where the closed form holds
  };
  const Row rows[] = {
      // The layer D / (s w^2 m) at the meniscus is 6e-5 cm, the grid's
      // elements (797 nodes) 1.5e-3 cm. Before, refusing the undershoot
      // below zero in the first 10 s held the steps at 1e-6 s: 1.2 million
      // steps to the first scan.
      {"10 S, 1e-8 cm^2/s", 10, 1e-8, 0.01},
      // A layer of 1e-6 cm in elements of 6e-4 cm: the static grid rang
      // behind the boundary, by up to 4e-2 of the loading within 0.01 cm and
      // 3.5e-3 at 0.05 cm. Such a species is carried by the moving frame,
      // whose nodes travel with the boundary: within two elements of it the
      // closed form holds.
      {"6 S, 1e-10 cm^2/s", 6, 1e-10, 0.0015},
      {"10 S, 1e-10 cm^2/s", 10, 1e-10, 0.0015},
      {"6 S, 1e-9 cm^2/s", 6, 1e-9, 0.0015},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Experiment e;
    e.s = row.s;
    e.D = row.D;
    e.times = {600, 1200, 2400, 3600};
    e.gridPoints = 3000;
    e.Build();
    auto L = MakeSolver(e, LammSolverSettings{});
    ASSERT_EQ(L->CheckAndRun(), 0);
    EXPECT_TRUE(L->StaticGridChosen());
    EXPECT_LT(L->AcceptedSteps(), 20000);
    const double w2 = Omega(e.rpm) * Omega(e.rpm);
    for (size_t k = 0; k < e.times.size(); ++k) {
      SCOPED_TRACE("t = " + std::to_string(e.times[k]));
      const double sw2t = e.s * 1e-13 * w2 * e.times[k];
      const double rb = e.meniscus * std::exp(sw2t), plateau = std::exp(-2 * sw2t);
      const std::vector<float>& c = e.out[k + 1];
      const Moments m = BoundaryMoments(e.grid, c, 7.0);
      EXPECT_NEAR(m.secondMoment, rb, 2e-5);
      EXPECT_NEAR(m.plateau, plateau, 1e-4);
      // Away from the boundary (six diffusion widths and an element or two)
      // the closed form without diffusion holds.
      const double away = 6 * std::sqrt(2 * e.D * e.times[k]) + row.margin;
      for (size_t j = 1; j < e.grid.size(); ++j) {
        const double r = e.grid[j];
        if (r < rb - away) {
          EXPECT_NEAR(c[j], 0.0, 1e-4) << r;
        } else if (r > rb + away && r < 7.0) {
          EXPECT_NEAR(c[j], plateau, 1e-4) << r;
        }
      }
    }
  }
}

TEST(LammStepRule, AStepLimitEndsTheStaticPathAndTheRetryTakesOver) {
  // Far fewer steps allowed than the static path needs: it gives up as not
  // converging, and the retries (the moving frame) still give the scans.
  const Reference R = LoadReference("static-4.3S.txt");
  Experiment e = ExperimentFor(R, 6.02, 7.1);
  auto L = MakeSolver(e, LammSolverSettings{});
  L->SetStepLimit(50);
  ASSERT_EQ(L->CheckAndRun(), 0);
  EXPECT_LE(L->AcceptedSteps(), 1000);
  for (size_t k = 0; k < R.times.size(); ++k)
    for (size_t j = 0; j < R.r.size(); ++j)
      if (R.r[j] >= 6.02 && R.r[j] <= 7.1) {
        ASSERT_TRUE(std::isfinite(e.out[k + 1][j + 1]));
        EXPECT_NEAR(e.out[k + 1][j + 1], R.c[j][k], 3e-2) << R.r[j];
      }
}
