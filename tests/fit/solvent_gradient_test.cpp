// The inhomogeneous solvent: density, viscosity and buoyancy formulas, the
// conversions to 20 degC water and back, the weighted element integrals
// against the plain ones, and the cosolute solver against mass
// conservation, a reference solution and the CsCl equilibrium.
#include "fit/solvent_gradient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/element_integrals.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/solver_display.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "tests/lamm/lamm_test_support.h"
#include "tests/support/file_text.h"

namespace {

class SolventGradient : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    CurrentSolventGradientSettings() = SolventGradientSettings{};
    CurrentCosoluteCoefficients() = CosoluteCoefficients{};
    CurrentCosolute() = CosoluteState{};
    CurrentLocalSolventFactors() = LocalSolventFactors{};
    ResetSolventListNotes();
    gModelParams = ModelParams{};
    gSolutionConditions = SolutionConditions{};
    CurrentLammRunState() = LammRunState{};
    LammSettings() = LammSolverSettings{};
    platform::StopFlag() = false;
  }
  // The cosolute on m..b at c0, n nodes.
  static void StartCosolute(double m, double b, double rpm, int n, double c0) {
    gModelParams.meniscus = static_cast<float>(m);
    gModelParams.bottom = static_cast<float>(b);
    CurrentLammRunState().rpm = rpm;
    SolventGradientSettings& sg = CurrentSolventGradientSettings();
    sg.CosoluteGridSize = n;
    sg.CosoluteLoadingConcentration = c0;
    ASSERT_TRUE(InitCosoluteGradient());
  }
  static double Amount() {
    const CosoluteState& cs = CurrentCosolute();
    double sum = 0;
    for (int i = 1; i <= cs.n; ++i) sum += CalcElementIntegral2E(cs.r.data(), cs.n, i, cs.n) * cs.c[i];
    return sum;
  }
};

TEST_F(SolventGradient, DensityViscosityAndBuoyancyFormulas) {
  EXPECT_NEAR(CompressibleSolventDensity(7.2, 0.99823, 6.0, 50000, 4.591e-4), 1.008263, 1e-6);
  EXPECT_DOUBLE_EQ(CompressibleSolventDensity(7.2, 0.99823, 6.0, 50000, 0), 0.99823);
  // No lists: water at 20 degC.
  EXPECT_NEAR(DensityAtConcentration(1.5), 0.99823, 1e-7);
  EXPECT_NEAR(ViscosityAtConcentration(1.5), 0.001002, 1e-10);
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.DensityCoefficients = {0, 0.99823, 0, 12.7};
  EXPECT_NEAR(DensityAtConcentration(1.5), 1.188730, 1e-6);
  // A slight undershoot of the cosolute profile is no concentration.
  sg.DensityCoefficients = {0, 1.0, 5.0};
  EXPECT_DOUBLE_EQ(DensityAtConcentration(-1e-9), 1.0);
  sg.DensityCoefficients = {0, 1.02};
  EXPECT_DOUBLE_EQ(DensityAtConcentration(3.0), 1.02);
  sg.ViscosityCoefficients = {0, 1.0, 0, 10.0};
  EXPECT_NEAR(ViscosityAtConcentration(2.0), 0.001002 * 1.2, 1e-10);
  EXPECT_NEAR(CsClSedimentationCoefficient25C(1.0), 0.509446, 1e-6);
  EXPECT_NEAR(CsClDiffusionCoefficient25C(1.0), 1.89890e-5, 1e-10);
}

