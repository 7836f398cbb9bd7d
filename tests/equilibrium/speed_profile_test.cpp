// Overspeed programmes from their parameters, the objective of a programme
// against an independent finite-volume solution, and the searches that
// minimise it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "numerics/random.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "tests/support/finite_volume_lamm.h"

namespace {

// 65 kDa, f/f0 1.4 in water at 20 C.
constexpr float kS = 4.14408f, kD = 5.75543e-7f;

struct Step {
  float t, rpm, acc;
};

std::vector<Step> Programme(const std::vector<float>& x, bool rounding = false, float minStep = 1) {
  int n = 0;
  FloatVec t, v, a;
  EXPECT_TRUE(BuildSpeedProfileFromParameters(CurrentTimeToEqParams(), x.data(), n, t, v, a, rounding, minStep));
  std::vector<Step> steps;
  for (int i = 1; i <= n; ++i) steps.push_back({t[i], v[i], a[i]});
  return steps;
}

// The rotor speed the steps give at time t: each step ramps from the speed
// reached at its start towards its own.
double SpeedOf(const std::vector<Step>& steps, double t) {
  double v = 0;
  for (size_t j = 0; j < steps.size() && steps[j].t <= t; ++j) {
    const double end = j + 1 < steps.size() ? std::min<double>(t, steps[j + 1].t) : t;
    const double dt = end - steps[j].t, target = steps[j].rpm;
    v = target > v ? std::min(target, v + steps[j].acc * dt) : std::max(target, v - steps[j].acc * dt);
  }
  return v;
}

std::vector<double> Kinks(const std::vector<Step>& steps) {
  std::vector<double> k;
  double v = 0;
  for (size_t j = 0; j < steps.size(); ++j) {
    k.push_back(steps[j].t);
    k.push_back(steps[j].t + std::fabs(steps[j].rpm - v) / steps[j].acc);
    v = steps[j].rpm;
  }
  return k;
}

class RecordingHost : public FitHost {
 public:
  void SimulateModel() override {}
  void DrawText(int, int, const std::string& text) override { lines.push_back(text); }
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> lines, errors;
};

class SpeedProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimeToEqParams(CurrentTimeToEqParams());
    TimeToEqParams& p = CurrentTimeToEqParams();
    p.s1 = kS;
    p.D1 = kD;
    p.vbar1 = 0.73f;
    p.density = 1.0f;
    p.viscosity = 0.001002f;
    p.exponential = 0;
    gFitEngineState = FitEngineState{};
    SpeedProfileOptimizer() = SpeedProfileOptimizerState{};
    platform::StopFlag() = false;
    SeedGaussRandom(1);
  }
  void TearDown() override {
    SpeedProfileOptimizer() = SpeedProfileOptimizerState{};
    ResetTimeToEqParams(CurrentTimeToEqParams());
  }
  void Base(float hours) {
    const float f[] = {0, 1}, s[] = {0, kS}, D[] = {0, kD};
    SetOptimizationBase(hours * 3600, 1, f, s, D);
  }
};

}  // namespace

TEST_F(SpeedProfile, ObjectiveAgreesWithAnIndependentSolution) {
  struct Case {
    std::vector<float> x;
    bool exponential;
    float hours, overconcentration;
  } cases[] = {{{0, 1.5f, 1, 1, 1, 1}, false, 36.0f, 1.0f},
               {{0, 1.5f, 1.3f, 1, 1, 1}, false, 34.0f, 1.02f},
               {{0, 1, 1, 1, 1, 1}, true, 34.5f, 1.80f}};
  for (const Case& c : cases) {
    CurrentTimeToEqParams().exponential = c.exponential;
    Base(39);
    std::vector<float> x = c.x;
    const float f = SimulateSpeedProfileObjective(x.data(), nullptr);
    const CApproachToEqSim& sim = *SpeedProfileOptimizer().trial;
    const std::vector<Step> steps = Programme(c.x);
    std::vector<double> times, radii;
    for (int i = 1; i <= sim.nScans; ++i) times.push_back(sim.timeSec[i]);
    for (int j = 1; j <= sim.nPoints; ++j) radii.push_back(sim.radius[j]);
    const auto fv = FiniteVolumeApproach(kS, kD, 6.75, 7.2, [&](double t) { return SpeedOf(steps, t); },
                                         Kinks(steps), times, radii);
    int reached = 0;
    double bottom = 0;
    const int jb = sim.BottomIndex();
    for (int i = 1; i <= sim.nScans; ++i) {
      double sum = 0;
      int count = 0;
      for (int j = 1; j <= sim.nPoints; ++j) {
        if (!(sim.radius[j] > sim.leftLimit && sim.radius[j] < sim.rightLimit)) continue;
        const double d = fv[static_cast<size_t>(i - 1)][static_cast<size_t>(j - 1)] - sim.eqProfile[j];
        sum += d * d;
        ++count;
      }
      const double rms = std::sqrt(sum / count);
      if (!reached && i < sim.nScans && rms < 1e-3) reached = i;
      bottom = std::max(bottom, fv[static_cast<size_t>(i - 1)][static_cast<size_t>(jb - 1)] / sim.eqProfile[jb]);
      EXPECT_NEAR(sim.rmsDev[i], rms, 0.03 * rms + 5e-5) << c.hours << " profile " << i;
    }
    const float hours = sim.tEqRms / 3600, v = sim.MaxBottomOverconcentration();
    EXPECT_NEAR(hours, reached * 0.5, 0.5);
    EXPECT_NEAR(hours, c.hours, 0.5);
    EXPECT_NEAR(v, bottom, 0.01 * bottom);
    EXPECT_NEAR(v, c.overconcentration, 0.02);
    // Over the limit of 1.5 the excess costs (v - 1.5)^2 1000 h.
    const float excess = std::max(0.0f, v - 1.5f);
    EXPECT_NEAR(f, hours + excess * excess * 1000, 1e-3 * f);
  }
}
