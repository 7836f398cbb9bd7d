// Overspeed programmes from their parameters, the objective of a programme
// against an independent finite-volume solution, and the searches that
// minimise it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "equilibrium/planning/minimum_time_to_eq.h"
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
    float step = 1;
  } cases[] = {{{0, 1.5f, 1, 1, 1, 1}, false, 36.0f, 1.0f},
               {{0, 1.5f, 1.3f, 1, 1, 1}, false, 34.0f, 1.02f},
               {{0, 1, 1, 1, 1, 1}, true, 34.5f, 1.80f},
               {{0, 1.785449f, 1.079195f, 1.304155f, 1.104838f, 1.024313f}, false, 15.5f, 1.33f},
               // An optimised programme: over and under the final speed.
               {{0, 1.306459f, 1.56392f, 1.327502f, 1.262824f, 0.811536f}, false, 11.0f, 1.40f, 100}};
  for (const Case& c : cases) {
    CurrentTimeToEqParams().exponential = c.exponential;
    CurrentTimeToEqParams().rpmStep = c.step;
    Base(39);
    std::vector<float> x = c.x;
    const float f = SimulateSpeedProfileObjective(x.data(), nullptr);
    const CApproachToEqSim& sim = *SpeedProfileOptimizer().trial;
    const std::vector<Step> steps = Programme(c.x, c.step > 1, c.step);
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

TEST_F(SpeedProfile, ProgrammesFromParameters) {
  TimeToEqParams& p = CurrentTimeToEqParams();
  struct Case {
    const char* name;
    bool exponential;
    std::vector<float> x;
    std::vector<Step> want;  // empty: checked below
  } cases[] = {
      {"all ones", false, {0, 1, 1, 1, 1, 1}, {{0, 15000, 280}, {30000, 15000, 280}}},
      {"first fifth at 1.5", false, {0, 1.5f, 1, 1, 1, 1}, {{0, 22500, 280}, {6300, 15000, 280}, {30000, 15000, 280}}},
      {"clamped high", false, {0, 5, 1, 1, 1, 1}, {{0, 50000, 280}, {6300, 15000, 280}, {30000, 15000, 280}}},
      {"clamped low", false, {0, 0.1f, 1, 1, 1, 1}, {{0, 3000, 280}, {6300, 15000, 280}, {30000, 15000, 280}}},
  };
  for (const Case& c : cases) {
    p.exponential = c.exponential;
    const std::vector<Step> got = Programme(c.x);
    ASSERT_EQ(got.size(), c.want.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].t, c.want[i].t) << c.name << " " << i;
      EXPECT_NEAR(got[i].rpm, c.want[i].rpm, 0.01) << c.name << " " << i;
      EXPECT_EQ(got[i].acc, c.want[i].acc) << c.name << " " << i;
    }
  }

  // The exponential defaults change speed at every grid time before the
  // overspeed time, and close once at it.
  p.exponential = 1;
  const std::vector<Step> e = Programme({0, 1, 1, 1, 1, 1});
  std::vector<float> grid;
  for (float t = 0; t <= 3600; t += 600) grid.push_back(t);
  for (float t = 4500; t <= 10800; t += 900) grid.push_back(t);
  for (float t = 12600; t < 30000; t += 1800) grid.push_back(t);
  grid.push_back(30000);
  ASSERT_EQ(e.size(), grid.size());
  for (size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].t, grid[i]) << i;
  EXPECT_NEAR(e[0].rpm, 30000, 0.01);
  EXPECT_NEAR(e[e.size() - 2].rpm, 18028.4, 0.1);
  EXPECT_EQ(e.back().rpm, 15000);
  EXPECT_EQ(e.back().acc, p.deceleration);

  // An overspeed time on the grid gives one closing step, after every other.
  p.exponential = 0;
  p.overspeedTime = 10800;
  const std::vector<Step> onGrid = Programme({0, 1, 1, 1, 1, 1.2f});
  ASSERT_EQ(onGrid.size(), 3u);
  EXPECT_EQ(onGrid[1].t, 9000);
  EXPECT_NEAR(onGrid[1].rpm, 18000, 0.01);
  EXPECT_EQ(onGrid[2].t, 10800);
  EXPECT_EQ(onGrid[2].rpm, 15000);
  p.overspeedTime = 0;
  const std::vector<Step> none = Programme({0, 2, 1, 1, 1, 1});
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].rpm, 15000);
  p.overspeedTime = 30000;

  // Rises faster than the acceleration are cut to the reachable speed.
  p.acceleration = 10;
  const std::vector<Step> slow = Programme({0, 1, 3, 1, 1, 1});
  ASSERT_GE(slow.size(), 5u);
  EXPECT_EQ(slow[1].t, 6300);
  EXPECT_NEAR(slow[1].rpm, 24000, 0.01);
  EXPECT_NEAR(slow[2].rpm, 33000, 0.01);
  EXPECT_NEAR(slow[3].rpm, 42000, 0.01);
  EXPECT_NEAR(slow[4].rpm, 45000, 0.01);
  p.acceleration = 280;

  // Neighbours closer than the step merge.
  EXPECT_EQ(Programme({0, 1.5f, 1.004f, 1, 1, 1}).size(), 4u);
  EXPECT_EQ(Programme({0, 1.5f, 1.004f, 1, 1, 1}, false, 100).size(), 3u);
}