TEST_F(SolventGradient, ConversionToWaterAndBack) {
  SolventGradientSettings sg;
  sg.BufferDensity1atm = 1.05f;
  sg.BufferViscosity1atm = 0.0011f;
  sg.ViscosityRatio = sg.BufferViscosity1atm / kWaterViscosity20C;
  EXPECT_NEAR(sg.ViscosityRatio, 1.097804, 1e-6);
  float s[4] = {0, 4.0f, -2.0f, 1.0f}, D[4] = {0, 5.0f, 0.0f, -1.0f};
  ConvertSpeciesToStandard(sg, 0.73, s, D, 3);
  EXPECT_NEAR(s[1], 5.101938, 2e-5);
  EXPECT_NEAR(D[1], 5.489022, 2e-5);
  EXPECT_EQ(D[2], 0.0f);
  EXPECT_EQ(D[3], 0.0f);
  ConvertSpeciesToExperimental(sg, 0.73, s, D, 3);
  EXPECT_NEAR(s[1], 4.0, 1e-5);
  EXPECT_NEAR(s[2], -2.0, 1e-5);
  EXPECT_NEAR(D[1], 5.0, 1e-5);
  // The local factors of the uniform buffer undo the conversion.
  gSolutionConditions.vbar = 0.73f;
  CurrentSolventGradientSettings() = sg;
  EXPECT_NEAR(LocalSolventDensityViscosity(5.101938), 4.0, 2e-5);
}

TEST_F(SolventGradient, SettingsThatWouldDivideByZeroAreRefused) {
  struct Case {
    void (*change)(SolventGradientSettings&);
    double vbar;
    bool refused;
  };
  const Case cases[] = {
      {[](SolventGradientSettings&) {}, 0.73, false},
      {[](SolventGradientSettings& s) { s.BufferDensity1atm = 0; }, 0.73, true},
      {[](SolventGradientSettings& s) { s.BufferViscosity1atm = 0; }, 0.73, true},
      {[](SolventGradientSettings& s) { s.BufferDensity1atm = 1 / 0.73f; }, 0.73, true},
      {[](SolventGradientSettings&) {}, 1 / 0.99823, true},
      {[](SolventGradientSettings& s) { s.DynamicGradient = true, s.CosoluteGridSize = 2; }, 0.73, true},
      {[](SolventGradientSettings& s) { s.DynamicGradient = true, s.CosoluteGridSize = 3; }, 0.73, false},
  };
  for (const Case& c : cases) {
    SolventGradientSettings sg;
    c.change(sg);
    EXPECT_EQ(!SolventGradientProblem(sg, c.vbar).empty(), c.refused);
  }
}

TEST_F(SolventGradient, WeightedIntegralsWithUnitFactorsAreThePlainOnes) {
  const int n = 7;
  std::vector<double> r(n + 1), one(n + 1, 1.0), e(n + 1), q(n + 1);
  for (int i = 1; i <= n; ++i) r[i] = 6.0 + 0.13 * (i - 1) + 0.01 * i * i;
  for (int i = 1; i <= n; ++i) e[i] = 0.9 + 0.01 * i, q[i] = 0.8 - 0.02 * i;
  for (int i = 1; i <= n; ++i)
    for (int j = std::max(1, i - 1); j <= std::min(n, i + 1); ++j) {
      const double a = CalcElementIntegral2G(r.data(), n, i, j, n);
      const double b = CalcElementIntegral2H(r.data(), n, i, j, n);
      EXPECT_NEAR(WeightedElementA(i, j, r.data(), n, one.data()), a, 1e-12 * std::fabs(a));
      EXPECT_NEAR(WeightedElementB(i, j, r.data(), n, one.data(), one.data()), b, 1e-12 * std::fabs(b));
      // Constant factors scale them.
      std::vector<double> k(n + 1, 0.7);
      EXPECT_NEAR(WeightedElementB(i, j, r.data(), n, k.data(), one.data()), 0.7 * b, 1e-12 * std::fabs(b));
    }
  // The e_1 q_1 part of (1,1).
  std::vector<double> e1(n + 1, 0.0);
  e1[1] = 1;
  EXPECT_NEAR(WeightedElementB(1, 1, r.data(), n, e1.data(), e1.data()),
              -(10 * r[1] * r[1] + 4 * r[1] * r[2] + r[2] * r[2]) / 60, 1e-12);
  // The species grid's integrals in a compressible buffer, as assembled.
  gModelParams.meniscus = 6.0f;
  CurrentLammRunState().rpm = 50000;
  gSolutionConditions.vbar = 0.73f;
  InitLocalSDFactors(r.data(), n);
  const LocalSolventFactors& f = CurrentLocalSolventFactors();
  EXPECT_LT(f.q[n], f.q[1]);  // denser at the bottom
  for (int i = 1; i <= n; ++i)
    for (int j = std::max(1, i - 1); j <= std::min(n, i + 1); ++j) {
      const double b = WeightedElementB(i, j, r.data(), n, f.e.data(), f.q.data());
      EXPECT_NEAR(DensgradElementB(i, j, r.data(), n), b, 1e-12 * std::fabs(b));
    }
  // Columns of the sedimentation part sum to zero: no flux leaves the cell.
  for (int j = 1; j <= n; ++j) {
    double sum = 0;
    for (int i = std::max(1, j - 1); i <= std::min(n, j + 1); ++i)
      sum += WeightedElementB(i, j, r.data(), n, e.data(), q.data());
    EXPECT_NEAR(sum, 0, 1e-12);
  }
}

