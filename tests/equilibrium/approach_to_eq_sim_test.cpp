// The approach-to-equilibrium simulator: its grid and headers, its initial
// conditions, and its simulated approach against an independent
// finite-volume solution of the Lamm equation and the slowest-mode decay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "data/scan_set.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "tests/support/finite_volume_lamm.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"

namespace {

// The default column: 65 kDa, f/f0 1.4 in water at 20 C, 15000 rpm.
constexpr float kS = 4.14408f, kD = 5.75543e-7f;
constexpr float kMeniscus = 6.75f, kBottom = 7.2f, kRight = 7.15f, kLeft = 6.77f;
constexpr float kEstimateHours = 39.09f;

bool SetupDefault(CApproachToEqSim& sim, float hours, int species = 1) {
  const float f[] = {0, species == 1 ? 1.0f : 0.7f, 0.3f};
  const float s[] = {0, kS, 6.578f}, D[] = {0, kD, 4.568e-7f};
  return sim.SetupRun(nullptr, hours, kBottom, kMeniscus, kRight, kLeft, species, f, s, D, 20, 15000);
}

}  // namespace

TEST(ApproachToEqSim, GridTimesAndHeaders) {
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 2.0f));
  ASSERT_EQ(sim.nScans, 4);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(sim.scanRecords[static_cast<size_t>(i)].time, 1800.0 * i);
  EXPECT_EQ(sim.nPoints, 227);
  EXPECT_NEAR(sim.radius[227], 7.202f, 1e-5);
  EXPECT_EQ(sim.BottomIndex(), 226);
  EXPECT_NEAR(sim.RadialIntegral(std::vector<float>(228, 1.0f).data()), 3.153152, 1e-5);
  EXPECT_EQ(sim.RadialIntegral(nullptr), 0.0f);
  EXPECT_GT(sim.radius[sim.leftIndex], kLeft);
  EXPECT_LE(sim.radius[sim.leftIndex - 1], kLeft);
  EXPECT_LE(sim.radius[sim.rightIndex], kRight);
  EXPECT_GT(sim.radius[sim.rightIndex + 1], kRight);
  const ScanRecord& h = sim.scanRecords[1];
  EXPECT_EQ(h.type, 'R');
  EXPECT_EQ(h.rpm, 15000);
  EXPECT_EQ(h.points, 227);
  EXPECT_NEAR(h.accelerationTime, 15000 / 280.0, 1e-5);
  const double w = 15000 * M_PI / 30;
  EXPECT_NEAR(h.w2t, w * w * (1800 - h.accelerationTime * 2 / 3), 1e-6 * h.w2t);
  // The equilibrium holds the loaded mass; the last radius lies one step
  // beyond the bottom, where the profile goes on.
  const double sigma = ReducedBuoyantMass(kS, kD, 15000), rn = sim.radius[227];
  double mass = 0;
  for (int i = 0; i < 2000; ++i) {
    const double r = kMeniscus + (i + 0.5) * (rn - kMeniscus) / 2000;
    mass += IdealEquilibriumConcentration(sigma, r, kMeniscus, kBottom) * r * (rn - kMeniscus) / 2000;
  }
  EXPECT_NEAR(sim.RadialIntegral(sim.eqProfile), mass, 1e-4 * mass);

  // A stored time within the ramp describes the speed reached.
  CApproachToEqSim early;
  early.scanInterval = 30;
  ASSERT_TRUE(SetupDefault(early, 0.01f));
  EXPECT_EQ(early.nScans, 2);
  EXPECT_EQ(early.scanRecords[1].rpm, 280.0f * 30);
  EXPECT_NEAR(early.scanRecords[1].w2t, std::pow(8400 * M_PI / 30, 2) * 30 / 3, 1e-3);
}