TEST_F(SpeedProfile, SpeedAtTime) {
  TimeToEqParams& p = CurrentTimeToEqParams();
  const float x[] = {0, 1.00333f, 1.2f, 1, 1, 1.1f};
  p.exponential = 0;
  EXPECT_EQ(SpeedAtTime(p, x, -1, false, 1), 15000);
  EXPECT_EQ(SpeedAtTime(p, x, 30001, false, 1), 15000);
  EXPECT_EQ(SpeedAtTime(p, nullptr, 100, false, 1), 15000);
  EXPECT_NEAR(SpeedAtTime(p, x, 6000, false, 1), 15049.95, 0.01);
  EXPECT_EQ(SpeedAtTime(p, x, 6000, true, 100), 15000);
  EXPECT_NEAR(SpeedAtTime(p, x, 6001, false, 1), 18000, 0.01);
  EXPECT_NEAR(SpeedAtTime(p, x, 30000, false, 1), 16500, 0.01);
  p.exponential = 1;
  const float fast[] = {0, 0.01f, 1, 1, 1, 1};
  EXPECT_NEAR(SpeedAtTime(p, fast, 1800, false, 1), 15000 * (1 + std::exp(-1.0)), 0.05);
  const float slow[] = {0, -2, 0.5f, 1, 1, 1};
  EXPECT_NEAR(SpeedAtTime(p, slow, 36000 / 10.0f, false, 1), 15000 * (1 + 0.5 * std::exp(-0.1)), 0.05);
  EXPECT_NEAR(SpeedAtTime(p, slow, 9000, false, 1), 15000 * (1 + std::exp(-0.25)), 0.05);
}