TEST_F(SolventGradient, CosoluteKeepsItsAmount) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.NonidealCosolute = false;
  sg.CosoluteS = 0.5327;
  sg.CosoluteD = 2.03e-5;
  StartCosolute(6.8, 7.2, 50000, 50, 1.5);
  const double before = Amount();
  for (int k = 0; k < 300; ++k) ASSERT_TRUE(AdvanceCosolute(100, 50000));
  EXPECT_NEAR(Amount() / before, 1.0, 1e-10);
  EXPECT_GT(CurrentCosolute().c[50], 1.5);
}

TEST_F(SolventGradient, ZoneLamellaStartsWithoutCosolute) {
  gModelSelectorFlags.ZoneCentrifugationModel = 1;
  gModelParams.zoneValue = 0.05f;
  StartCosolute(6.0, 7.0, 50000, 101, 1.5);
  const CosoluteState& cs = CurrentCosolute();
  EXPECT_EQ(cs.c[5], 0.0);  // 6.04 cm
  EXPECT_EQ(cs.c[7], 1.5);  // 6.06 cm
  gModelSelectorFlags = ModelSelectorFlags{};
}

TEST_F(SolventGradient, IdealCosoluteAgreesWithTheReferenceSolution) {
  const lammtest::Reference R = lammtest::LoadReference("slow-0.5S-backdiffusion.txt");
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.CosoluteS = R.s;
  sg.CosoluteD = R.D;
  for (const auto& [n, tolerance] : {std::pair{200, 3e-4}, std::pair{50, 2e-3}}) {
    StartCosolute(R.m, R.b, R.rpm, n, 1.0);
    double t = 0, worst = 0;
    for (size_t j = 0; j < R.times.size(); ++j) {
      while (t < R.times[j] - 1e-9) {
        const double dt = std::min(2.0, R.times[j] - t);
        ASSERT_TRUE(AdvanceCosolute(dt, R.rpm));
        t += dt;
      }
      for (size_t p = 0; p < R.r.size(); ++p)
        if (R.r[p] <= 7.18) worst = std::max(worst, std::fabs(CosoluteConcentrationAt(R.r[p]) - R.c[p][j]));
    }
    EXPECT_LT(worst, tolerance) << n;
  }
}

TEST_F(SolventGradient, CsClReachesItsEquilibrium) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.NonidealCosolute = sg.CsClAt25C = true;
  StartCosolute(6.8, 7.2, 40000, 50, 1.5);
  for (int k = 0; k < 2000; ++k) ASSERT_TRUE(AdvanceCosolute(100, 40000));
  EXPECT_NEAR(CosoluteConcentrationAt(6.8), 1.40960, 2e-4);
  EXPECT_NEAR(CosoluteConcentrationAt(7.0), 1.49797, 2e-4);
  EXPECT_NEAR(CosoluteConcentrationAt(7.2), 1.59326, 2e-4);
}

