// Sedimentation without diffusion in a compressible solvent: the profile of
// the D = 0 path against the characteristics of dr/dt = s(r) w^2 r,
// integrated here step by step with the density of the compressed buffer,
// and the amount c r dr carried along each of them.
#include <gtest/gtest.h>

#include <cmath>

#include "lamm/solvent_model.h"
#include "lamm_test_support.h"

using namespace lammtest;

namespace {

constexpr double kWaterCompressibility = 4.591e-4;  // 1/MPa

struct Compressed {
  double s, rpm, m, kappa, rho0 = 0.99823, vbar = 0.73;
  double Rho(double r) const { return CompressibleSolventDensity(r, rho0, m, rpm, kappa); }
  double Speed(double r) const {  // dr/dt (cm/s)
    const double w = Omega(rpm);
    return s * 1e-13 * (1 - vbar * Rho(r)) / (1 - vbar * rho0) * w * w * r;
  }
  double Move(double r, double t) const {  // RK4 along the characteristic
    const int steps = 400;
    const double h = t / steps;
    for (int i = 0; i < steps; ++i) {
      const double k1 = Speed(r), k2 = Speed(r + h / 2 * k1), k3 = Speed(r + h / 2 * k2), k4 = Speed(r + h * k3);
      r += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
    }
    return r;
  }
  // The concentration at r after t, c0 = 1: the starting radius by
  // bisection, then c r dr = c0 r0 dr0 with dr/dr0 = v(r)/v(r0).
  double Concentration(double r, double t, double lo, double hi) const {
    for (int it = 0; it < 60; ++it) {
      const double mid = 0.5 * (lo + hi);
      (Move(mid, t) < r ? lo : hi) = mid;
    }
    const double r0 = 0.5 * (lo + hi);
    return r0 * Speed(r0) / (r * Speed(r));
  }
};

std::unique_ptr<CLammIdeal> NoDiffusionSolver(Experiment& e, double kappa) {
  auto L = MakeSolver(e, LammSolverSettings{});
  L->SetReactionParameters({.inhomogeneous = true, .staticGradient = true, .compressibility = kappa,
                            .gradientVbar = 0.73f, .bufferViscosityRatio = 1,
                            .bufferDensity = kWaterDensity20C, .bufferVbar = 0.73f,
                            .reference = {kWaterDensity20C, kWaterViscosity20C, 1.0f, 0.73f}});
  SolventGradientSettings sg;
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = true;
  sg.Compressibility = kappa;
  L->SetSolventGradientParameters(sg, 0.73, e.rpm, {}, {});
  return L;
}

}  // namespace

TEST(LammNoDiffusion, CompressibleSolventSlowsTheBoundaryAndRaisesThePlateau) {
  struct Case {
    double s, rpm, kappa;
  };
  for (const Case c : {Case{10, 50000, kWaterCompressibility}, Case{10, 50000, 4 * kWaterCompressibility},
                       Case{4, 60000, kWaterCompressibility}, Case{-6, 40000, kWaterCompressibility},
                       Case{10, 50000, 0}}) {
    SCOPED_TRACE(testing::Message() << "s " << c.s << " rpm " << c.rpm << " kappa " << c.kappa);
    Experiment e{.s = c.s, .D = 0, .rpm = c.rpm, .times = {1000, 3000}, .gridPoints = 1201};
    e.Build();
    auto L = NoDiffusionSolver(e, c.kappa);
    ASSERT_EQ(L->CheckAndRun(), 0);
    const Compressed ref{c.s, c.rpm, e.meniscus, c.kappa};
    for (int k = 1; k <= 2; ++k) {
      const double t = e.times[k - 1];
      const double boundary = ref.Move(c.s > 0 ? e.meniscus : e.bottom, t);
      for (size_t j = 1; j < e.grid.size(); j += 25) {
        const double r = e.grid[j];
        if (std::fabs(r - boundary) < 0.002) continue;
        const bool plateau = c.s > 0 ? r > boundary : r < boundary;
        const double expected = plateau ? ref.Concentration(r, t, e.meniscus, e.bottom) : 0.0;
        ASSERT_NEAR(e.out[k][j], expected, 2e-5) << "scan " << k << " r " << r;
      }
    }
  }
}

// At 50000 rpm after 3000 s, a 10 S species in water (vbar 0.73): the
// compression slows the boundary from 6.5143 to 6.5115 cm and the plateau
// at 7.0 cm is 0.861 of the loading instead of exp(-2 s w^2 t) = 0.848.
TEST(LammNoDiffusion, WaterCompressibilityAtFiftyThousandRpm) {
  Experiment e{.s = 10, .D = 0, .times = {3000}};
  e.gridPoints = 1201;  // 0.001 cm
  e.Build();
  auto L = NoDiffusionSolver(e, kWaterCompressibility);
  ASSERT_EQ(L->CheckAndRun(), 0);
  int at7 = 0, first = 0;
  for (size_t j = 1; j < e.grid.size(); ++j) {
    if (first == 0 && e.out[1][j] > 0) first = static_cast<int>(j);
    if (std::fabs(e.grid[j] - 7.0f) < 1e-4f) at7 = static_cast<int>(j);
  }
  ASSERT_GT(at7, 0);
  EXPECT_NEAR(e.out[1][at7], 0.8613, 5e-4);
  EXPECT_NEAR(e.grid[first], 6.5115, 0.0011);
  const double plain = std::exp(-2 * 10e-13 * e.W2t(3000));
  EXPECT_GT(e.out[1][at7] - plain, 0.01);
}