TEST(ApproachToEqSim, LimitsAndRefusals) {
  const float f[] = {0, 1}, s[] = {0, kS}, D[] = {0, kD};
  struct Limits {
    float right, left, wantRight, wantLeft;
  } limits[] = {{6.9f, 7.1f, 7.1f, 6.9f}, {7.1f, 6.7f, 7.1f, 6.76f}, {7.3f, 6.8f, 7.15f, 6.8f}};
  for (const Limits& l : limits) {
    CApproachToEqSim sim;
    ASSERT_TRUE(sim.SetupRun(nullptr, 1, kBottom, kMeniscus, l.right, l.left, 1, f, s, D, 20, 15000));
    EXPECT_FLOAT_EQ(sim.rightLimit, l.wantRight);
    EXPECT_FLOAT_EQ(sim.leftLimit, l.wantLeft);
  }
  struct Bad {
    float hours, bottom, meniscus, right, left, D, rpm = 15000;
  } bad[] = {{0, 7.2f, 6.75f, 7.15f, 6.77f, kD},        {-1, 7.2f, 6.75f, 7.15f, 6.77f, kD},
             {1, 7.2f, 6.75f, 7.15f, 6.77f, kD, 0},
             {NAN, 7.2f, 6.75f, 7.15f, 6.77f, kD},     {INFINITY, 7.2f, 6.75f, 7.15f, 6.77f, kD},
             {1e9f, 7.2f, 6.75f, 7.15f, 6.77f, kD},    {1, 6.75f, 6.75f, 7.15f, 6.77f, kD},
             {1, 7.2f, NAN, 7.15f, 6.77f, kD},         {1, 7.2f, 6.75f, 7.0f, 7.0f, kD},
             {1, 7.2f, 6.75f, 7.15f, 6.77f, 0}};
  for (const Bad& b : bad) {
    CApproachToEqSim sim;
    const float d[] = {0, b.D};
    EXPECT_FALSE(sim.SetupRun(nullptr, b.hours, b.bottom, b.meniscus, b.right, b.left, 1, f, s, d, 20, b.rpm))
        << b.hours << " " << b.meniscus << " " << b.right;
    EXPECT_FALSE(sim.refusal.empty());
    EXPECT_FALSE(sim.SetInitialCondition(10000, nullptr, 0, 0));
  }
}

TEST(ApproachToEqSim, InitialConditions) {
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 2.0f));
  // At or below the first radius: the equilibrium at the initial speed.
  ASSERT_TRUE(sim.SetInitialCondition(10000, nullptr, 0, 0));
  EXPECT_EQ(sim.initialDuration, 100000.0f);
  EXPECT_EQ(sim.initialRecord.time, 100000.0);
  EXPECT_EQ(sim.initialRecord.rpm, 10000.0f);
  const double sigma = ReducedBuoyantMass(kS, kD, 10000);
  for (int i : {1, 100, 227})
    EXPECT_NEAR(sim.initial[1][i], IdealEquilibriumConcentration(sigma, sim.radius[i], kMeniscus, kBottom), 1e-5);
  EXPECT_FALSE(sim.stepInitial);

  // Inside the column: 0, 0.2, 0.5, 0.8 and the plateau.
  ASSERT_TRUE(sim.SetInitialCondition(15000, nullptr, 0, 7.0f));
  EXPECT_EQ(sim.initialDuration, 1.0f);
  int j = 1;
  while (sim.radius[j] <= 7.0f) ++j;
  const float plateau = static_cast<float>(
      StepPlateauConcentration(ReducedBuoyantMass(kS, kD, 15000), sim.radius[j], kMeniscus, kBottom));
  EXPECT_EQ(sim.initial[1][j - 2], 0.0f);
  EXPECT_FLOAT_EQ(sim.initial[1][j - 1], 0.2f * plateau);
  EXPECT_FLOAT_EQ(sim.initial[1][j], 0.5f * plateau);
  EXPECT_FLOAT_EQ(sim.initial[1][j + 1], 0.8f * plateau);
  EXPECT_FLOAT_EQ(sim.initial[1][j + 2], plateau);
  EXPECT_TRUE(sim.stepInitial);

  // A history to continue needs loaded scans.
  ScanSet none;
  EXPECT_FALSE(sim.SetInitialCondition(0, nullptr, 3600, 0, none));
}