TEST_F(SolventGradient, MissingListStopsTheRunWithOneMessage) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.NonidealCosolute = true;
  CurrentCosoluteCoefficients().sPath = "absent-s.dat";
  CurrentCosoluteCoefficients().dPath = "absent-d.dat";
  gModelParams.meniscus = 6.8f;
  gModelParams.bottom = 7.2f;
  sg.CosoluteGridSize = 50;
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  for (int k = 0; k < 3; ++k) {
    CurrentLammRunState().running = 1;
    EXPECT_FALSE(InitCosoluteGradient());
    EXPECT_EQ(CurrentLammRunState().running, 0);
  }
  EXPECT_TRUE(platform::StopFlag().load());
  ASSERT_EQ(ui.transcript.size(), 1u);
  EXPECT_EQ(ui.transcript[0].text, "\nAttention: could not open absent-d.dat");
  // A polynomial D(c) that turns negative ends the run as well.
  std::ofstream("s.dat") << "0.5\n";
  std::ofstream("d.dat") << "1e-5\n-1e-5\n";
  CurrentCosoluteCoefficients().sPath = "s.dat";
  CurrentCosoluteCoefficients().dPath = "d.dat";
  ResetSolventListNotes();
  sg.CosoluteLoadingConcentration = 1.5;
  CurrentLammRunState().running = 1;
  EXPECT_FALSE(InitCosoluteGradient());
  EXPECT_EQ(CurrentLammRunState().running, 0);
  EXPECT_NE(ui.transcript.back().text.find("D(c) is not positive"), std::string::npos);
}

TEST_F(SolventGradient, SolverObjectsGetTheBufferOnlyWithTheModelOn) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.BufferDensity1atm = 1.05f;
  sg.ViscosityRatio = 1.097804f;
  sg.EffectiveVbar = 0.70f;
  {
    CLammIdeal L;
    ApplySolventGradientToSolver(L, 0.73);
    EXPECT_DOUBLE_EQ(L.SolventMeanScale(), 1.0);
  }
  sg.UseInhomogeneousSolvent = true;
  for (const bool dynamic : {false, true}) {
    sg.StaticGradient = !dynamic;
    sg.DynamicGradient = dynamic;
    CLammIdeal L;
    ApplySolventGradientToSolver(L, 0.73);
    const double v = dynamic ? 0.70 : 0.73;
    EXPECT_NEAR(L.SolventMeanScale(), (1 - v * 1.05) / (1 - 0.73 * 0.99823) / 1.097804, 1e-6);
    gSolutionConditions.vbar = 0.73f;
    EXPECT_NEAR(BufferSedimentationCoefficient(1.0), L.SolventMeanScale(), 1e-6);
    EXPECT_NEAR(BufferDiffusionCoefficient(1.0), 1 / 1.097804, 1e-6);
    // A species of another vbar, as a c(s) list loads it into a copy.
    L.SetSolventAndComputeFrictionalRatio(20, 0.75, 1.0, 1.0);
    const double v2 = dynamic ? 0.70 : 0.75;
    EXPECT_NEAR(L.SolventMeanScale(), (1 - v2 * 1.05) / (1 - 0.75 * 0.99823) / 1.097804, 1e-6);
  }
}

TEST_F(SolventGradient, SolverObjectStopsOnACosoluteDThatTurnsNegative) {
  // D(c) = 1e-5 (1 - c) is negative at the loading concentration 1.5 M.
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = sg.NonidealCosolute = true;
  sg.CosoluteGridSize = 30;
  for (const bool worker : {false, true}) {
    SCOPED_TRACE(worker ? "worker thread" : "user-interface thread");
    platform::ScriptedUserInterface ui;
    ui.lenient = true;
    platform::ScopedUI scope(ui);
    lammtest::Experiment x;
    x.Build();
    auto L = lammtest::MakeSolver(x, lammtest::FixedGrid(200));
    L->SetSolventGradientParameters(sg, 0.73, 50000, {0, 0.5}, {0, 1e-5, -1e-5});
    L->SetReactionParameters({.inhomogeneous = true, .gradientVbar = 0.73f, .bufferViscosityRatio = 1,
                              .bufferDensity = 0.99823f, .bufferVbar = 0.73f, .reference = {0, 0, 0, 0}});
    L->SetWorker(worker, 1, worker ? 1 : 0);
    EXPECT_EQ(L->CheckAndRun(), 4);
    if (worker) {
      EXPECT_TRUE(ui.transcript.empty());
    } else {
      ASSERT_EQ(ui.transcript.size(), 1u);
      EXPECT_EQ(ui.transcript[0].text, "the cosolute's D(c) is not positive at c = 1.500000 M");
    }
  }
}

