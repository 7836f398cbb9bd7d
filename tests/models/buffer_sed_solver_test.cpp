#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "models/buffer/buffer_sed_solver.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

constexpr int N = CBufferSedSolver::kNodes;

// Linear interpolation of the node profile at radius x.
double At(const std::vector<double>& r, const std::vector<double>& c, double x) {
  for (int i = 1; i < N; ++i)
    if (x <= r[i + 1]) return c[i] + (c[i + 1] - c[i]) * (x - r[i]) / (r[i + 1] - r[i]);
  return c[N];
}

struct Profiles {
  BufferSedOutcome outcome;
  std::vector<double> r;
  std::vector<std::vector<double>> c;  // by output index, nodes 1..N
  std::vector<int> order;              // output indices in the order received
};

Profiles Solve(const BufferSedPass& pass) {
  CBufferSedSolver solver;
  Profiles p;
  p.c.assign(pass.outputTimes.size(), {});
  p.outcome = solver.Run(pass, [&](int k, const double* c) {
    p.c[k].assign(c, c + N + 1);
    p.order.push_back(k);
  });
  p.r.assign(solver.Radii(), solver.Radii() + N + 1);
  return p;
}

BufferSedPass PassFor(const lammtest::Reference& R) {
  return {.D = R.D, .s = R.s, .amplitude = 1.0, .meniscus = R.m, .bottom = R.b, .rpm = R.rpm,
          .outputTimes = R.times};
}

// Buffer equilibrium c = A e^{sigma (r^2 - m^2)/2} / (e^A - 1) of unit mean,
// sigma = w^2 s / D, A = sigma (b^2 - m^2) / 2.
double Equilibrium(double s, double D, double rpm, double m, double b, double r) {
  const double w = 2 * lammtest::kPi * rpm / 60;
  const double sigma = w * w * s * 1e-13 / D;
  const double A = sigma * (b * b - m * m) / 2;
  return A * std::exp(sigma * (r * r - m * m) / 2) / std::expm1(A);
}

// The buffer of the closed-form checks: 0.21 S, 86e-7 cm^2/s, 50000 rpm,
// column 6.8-7.2 cm.
BufferSedPass ShortColumnBuffer() {
  return {.D = 86e-7, .s = 0.21, .meniscus = 6.8, .bottom = 7.2, .rpm = 50000, .outputTimes = {}};
}

// The independent finite-volume solutions, unit amplitude: every listed
// time, every reference radius.
TEST(BufferSedSolver, MatchesTheReferenceSolutions) {
  struct Case {
    const char* file;
    int firstTime;  // index of the first time compared
    double tolerance;
  };
  for (const Case& k : {Case{"slow-0.5S-backdiffusion.txt", 0, 1e-3},
                        Case{"equilibrium-1S-short-column.txt", 3, 1e-4}}) {
    SCOPED_TRACE(k.file);
    const lammtest::Reference R = lammtest::LoadReference(k.file);
    ASSERT_FALSE(R.times.empty());
    const Profiles p = Solve(PassFor(R));
    ASSERT_NE(p.outcome, BufferSedOutcome::Singular);
    for (size_t t = k.firstTime; t < R.times.size(); ++t) {
      ASSERT_EQ(p.c[t].size(), static_cast<size_t>(N + 1)) << "no profile at " << R.times[t];
      double worst = 0;
      for (size_t j = 0; j < R.r.size(); ++j)
        worst = std::max(worst, std::fabs(At(p.r, p.c[t], R.r[j]) - R.c[j][t]));
      EXPECT_LT(worst, k.tolerance) << "t = " << R.times[t];
    }
  }
}

TEST(BufferSedSolver, ReachesTheClosedFormBufferEquilibrium) {
  BufferSedPass pass = ShortColumnBuffer();
  pass.amplitude = 1.0;
  pass.outputTimes = {2e5};
  const Profiles p = Solve(pass);
  ASSERT_EQ(p.c[0].size(), static_cast<size_t>(N + 1));
  struct Point {
    double r, c;
  };
  for (const Point& q : {Point{6.8, 0.909203}, Point{7.0, 0.997201}, Point{7.2, 1.096649}}) {
    EXPECT_NEAR(Equilibrium(0.21, 86e-7, 50000, 6.8, 7.2, q.r), q.c, 2e-6);
    EXPECT_NEAR(At(p.r, p.c[0], q.r), q.c, 1e-4) << q.r;
  }
}

// A scan set reaching far into the steady state: the run ends early, and
// every later time still gets the final profile, in time order.
TEST(BufferSedSolver, ScansAfterTheSteadyStateGetTheFinalProfile) {
  BufferSedPass pass = ShortColumnBuffer();
  pass.amplitude = 2.0;
  for (int k = 1; k <= 200; ++k) pass.outputTimes.push_back(5000.0 * k);
  const Profiles p = Solve(pass);
  EXPECT_EQ(p.outcome, BufferSedOutcome::SteadyState);
  ASSERT_EQ(p.order.size(), pass.outputTimes.size());
  for (size_t k = 0; k < p.order.size(); ++k) EXPECT_EQ(p.order[k], static_cast<int>(k));
  EXPECT_NEAR(At(p.r, p.c.back(), 7.0), 2 * 0.997201, 2e-4);
}

TEST(BufferSedSolver, ConservesTheLoadedMass) {
  // 40000 rpm reached at 200 rpm/s.
  const BufferSedPass pass{.D = 2e-6, .s = 0.5, .amplitude = 3.0, .meniscus = 6.0, .bottom = 7.2, .rpm = 40000,
                           .rampRate = 200, .rampEnd = 200, .outputTimes = {300, 1000, 5000}};
  const Profiles p = Solve(pass);
  EXPECT_EQ(p.outcome, BufferSedOutcome::Completed);
  // The trapezoid integral of r c over the sector, as the linear elements hold it.
  auto mass = [&](const std::vector<double>& c) {
    double m = 0;
    for (int i = 1; i < N; ++i) m += (p.r[i + 1] - p.r[i]) * (p.r[i] * c[i] + p.r[i + 1] * c[i + 1]) / 2;
    return m;
  };
  const double loaded = 3.0 * (7.2 * 7.2 - 6.0 * 6.0) / 2;
  for (const std::vector<double>& c : p.c) EXPECT_NEAR(mass(c), loaded, 2e-3 * loaded);
}

TEST(BufferSedSolver, StillBufferAndEmptyPass) {
  BufferSedPass pass{.D = 1e-5, .s = 0, .amplitude = 5.0, .meniscus = 6.0, .bottom = 7.2, .rpm = 50000,
                     .outputTimes = {0, 300, 300, 15000}};
  const Profiles p = Solve(pass);
  ASSERT_EQ(p.order.size(), 4u);
  for (const std::vector<double>& c : p.c)
    for (int i = 1; i <= N; ++i) ASSERT_NEAR(c[i], 5.0, 1e-9);
  pass.amplitude = 0;
  const Profiles none = Solve(pass);
  EXPECT_EQ(none.outcome, BufferSedOutcome::Skipped);
  EXPECT_TRUE(none.order.empty());
}

TEST(BufferSedSolver, KeyPressEndsTheRun) {
  BufferSedPass pass = ShortColumnBuffer();
  pass.amplitude = 1.0;
  pass.outputTimes = {1000, 2000};
  CBufferSedSolver solver;
  int received = 0;
  EXPECT_EQ(solver.Run(pass, [&](int, const double*) { ++received; }, [] { return true; }),
            BufferSedOutcome::Interrupted);
  EXPECT_EQ(received, 0);
}

}  // namespace