TEST(ApproachToEqSim, ContinuedHistoryStartsWhereTheScansLeftOff) {
  ScanSet scans;
  scans.count = 2;
  scans.records.resize(3);
  scans.order = {0, 2, 1};  // scan 1 is the later one
  scans.records[1].rpm = 12000;
  scans.records[2].rpm = 8000;
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 2.0f));
  ASSERT_TRUE(sim.SetInitialCondition(0, nullptr, 200000, 0, scans));
  EXPECT_EQ(sim.initialRecord.rpm, 12000.0f);
  EXPECT_EQ(sim.errorCode, 0);
  // Long enough at 12000 rpm: the equilibrium there.
  const double sigma = ReducedBuoyantMass(kS, kD, 12000);
  for (int i : {20, 120, 220})
    EXPECT_NEAR(sim.initial[1][i], IdealEquilibriumConcentration(sigma, sim.radius[i], kMeniscus, kBottom), 2e-3);
  // From that equilibrium the one at 15000 rpm is nearer than from rest.
  ASSERT_TRUE(sim.Run());
  sim.ComputeDistanceToEq(1e-3f, 1e-3f);
  CApproachToEqSim rest;
  ASSERT_TRUE(SetupDefault(rest, 2.0f));
  ASSERT_TRUE(rest.Run());
  rest.ComputeDistanceToEq(1e-3f, 1e-3f);
  for (int i = 1; i <= 4; ++i) EXPECT_LT(sim.rmsDev[i], 0.5f * rest.rmsDev[i]) << i;

  // A history the solver refuses (a step to 0 rpm) leaves no start.
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  CRotorSpeedProfile broken;
  const float t[] = {0, 0, 3600}, v[] = {0, 12000, 0}, a[] = {0, 280, 0};
  broken.SetSteps(2, t, v, a);
  EXPECT_FALSE(sim.SetInitialCondition(0, &broken, 7200, 0, scans));
  EXPECT_GT(sim.errorCode, 0);
  platform::StopFlag() = false;
}

TEST(ApproachToEqSim, ApproachAgreesWithAnIndependentSolution) {
  platform::StopFlag() = false;
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 1.5f * kEstimateHours));
  ASSERT_EQ(sim.nScans, 118);
  ASSERT_TRUE(sim.Run());
  sim.ComputeDistanceToEq(1e-3f, 1e-3f);
  EXPECT_NEAR(sim.tEqRms / 3600, 39.0, 0.5);
  EXPECT_EQ(sim.timeSec[sim.indexRms], sim.tEqRms);

  std::vector<double> times, radii;
  for (int i = 1; i <= sim.nScans; ++i) times.push_back(sim.timeSec[i]);
  for (int j = sim.leftIndex; j <= sim.rightIndex; ++j) radii.push_back(sim.radius[j]);
  const auto fv = FiniteVolumeApproach(
      kS, kD, kMeniscus, kBottom, [](double t) { return std::min(280.0 * t, 15000.0); }, {0.0}, times, radii);
  int fvIndex3 = 0, fvIndex4 = 0;
  for (int i = 1; i <= sim.nScans; ++i) {
    double sum = 0, diff = 0;
    for (size_t j = 0; j < radii.size(); ++j) {
      const double d = fv[static_cast<size_t>(i - 1)][j] - sim.eqProfile[sim.leftIndex + static_cast<int>(j)];
      sum += d * d;
      diff = std::max(diff, std::fabs(fv[static_cast<size_t>(i - 1)][j] - sim.total[i][sim.leftIndex + static_cast<int>(j)]));
    }
    const double rms = std::sqrt(sum / radii.size());
    if (!fvIndex3 && rms < 1e-3) fvIndex3 = i;
    if (!fvIndex4 && rms < 1e-4) fvIndex4 = i;
    EXPECT_LT(diff, 2e-3) << "profile " << i;
    EXPECT_NEAR(sim.rmsDev[i], rms, 0.02 * rms + 5e-5) << "profile " << i;
  }
  EXPECT_NEAR(fvIndex3 * 0.5, 39.0, 0.5);
  EXPECT_NEAR(fvIndex4 * 0.5, 52.0, 1.0);
  sim.ComputeDistanceToEq(1e-4f, 1e-4f);
  EXPECT_NEAR(sim.tEqRms / 3600, 52.0, 1.0);
  EXPECT_EQ(sim.tEqMax > 0, true);

  // The slowest mode decays at D pi^2 beta / (b - m)^2.
  const double slope = std::log(sim.rmsDev[70] / sim.rmsDev[40]) / (sim.timeSec[70] - sim.timeSec[40]);
  EXPECT_NEAR(slope, -5.015e-5, 0.02 * 5.015e-5);
  EXPECT_NEAR(sim.RadialIntegral(sim.total[sim.nScans]), sim.RadialIntegral(sim.eqProfile), 1e-3);
  EXPECT_LE(sim.MaxBottomOverconcentration(), 1.01f);
  EXPECT_GT(sim.MaxBottomOverconcentration(), 0.98f);
}