TEST_F(SolventGradient, CosoluteFeelsTheRotorSpeedInsideEachRampStep) {
  // An ideal cosolute with the species' s and D, run through the ramp from
  // rest of the reference in 10 s steps by the run's clock (with the speed
  // at the end of each step instead, it is off by 7e-3).
  const lammtest::Reference R = lammtest::LoadReference("ramp-4.3S-200rpm-per-s.txt");
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.CosoluteS = R.s;
  sg.CosoluteD = R.D;
  LammSettings().rampRotorSpeed = 1;
  LammRunState& rs = CurrentLammRunState();
  rs.acceleration = R.rate;
  rs.accelerationEnd = R.rpm / R.rate;
  rs.fullSpeed = R.rpm;
  rs.accelerating = 1;
  StartCosolute(R.m, R.b, 0, 400, 1.0);
  SetCosoluteTime(0);
  while (rs.t < R.times[0] - 1e-9) {
    rs.t += 10;
    rs.rpm = std::min(R.rpm, R.rate * rs.t);
    StepCosoluteGradient();
  }
  double worst = 0;
  for (size_t p = 0; p < R.r.size(); ++p)
    if (R.r[p] <= 7.1) worst = std::max(worst, std::fabs(CosoluteConcentrationAt(R.r[p]) - R.c[p][0]));
  EXPECT_LT(worst, 1e-3);
}

// A water-like cosolute solution (no density or viscosity lists) whose
// ideal cosolute, loaded at 1 and stepped on 400 nodes, has the reference
// species' s and D.
SolventGradientSettings CosoluteLikeTheSpecies(const lammtest::Reference& R) {
  SolventGradientSettings sg;
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = true;
  sg.CosoluteGridSize = 400;
  sg.CosoluteLoadingConcentration = 1.0;
  sg.CosoluteS = R.s;
  sg.CosoluteD = R.D;
  return sg;
}

TEST_F(SolventGradient, SolverObjectStepsItsCosoluteWithTheSpecies) {
  // A water-like cosolute solution (no density or viscosity lists) whose
  // ideal cosolute has the species' s and D: after the ramp-from-rest run
  // of the reference, on either path, the cosolute is the reference too.
  const lammtest::Reference R = lammtest::LoadReference("ramp-4.3S-200rpm-per-s.txt");
  SolventGradientSettings sg = CosoluteLikeTheSpecies(R);
  for (const bool movingFrame : {false, true}) {
    SCOPED_TRACE(movingFrame ? "moving frame" : "static grid");
    lammtest::Experiment x = lammtest::ExperimentFor(R, 6.0, 7.1);
    LammSolverSettings st = lammtest::FixedGrid(1000);
    st.rampRotorSpeed = 1;
    if (movingFrame) st.claverieAlgorithm = 0, st.movingHatAlgorithm = 1;
    auto L = lammtest::MakeSolver(x, st);
    L->SetReactionParameters({.inhomogeneous = true, .gradientVbar = 0.73f, .bufferViscosityRatio = 1,
                              .bufferDensity = 0.99823f, .bufferVbar = 0.73f, .reference = {0, 0, 0, 0}});
    L->SetSolventGradientParameters(sg, 0.73, R.rpm, {}, {});
    ASSERT_EQ(L->CheckAndRun(), 0);
    ASSERT_EQ(L->Time(), R.times.back());
    const CosoluteState& cs = L->Cosolute();
    double worst = 0;
    for (size_t p = 0; p < R.r.size(); ++p)
      if (R.r[p] <= 7.1) worst = std::max(worst, std::fabs(cs.ConcentrationAt(R.r[p]) - R.c[p].back()));
    EXPECT_LT(worst, 1e-3);
  }
}