TEST_F(SpeedProfile, SearchesNeverEndWorseThanTheirStartAndStopByThemselves) {
  RecordingHost host;
  EXPECT_FALSE(OptimizeSpeedProfile(nullptr));
  struct Case {
    const char* name;
    bool annealing;
    int steps;
  } cases[] = {{"Nelder-Mead", false, 0}, {"annealing in one step", true, 1}, {"annealing in ten", true, 10}};
  for (const Case& c : cases) {
    SetUp();
    host.lines.clear();
    Base(39);
    TimeToEqParams& p = CurrentTimeToEqParams();
    SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
    st.maxObjectiveCalls = 20;
    FitEngineState& fs = gFitEngineState;
    fs.useAnnealing = c.annealing;
    fs.annealSteps = c.steps;
    fs.annealIterations = 10;
    p.profileParameters = {0, 1.5f, 1, 1, 1, 1};
    const float start = SimulateSpeedProfileObjective(p.profileParameters.data(), &host);
    st.startValue = start;
    ASSERT_TRUE(OptimizeSpeedProfile(&host)) << c.name;
    EXPECT_LE(p.optimisedTime, start) << c.name;
    const float again = SimulateSpeedProfileObjective(p.profileParameters.data(), &host);
    EXPECT_EQ(again, p.optimisedTime) << c.name;
    for (float v : p.profileParameters) EXPECT_TRUE(std::isfinite(v)) << c.name;
    // Bounded: each search (annealing and its refinement) stops at its budget.
    EXPECT_LE(st.objectiveCalls, (c.annealing ? 2 : 1) * (20 + 20)) << c.name;
    EXPECT_LE(st.restarts, st.maxRestarts);
    EXPECT_EQ(fs.stopRequested, 0);
    EXPECT_EQ(fs.fitRunning, 0);
    EXPECT_FALSE(st.annealing);
    ASSERT_FALSE(host.lines.empty());
    if (c.annealing) {
      EXPECT_EQ(fs.annealTemperature, 2.0f);
      EXPECT_NE(host.lines.front().find("(SA T = 2.000000, 1) "), std::string::npos) << host.lines.front();
    }
  }
  // The stepwise status line of the first pass.
  SetUp();
  EXPECT_EQ(TimeToEqProgressText(CurrentTimeToEqParams(), 36, std::vector<float>{0, 1.5f, 1, 1, 1, 1.25f}.data()),
            "(0) 00: 36.000 h | om(0)=22500 | 1.000000 | ... | 1.250000  ");
}

TEST_F(SpeedProfile, AKeyPressEndsTheSearchWithTheBestSoFar) {
  RecordingHost host;
  Base(39);
  TimeToEqParams& p = CurrentTimeToEqParams();
  p.profileParameters = {0, 1.5f, 1, 1, 1, 1};
  SpeedProfileOptimizer().startValue = 36;
  platform::ClearInput();
  platform::PostKeyDown('x');
  ASSERT_TRUE(OptimizeSpeedProfile(&host));
  // The vertices were simulated; the key ended the search at its first pass.
  EXPECT_LE(SpeedProfileOptimizer().objectiveCalls, 6 + 1 + 2);
  EXPECT_LE(p.optimisedTime, 36.0f);
  EXPECT_EQ(gFitEngineState.stopRequested, 0);
  EXPECT_FALSE(platform::StopFlag());
}

TEST_F(SpeedProfile, ProgrammesThatCannotRunScoreTheFailureValue) {
  Base(39);
  TimeToEqParams& p = CurrentTimeToEqParams();
  std::vector<float> x = {0, 1, 1, 1, 1, 1};
  p.stepTimeIncrement = 0;
  EXPECT_EQ(SimulateSpeedProfileObjective(x.data(), nullptr), kFailedObjective);
  EXPECT_FALSE(SpeedProfileOptimizer().trialValid);
  p.stepTimeIncrement = 900;
  p.justRunSpeedFile = 1;
  p.speedFilePath = "no such file.txt";
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  EXPECT_EQ(SimulateSpeedProfileObjective(x.data(), nullptr), kFailedObjective);
  p.justRunSpeedFile = 0;
  p.meniscus = 7.3f;
  EXPECT_EQ(SimulateSpeedProfileObjective(x.data(), nullptr), kFailedObjective);
}