TEST(ApproachToEqSim, SpeciesAddUpAndCriteriaNeverMetGiveTheLastTime) {
  CApproachToEqSim two;
  ASSERT_TRUE(SetupDefault(two, 10.0f, 2));
  ASSERT_TRUE(two.Run());
  for (int i : {1, 10, 20})
    for (int j : {1, 100, 227})
      EXPECT_NEAR(two.total[i][j], 0.7f * two.perSpecies[1][i][j] + 0.3f * two.perSpecies[2][i][j], 1e-6);
  two.ComputeDistanceToEq(1e-3f, 1e-3f);
  EXPECT_EQ(two.indexRms, two.nScans);
  EXPECT_EQ(two.indexMax, two.nScans);
  EXPECT_EQ(two.tEqRms, 36000.0f);
  // The species run alone give the same profiles.
  CApproachToEqSim one;
  ASSERT_TRUE(SetupDefault(one, 10.0f, 1));
  ASSERT_TRUE(one.Run());
  EXPECT_FLOAT_EQ(two.perSpecies[1][20][150], one.perSpecies[1][20][150]);
}

TEST(ApproachToEqSim, RotorSpeedCorners) {
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 39.0f));
  const float t[] = {0, 0, 6300, 30000}, v[] = {0, 22500, 15000, 15000}, a[] = {0, 280, 280, 280};
  sim.SetSpeedSteps(3, t, v, a, 2);
  int n = 0;
  float *x = nullptr, *y = nullptr;
  CVector *xv = nullptr, *yv = nullptr;
  CCurve* curve = nullptr;
  ASSERT_TRUE(sim.BuildRpmTimeCourse(&n, &x, &y, &xv, &yv, &curve));
  ASSERT_EQ(n, 7);
  const float wantT[] = {0, 0, 22500 / 280.0f / 3600, 1.75f, (6300 + 7500 / 280.0f) / 3600, 30000 / 3600.0f,
                         30000 / 3600.0f, 39.0f};
  const float wantV[] = {0, 0, 22500, 22500, 15000, 15000, 15000, 15000};
  for (int i = 1; i <= 7; ++i) {
    EXPECT_NEAR(x[i], wantT[i], 1e-5) << i;
    EXPECT_EQ(y[i], wantV[i]) << i;
  }
  EXPECT_EQ(xv->Count(), 7u);
  delete curve;
  delete xv;
  delete yv;
  free_vector(x, 1, n);
  free_vector(y, 1, n);
  EXPECT_FALSE(sim.BuildRpmTimeCourse(nullptr, &x, &y));
}

TEST(ApproachToEqSim, SpeedProgrammeAgreesWithAnIndependentSolution) {
  // Half again the final speed for 6300 s, then down at 280 rpm/s.
  platform::StopFlag() = false;
  CApproachToEqSim sim;
  ASSERT_TRUE(SetupDefault(sim, 39.0f));
  const float t[] = {0, 0, 6300, 30000}, v[] = {0, 22500, 15000, 15000}, a[] = {0, 280, 280, 280};
  sim.SetSpeedSteps(3, t, v, a, 2);
  ASSERT_TRUE(sim.Run());
  sim.ComputeDistanceToEq(1e-3f, 1e-3f);
  EXPECT_NEAR(sim.tEqRms / 3600, 36.0, 0.5);
  auto rpmAt = [](double time) {
    if (time < 22500 / 280.0) return 280.0 * time;
    if (time < 6300) return 22500.0;
    return std::max(15000.0, 22500.0 - 280.0 * (time - 6300));
  };
  std::vector<double> times, radii;
  for (int i = 1; i <= sim.nScans; ++i) times.push_back(sim.timeSec[i]);
  for (int j = sim.leftIndex; j <= sim.rightIndex; ++j) radii.push_back(sim.radius[j]);
  const auto fv = FiniteVolumeApproach(kS, kD, kMeniscus, kBottom, rpmAt, {0, 22500 / 280.0, 6300, 6300 + 7500 / 280.0},
                                       times, radii);
  for (int i = 1; i <= sim.nScans; ++i) {
    double sum = 0;
    for (size_t j = 0; j < radii.size(); ++j) {
      const double d = fv[static_cast<size_t>(i - 1)][j] - sim.eqProfile[sim.leftIndex + static_cast<int>(j)];
      sum += d * d;
    }
    const double rms = std::sqrt(sum / radii.size());
    EXPECT_NEAR(sim.rmsDev[i], rms, 0.02 * rms + 5e-5) << "profile " << i;
  }
  // Sooner than at constant speed.
  CApproachToEqSim constant;
  ASSERT_TRUE(SetupDefault(constant, 39.0f));
  ASSERT_TRUE(constant.Run());
  constant.ComputeDistanceToEq(1e-3f, 1e-3f);
  EXPECT_LT(sim.tEqRms, constant.tEqRms);
}