TEST_F(SolventGradient, MissingListIsToldOnceForSolverObjects) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = sg.NonidealCosolute = true;
  sg.CosoluteGridSize = 30;
  CurrentCosoluteCoefficients().sPath = "absent-s.dat";
  CurrentCosoluteCoefficients().dPath = "absent-d.dat";
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  lammtest::Experiment x;
  x.Build();
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(PrepareSolventForSolverObjects());
    auto L = lammtest::MakeSolver(x, lammtest::FixedGrid(200));
    ApplySolventGradientToSolver(*L, 0.73);
    EXPECT_EQ(L->CheckAndRun(), 4);
  }
  ASSERT_EQ(ui.transcript.size(), 1u);
  EXPECT_EQ(ui.transcript[0].text, "\nAttention: could not open absent-d.dat");
}

TEST_F(SolventGradient, StiffnessSweepIsTheClosedFormAndTheEntryByEntryAssembly) {
  // Constant s and D on an even grid: the closed forms of the cosolute's
  // constant-coefficient stiffness.
  const int n = 9;
  const double m = 6.8, b = 7.2, h = (b - m) / (n - 1), sw = 3.1e-3, D = 2.03e-5;
  std::vector<double> r(n + 1), s(n + 1, 1.0), d(n + 1, D), left(n + 1), right(n + 1), diff(n + 1);
  for (int i = 1; i <= n; ++i) r[i] = m + (i - 1) * h;
  std::vector<double> lo(n + 1, 0.0), di(n + 1, 0.0), up(n + 1, 0.0);
  ElementMoments(r.data(), n, d.data(), s.data(), nullptr, left.data(), right.data(), diff.data());
  StiffnessFromMoments(r.data(), n, left.data(), right.data(), diff.data(), sw, 1.0, lo.data(), di.data(),
                       up.data());
  auto expectClose = [](double a, double e) { EXPECT_NEAR(a, e, 1e-12 * std::fabs(e)); };
  const double r1 = r[1], rn = r[n];
  expectClose(di[1], -sw * (r1 * r1 / 2 + r1 * h / 3 + h * h / 12) - D * (r1 + h / 2) / h);
  expectClose(up[1], -sw * (r1 * r1 / 2 + 2 * r1 * h / 3 + h * h / 4) + D * (r1 + h / 2) / h);
  for (int i = 2; i < n; ++i) {
    const double ri = r[i];
    expectClose(lo[i], sw * (ri * ri / 2 - 2 * ri * h / 3 + h * h / 4) + D * (ri - h / 2) / h);
    expectClose(di[i], -sw * (2 * ri * h / 3) - 2 * D * ri / h);
    expectClose(up[i], -sw * (ri * ri / 2 + 2 * ri * h / 3 + h * h / 4) + D * (ri + h / 2) / h);
  }
  expectClose(lo[n], sw * (rn * rn / 2 - 2 * rn * h / 3 + h * h / 4) + D * (rn - h / 2) / h);
  expectClose(di[n], sw * (rn * rn / 2 - rn * h / 3 + h * h / 12) - D * (rn - h / 2) / h);

  // Varying factors on an uneven grid, the sweep over all rows and the
  // entries one by one agree, also for an operator that ends early.
  LocalSolventFactors f;
  f.e.assign(n + 1, 1.0);
  f.q.assign(n + 1, 1.0);
  f.count = n;
  for (int i = 1; i <= n; ++i) {
    r[i] = m + (b - m) * std::pow((i - 1.0) / (n - 1), 1.3);
    f.e[i] = 0.9 + 0.02 * i;
    f.q[i] = 0.5 - 0.03 * i;
  }
  f.PrepareMoments(r.data(), n);
  for (const int last : {n, 6}) {
    f.Stiffness(sw, D, last, lo.data(), di.data(), up.data());
    for (int i = 1; i <= last; ++i) {
      auto k = [&](int j) { return sw * f.MomentB(i, j, last) - D * f.MomentA(i, j, last); };
      expectClose(di[i], k(i));
      if (i > 1) expectClose(lo[i], k(i - 1));
      if (i < last) expectClose(up[i], k(i + 1));
    }
  }
}