TEST_F(SpeedProfile, PlanningRunsSummariesAndRepeats) {
  RecordingHost host;
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  const std::string dir = ::testing::TempDir() + "tarnel_planning_run/";
  std::filesystem::create_directories(dir);
  const std::string result = dir + "r.txt";
  TimeToEqParams& p = CurrentTimeToEqParams();
  p.saveScans = 0;
  p.saveEquMethod = 0;
  // A second species of fraction 0 is not simulated.
  p.secondSpecies = 1;
  p.M2 = 130000;
  p.vbar2 = 0.73f;
  p.fraction2 = 0;
  p.D2 = 4.568e-7f;

  struct Case {
    int repeats;
    float hours;
    const char* constant;  // how the summary gives t(const)
    int calls;             // simulations of the search, at most
  } cases[] = {{0, 60, "t(const) = 39 h, t(opt) = 39 h, saved in ", 1},
               {0, 5, "t(const) = not reached within 5 h, t(opt) = not reached within 5 h, saved in ", 1},
               {2, 60, "t(const) = 39 h, t(opt) = ", 2 * 2 * 8 + 2}};
  for (const Case& c : cases) {
    p.repeats = c.repeats;
    p.rpmStep = 1;
    p.profileParameters.assign(6, 1.3f);
    SpeedProfileOptimizer().maxObjectiveCalls = 8;
    MinimumTimeToEqOutcome o;
    const float t = CalculateMinimumTimeToEq(&host, c.hours, result, o);
    EXPECT_EQ(p.speciesCount, 1);
    EXPECT_EQ(t, o.constantHours);
    const std::string summary = MinimumTimeToEqSummary(o, result);
    EXPECT_EQ(summary.rfind(std::string("epsilon = 0.0010: ") + c.constant, 0), 0u) << summary;
    EXPECT_LE(SpeedProfileOptimizer().objectiveCalls, c.calls + 2 * 8 * c.repeats) << c.repeats;
    if (c.repeats == 0) {
      EXPECT_EQ(SpeedProfileOptimizer().objectiveCalls, 1);
      for (size_t j = 1; j < p.profileParameters.size(); ++j) EXPECT_EQ(p.profileParameters[j], 1.0f);
    } else {
      EXPECT_LE(p.optimisedTime, 34.5f);  // never worse than the all-ones programme
      EXPECT_EQ(p.rpmStep, 100);
    }
    EXPECT_TRUE(std::filesystem::exists(dir + "optimized_DeltaEQ.txt"));
  }

  // A constant-speed run that cannot be set up is a failure, said once.
  p.bottom = 6.0f;
  MinimumTimeToEqOutcome failed;
  EXPECT_EQ(CalculateMinimumTimeToEq(&host, 60, result, failed), -1.0f);
  EXPECT_TRUE(failed.constantFailed);
  EXPECT_EQ(MinimumTimeToEqSummary(failed, result),
            "epsilon = 0.0010: t(const) = simulation failed, t(opt) = simulation failed, saved in " + result);
  std::filesystem::remove_all(dir);
}

namespace {

// A host that types a key when the search shows its n-th programme.
class TypingHost : public RecordingHost {
 public:
  explicit TypingHost(int at) : at_(at) {}
  void DrawText(int x, int y, const std::string& text) override {
    RecordingHost::DrawText(x, y, text);
    if (++shown_ == at_) platform::PostKeyDown('k');
  }

 private:
  int at_, shown_ = 0;
};

// A key during the first of three searches ends the planning there: the
// remaining searches do not run, the stop is said once, the best programme
// found is written and no key is left for a later question.
TEST_F(SpeedProfile, AKeyEndsThePlanningWithTheBestProgrammeFound) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const std::string dir = ::testing::TempDir() + "tarnel_planning_key/";
  std::filesystem::create_directories(dir);
  TimeToEqParams& p = CurrentTimeToEqParams();
  p.saveScans = 0;
  p.saveEquMethod = 0;
  p.repeats = 3;
  p.profileParameters.assign(6, 1.3f);
  SpeedProfileOptimizer().maxObjectiveCalls = 8;
  platform::ClearInput();
  TypingHost host(3);
  ui.ExpectBox("CALCULATE MINIMUM TIME TO EQ", "optimization stopped by the user");
  MinimumTimeToEqOutcome o;
  CalculateMinimumTimeToEq(&host, 60, dir + "r.txt", o);
  EXPECT_TRUE(o.userStopped);
  EXPECT_FALSE(o.trialFailed);
  // The all-ones programme, the first search's start, that search (its
  // budget of 8 and its closing evaluations) and the final run: far fewer
  // than the three searches of 1 + 2 x 8 each would take.
  EXPECT_LE(SpeedProfileOptimizer().objectiveCalls, 1 + 1 + 8 + 2 + 1);
  EXPECT_FALSE(platform::KeyDownPending());
  EXPECT_TRUE(std::filesystem::exists(dir + "optimized_DeltaEQ.txt"));
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures.front());
  std::filesystem::remove_all(dir);
}

}  // namespace
