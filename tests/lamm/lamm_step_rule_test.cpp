// The adaptive step rule of the static-grid path at its limits: a boundary
// far steeper than the grid (the refusal of negative values at the start
// once shrank the steps to a microsecond), and a run whose steps a limit
// cuts short; the scans of the profile the rule takes, under each kernel. Oracles: the closed form without diffusion (plateau
// c0 exp(-2 s w^2 t), depleted region), and the second moment of the
// boundary, which the Lamm equation places at m exp(s w^2 t) whatever D
// (a floating one at b exp(s w^2 t)).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lamm/global/static_grid_lamm.h"
#include "lamm/static_grid_kernels.h"
#include "lamm_test_support.h"
#include "numerics/vector_kernel.h"

using namespace lammtest;

namespace {

struct Moments {
  double secondMoment = 0;  // cm
  double plateau = 0;       // read just before `upTo`
};

// A floating boundary's from `from` in the plateau to the bottom, where the
// Lamm equation places it at b exp(s w^2 t): rb^2 = rp^2 + 2 int c r dr / plateau.
Moments FloatingBoundaryMoments(const std::vector<float>& grid, const std::vector<float>& c, double from) {
  double integral = 0;
  size_t first = grid.size() - 1;
  for (size_t j = grid.size() - 1; j >= 2 && grid[j - 1] >= from; --j) {
    integral += 0.5 * (static_cast<double>(c[j]) * grid[j] + static_cast<double>(c[j - 1]) * grid[j - 1]) *
                (grid[j] - grid[j - 1]);
    first = j - 1;
  }
  Moments m;
  m.plateau = c[first];
  const double rp = grid[first];
  m.secondMoment = std::sqrt(rp * rp + 2 * integral / m.plateau);
  return m;
}

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
    int steps = 20000;
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
      // Floating from the bottom, a depletion layer there far thinner than
      // the moving frame's last element: it undershoots there at any step.
      // Halving each such step down to 0.2 s took 840 and 530 steps at
      // 25 times the cost, for nothing the grid resolves.
      {"-1.2 S, 2e-10 cm^2/s", -1.2, 2e-10, 0.01, 400},
      {"-5 S, 5e-10 cm^2/s", -5, 5e-10, 0.01, 480},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Experiment e{.s = row.s, .D = row.D, .times = {600, 1200, 2400, 3600}, .gridPoints = 3000};
    auto L = BuiltSolver(e);
    ASSERT_EQ(L->CheckAndRun(), 0);
    const bool floating = row.s < 0;
    // A floating species can go to the moving frame at once.
    if (!floating) {
      EXPECT_TRUE(L->StaticGridChosen());
    }
    EXPECT_LT(L->AcceptedSteps(), row.steps);
    const double w2 = Omega(e.rpm) * Omega(e.rpm);
    // The plateau a floating species leaves behind its boundary starts here.
    constexpr double kFloatingPlateauFrom = 6.3;
    for (size_t k = 0; k < e.times.size(); ++k) {
      SCOPED_TRACE("t = " + std::to_string(e.times[k]));
      const double sw2t = e.s * 1e-13 * w2 * e.times[k];
      const double rb = (floating ? e.bottom : e.meniscus) * std::exp(sw2t), plateau = std::exp(-2 * sw2t);
      const std::vector<float>& c = e.out[k + 1];
      const Moments m =
          floating ? FloatingBoundaryMoments(e.grid, c, kFloatingPlateauFrom) : BoundaryMoments(e.grid, c, 7.0);
      EXPECT_NEAR(m.secondMoment, rb, 2e-5);
      EXPECT_NEAR(m.plateau, plateau, 1e-4);
      // Away from the boundary (six diffusion widths and an element or two)
      // the closed form without diffusion holds.
      const double away = 6 * std::sqrt(2 * e.D * e.times[k]) + row.margin;
      const double low = floating ? kFloatingPlateauFrom : e.meniscus, high = floating ? e.bottom : 7.0;
      for (size_t j = 1; j < e.grid.size(); ++j) {
        const double r = e.grid[j];
        if (r < low || r > high) continue;
        if (r < rb - away) {
          EXPECT_NEAR(c[j], floating ? plateau : 0.0, 1e-4) << r;
        } else if (r > rb + away) {
          EXPECT_NEAR(c[j], floating ? 0.0 : plateau, 1e-4) << r;
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

namespace {

// The scans of the step loop by their definitions, one node after another.
double PlainLargestValue(const double* c, int from, int to, double acc) {
  for (int i = from; i <= to; ++i) acc = acc < c[i] ? c[i] : acc;
  return acc;
}

bool PlainOverflows(const double* c, int n) {
  for (int i = 1; i <= n; ++i)
    if (!(std::fabs(c[i]) <= 1e100)) return true;
  return false;
}

bool PlainAllWithinRange(const double* c, int from, int to) {
  for (int i = from; i <= to; ++i)
    if (!(c[i] < 1e100 && c[i] > -1e100)) return false;
  return true;
}

double PlainLargestChange(const double* c, const double* p, int from, int to, double floor,
                          double acc) {
  for (int i = from; i <= to; ++i) {
    const double d = c[i] - p[i];
    double v = 0;
    if (p[i] > floor) v = std::fabs(d / p[i]);
    else if (d > floor && p[i + 1] > floor) v = std::fabs(d / p[i + 1]);
    else if (d > floor && i > 1 && p[i - 1] > floor) v = std::fabs(d / p[i - 1]);
    acc = acc < v ? v : acc;
  }
  return acc;
}

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

}  // namespace

// Each kernel's scans give the plain loops' results to the bit, over seeded
// random profiles of every length to 40 and of user sizes, with the values
// that test their rules: NaN and infinities, the +-1e100 limits, zeros of
// either sign, subnormals, values at the floor, and changes that tie the
// largest one within an ulp (the change skips the division of a node that
// cannot raise the maximum, which must never skip one that does).
TEST(LammStepRule, ProfileScansOfEveryKernelGiveThePlainLoopsResults) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double specials[] = {nan,   HUGE_VAL, -HUGE_VAL, 1e100, -1e100, 0.0,   -0.0,
                             4e-320, DBL_MIN,  1e-4,      1.0,   -1.0,   1e300, DBL_MAX};
  std::mt19937_64 gen(20261209);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const VectorKernel active = ActiveVectorKernel();
  int cases = 0;
  for (int length : {1, 2, 3, 5, 8, 9, 15, 16, 17, 23, 31, 33, 40, 135, 1000, 10000}) {
    for (int variant = 0; variant < 12; ++variant) {
      // 1-based nodes with one node beyond the last (p_{to+1}).
      std::vector<double> c(length + 2), p(length + 2);
      const double tie = 1e-3 * (1 + unit(gen));
      for (int i = 0; i <= length + 1; ++i) {
        p[i] = variant % 4 == 3 ? 1e-4 * unit(gen) : unit(gen);
        // Every third variant a change of one size everywhere (ties
        // within rounding), else a random one.
        c[i] = variant % 3 == 0 ? p[i] * (1 + tie) : p[i] + 0.01 * (unit(gen) - 0.5);
      }
      if (variant >= 6) {
        for (int k = 0; k < 1 + length / 50; ++k) {
          const int i = 1 + static_cast<int>(unit(gen) * length);
          (unit(gen) < 0.5 ? c : p)[i] = specials[static_cast<size_t>(unit(gen) * std::size(specials))];
        }
      }
      // The step's overflow test, over the whole profile (+-1e100 itself
      // is no overflow).
      EXPECT_EQ(StaticGridProfileOverflows(c.data(), length), PlainOverflows(c.data(), length))
          << "length " << length << " variant " << variant;
      const int from = variant % 2 == 0 ? 1 : 1 + static_cast<int>(unit(gen) * length);
      const int to = length;
      const double floor = variant % 4 == 3 ? 5e-5 : 1e-4;
      // A moving-frame period step's right side over its pivots, from the
      // profiles as its bands and pivots.
      {
        std::vector<double> plain(length + 2, 0.0);
        const double* lo = p.data();
        const double* up = c.data() + 1;
        for (int i = from; i <= to; ++i)
          plain[i] = (lo[i] * c[i - 1] + p[i] * c[i] + up[i] * c[i + 1]) * c[i];
        for (VectorKernel k : kAllVectorKernels) {
          if (!SetActiveVectorKernel(k)) continue;
          std::vector<double> got(length + 2, 0.0);
          PeriodRightSides(lo, p.data(), up, c.data(), c.data(), got.data(), from, to - 1);
          for (int i = from; i < to; ++i)
            EXPECT_TRUE(Bits(got[i]) == Bits(plain[i]) || (std::isnan(got[i]) && std::isnan(plain[i])))
                << VectorKernelName(k) << " length " << length << " variant " << variant << " row " << i;
        }
      }
      const double accs[] = {0.0, 0.5 * tie, tie, 4e-320, 10.0};
      for (double acc : accs) {
        const double value = PlainLargestValue(c.data(), from, to, acc);
        const bool within = PlainAllWithinRange(c.data(), from, to);
        const double change = PlainLargestChange(c.data(), p.data(), from, to, floor, acc);
        for (VectorKernel k : kAllVectorKernels) {
          if (!SetActiveVectorKernel(k)) continue;
          SCOPED_TRACE(testing::Message() << VectorKernelName(k) << " length " << length
                                          << " variant " << variant << " from " << from << " acc " << acc);
          EXPECT_EQ(Bits(LargestValue(c.data(), from, to, acc)), Bits(value));
          EXPECT_EQ(AllWithinRange(c.data(), from, to), within);
          const double got = LargestChange(c.data(), p.data(), from, to, floor, acc);
          EXPECT_TRUE(Bits(got) == Bits(change) || (std::isnan(got) && std::isnan(change)))
              << got << " " << change;
          ++cases;
        }
      }
    }
  }
  SetActiveVectorKernel(active);
  EXPECT_GT(cases, 16 * 12 * 5);
}

// A run that trims its depleted start and then fails (the start region
// turns over at the fourth node, as it does for these species with fifty
// scans) is done again without trimming, from where the two runs part. Its
// scans, steps and last profile are those of a run that never trimmed, to
// the bit, also when the solver object runs the species a second time.
TEST(LammStepRule, AFailedTrimmingRunIsRetriedAsTheRunWithoutTrimming) {
  struct Row {
    double s, D;
  };
  const Row rows[] = {{4.3, 6e-7}, {10.0, 3.9e-7}, {2.0, 8.8e-7}, {4.3, 3.1e-7}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.s << " S, D " << row.D);
    Experiment trimmed, plain;
    for (Experiment* e : {&trimmed, &plain}) {
      e->s = row.s;
      e->D = row.D;
      e->times.clear();
      for (int k = 1; k <= 50; ++k) e->times.push_back(300.0 * k);
      e->Build();
    }
    LammSolverSettings st;
    ASSERT_EQ(st.truncateGrid, 1);
    auto L = MakeSolver(trimmed, st);
    st.truncateGrid = 0;
    auto P = MakeSolver(plain, st);
    ASSERT_EQ(P->CheckAndRun(), kLammSolved);
    for (int run = 0; run < 2; ++run) {
      ASSERT_EQ(L->CheckAndRun(), kLammSolved);
      EXPECT_EQ(L->AcceptedSteps(), P->AcceptedSteps());
      ASSERT_EQ(L->NodeCount(), P->NodeCount());
      EXPECT_EQ(std::memcmp(L->Concentration() + 1, P->Concentration() + 1, L->NodeCount() * sizeof(double)), 0)
          << "run " << run;
      for (size_t k = 1; k < plain.out.size(); ++k)
        ASSERT_EQ(std::memcmp(trimmed.out[k].data(), plain.out[k].data(), plain.out[k].size() * sizeof(float)), 0)
            << "scan " << k << " run " << run;
    }
  }
}