using teststate::FileLines;

// Radius and value columns of a scan file (after its two header lines).
void ScanColumns(const std::vector<std::string>& lines, std::vector<double>& r, std::vector<double>& c) {
  for (size_t i = 2; i < lines.size(); ++i) {
    double x = 0, y = 0;
    if (std::sscanf(lines[i].c_str(), "%lf %lf", &x, &y) == 2) r.push_back(x), c.push_back(y);
  }
}

double Linear(const std::vector<double>& r, const std::vector<double>& c, double x) {
  for (size_t i = 1; i < r.size(); ++i)
    if (r[i] >= x) return c[i - 1] + (c[i] - c[i - 1]) * (x - r[i - 1]) / (r[i] - r[i - 1]);
  return c.back();
}

struct Recorder {
  std::vector<std::string> texts;
  std::vector<unsigned> floatColours, doubleColours;
  std::vector<int> doubleCounts;
  Recorder() {
    LammSolverDisplay& d = CurrentLammSolverDisplay();
    d.drawText = [this](int x, int y, const std::string& t) {
      texts.push_back(std::to_string(x) + "," + std::to_string(y) + ":" + t);
    };
    d.plotFloats = [this](const float*, const float*, int, unsigned colour) { floatColours.push_back(colour); };
    d.plotDoubles = [this](const double*, const double*, int n, unsigned colour) {
      doubleColours.push_back(colour);
      doubleCounts.push_back(n);
    };
  }
  ~Recorder() { CurrentLammSolverDisplay() = LammSolverDisplay{}; }
};

}  // namespace

// A solver object of the first equation with a sedimenting cosolute, in a
// window: its step lines, each stored scan in the equation's colour, the
// cosolute in blue, and the cosolute's profile at every scan time written
// as "comp2_<k>.r00" with the scan's header; the profiles are those of the
// independent reference solution (the cosolute has the species' s and D).
TEST_F(SolventGradient, SolverObjectShowsAndWritesItsCosoluteAtEveryScan) {
  namespace fs = std::filesystem;
  const lammtest::Reference R = lammtest::LoadReference("ramp-4.3S-200rpm-per-s.txt");
  SolventGradientSettings sg = CosoluteLikeTheSpecies(R);
  sg.PlotCosoluteData = sg.SaveCosoluteData = true;
  const fs::path dir = fs::temp_directory_path() / ("tarnel_cosolute_" + std::to_string(getpid()));
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "during a fit" : "in the window");
    fs::remove_all(dir);
    fs::create_directories(dir);
    Recorder shown;
    lammtest::Experiment x = lammtest::ExperimentFor(R, 6.0, 7.1);
    LammSolverSettings st = lammtest::FixedGrid(1000);
    st.rampRotorSpeed = 1;
    auto L = lammtest::MakeSolver(x, st);
    const int scans = static_cast<int>(x.times.size());
    L->SetScanTimes({.records = x.records.data(), .output = x.outPtr.data(), .grid = x.grid.data(),
                     .gridLength = static_cast<int>(x.grid.size()) - 1, .showProgress = true,
                     .scanCount = scans, .suppressText1 = quiet, .absorbanceData = true});
    L->SetReactionParameters({.inhomogeneous = true, .gradientVbar = 0.73f, .bufferViscosityRatio = 1,
                              .bufferDensity = 0.99823f, .bufferVbar = 0.73f, .reference = {0, 0, 0, 0}});
    L->SetSolventGradientParameters(sg, 0.73, R.rpm, {}, {});
    L->SetCosoluteBasePath(dir.string() + "/");
    ASSERT_EQ(L->CheckAndRun(), 0);
    if (quiet) {
      EXPECT_TRUE(shown.texts.empty());
      EXPECT_TRUE(shown.floatColours.empty());
      EXPECT_TRUE(shown.doubleColours.empty());
      EXPECT_TRUE(fs::is_empty(dir));
      continue;
    }
    ASSERT_GE(shown.texts.size(), 4u);
    EXPECT_EQ(shown.texts[0].rfind("10,70:dt = ", 0), 0u) << shown.texts[0];
    EXPECT_EQ(shown.texts[1].rfind("10,90:#it = ", 0), 0u) << shown.texts[1];
    EXPECT_EQ(shown.texts[2].rfind("10,110:t = ", 0), 0u) << shown.texts[2];
    EXPECT_EQ(shown.texts[3].rfind("10,130:ri=", 0), 0u) << shown.texts[3];
    EXPECT_EQ(shown.floatColours, std::vector<unsigned>(scans, 0x00960096u));
    EXPECT_EQ(shown.doubleColours, std::vector<unsigned>(scans, 0x00FF0000u));
    EXPECT_EQ(shown.doubleCounts, std::vector<int>(scans, 400));
    for (int k = 1; k <= scans; ++k) {
      SCOPED_TRACE(k);
      const std::vector<std::string> lines = FileLines(dir / ("comp2_" + std::to_string(k) + ".r00"));
      ASSERT_GT(lines.size(), 400u);
      EXPECT_EQ(lines[0], "[T OK]component 2");  // every scan file written carries the mark
      char type = 0;
      int cell = 0;
      double temperature = 0, rpm = 0, time = 0;
      ASSERT_EQ(std::sscanf(lines[1].c_str(), "%c %d %lf %lf %lf", &type, &cell, &temperature, &rpm, &time), 5);
      EXPECT_EQ(rpm, std::round(x.records[k].rpm));
      EXPECT_EQ(time, std::round(x.records[k].time));
      std::vector<double> r, c;
      ScanColumns(lines, r, c);
      ASSERT_EQ(r.size(), 400u);
      double worst = 0;
      for (size_t p = 0; p < R.r.size(); ++p)
        if (R.r[p] >= r.front() && R.r[p] <= 7.1)
          worst = std::max(worst, std::fabs(Linear(r, c, R.r[p]) - R.c[p][static_cast<size_t>(k - 1)]));
      EXPECT_LT(worst, 2e-3);
    }
  }
  fs::remove_all(dir);
}

// The global solvers' cosolute at a scan: drawn when asked, and written as a
// scan of the scan file's name into the temp folder.
TEST_F(SolventGradient, GlobalCosoluteIsShownAndWrittenUnderTheScansName) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tarnel_cosolute_global_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string savedTemp = platform::ProgramPaths.TempFolder;
  platform::ProgramPaths.TempFolder = dir.string() + "/";
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = true;
  StartCosolute(6.0, 7.2, 50000, 50, 1.5);
  ScanSet& ss = CurrentScanSet();
  ss.count = 1;
  ss.fileNames.assign(2, "");
  ss.fileNames[1] = "00012.RA1";
  ss.records.assign(2, ScanRecord{});
  ss.records[1].rpm = 50000;
  ss.records[1].time = 1800;
  Recorder shown;
  ShowCosoluteAtScan(1, false);
  EXPECT_FALSE(fs::exists(dir / "00012.RA1"));  // neither switch
  sg.PlotCosoluteData = sg.SaveCosoluteData = true;
  ShowCosoluteAtScan(1, false);
  EXPECT_TRUE(shown.doubleColours.empty());
  ShowCosoluteAtScan(1, true);
  EXPECT_EQ(shown.doubleColours, std::vector<unsigned>{0x00FF0000u});
  const std::vector<std::string> lines = FileLines(dir / "00012.RA1");
  ASSERT_EQ(lines.size(), 52u);
  EXPECT_EQ(lines[0], "[T OK]component 2");
  std::vector<double> r, c;
  ScanColumns(lines, r, c);
  ASSERT_EQ(c.size(), 50u);
  EXPECT_DOUBLE_EQ(r.front(), 6.0);
  EXPECT_DOUBLE_EQ(r.back(), 7.2);
  for (double v : c) EXPECT_DOUBLE_EQ(v, 1.5);
  platform::ProgramPaths.TempFolder = savedTemp;
  ss.count = 0;
  ss.fileNames.clear();
  ss.records.clear();
  fs::remove_all(dir);
}
