#include "equilibrium/planning/speed_profile_optimizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "data/rotor_speed_profile.h"
#include "distributions/hydrodynamics.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/annealing.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/nelder_mead.h"
#include "platform/error_box.h"
#include "numerics/random.h"
#include "platform/input_events.h"

namespace {

constexpr float kMinRpm = 3000, kMaxRpm = 50000;
constexpr float kSpread = 0.15f;       // relative spread of new simplex vertices
constexpr float kMinDecayHours = 0.5f;
constexpr int kMaxGridPoints = 100000;

// Objective calls allowed to the running optimisation.
int& CallLimit() {
  static int limit = 0;
  return limit;
}
bool CallsExhausted() { return SpeedProfileOptimizer().objectiveCalls >= CallLimit(); }

// A key press asks for a stop; the fit engine's flag carries it.
void PollStop() {
  platform::PumpEvents();
  if (platform::TakeKeyDown()) platform::StopFlag() = true;
  if (platform::StopFlag()) {
    platform::StopFlag() = false;
    gFitEngineState.stopRequested = 1;
  }
}

std::vector<float>& ProfileVector() {
  TimeToEqParams& p = CurrentTimeToEqParams();
  const size_t want = static_cast<size_t>(std::max(p.parameterCount, 1)) + 1;
  if (p.profileParameters.size() != want) p.profileParameters.assign(want, 1.0f);
  return p.profileParameters;
}

}  // namespace

void ScatterSpeedProfileSimplex(float** p, const float* x, int n, bool raiseFirst) {
  for (int j = 1; j <= n; ++j) p[1][j] = x[j];
  for (int i = 2; i <= n + 1; ++i) {
    for (int j = 1; j <= n; ++j) {
      p[i][j] = p[1][j] + GaussRandom(kSpread * p[1][j]);
      if (std::fabs(p[i][j]) < kSpread) p[i][j] += GaussRandom(kSpread);
    }
    p[i][1] = std::max(p[i][1], kLowestFirstParameter);
  }
  // Raised after the others have scattered around x itself.
  if (raiseFirst) p[1][1] = std::max(p[1][1], kLowestFirstParameter);
}

namespace {

int BestVertex(const float* y, int n) {
  int best = 1;
  for (int i = 2; i <= n + 1; ++i)
    if (y[i] < y[best]) best = i;
  return best;
}

}  // namespace

SpeedProfileOptimizerState& SpeedProfileOptimizer() {
  static SpeedProfileOptimizerState state;
  return state;
}

void SetOptimizationBase(float tConstSeconds, int n, const float* fraction, const float* s, const float* D) {
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  st.optimisationTime = tConstSeconds;
  st.nSpecies = n;
  st.fraction.assign(static_cast<size_t>(n) + 1, 0.0f);
  st.s.assign(static_cast<size_t>(n) + 1, 0.0f);
  st.D.assign(static_cast<size_t>(n) + 1, 0.0f);
  for (int k = 1; k <= n; ++k) {
    st.fraction[static_cast<size_t>(k)] = fraction[k];
    st.s[static_cast<size_t>(k)] = s[k];
    st.D[static_cast<size_t>(k)] = D[k];
  }
  CurrentTimeToEqParams().optimisedTime = 0;
  ProfileVector();
}

float SpeedAtTime(const TimeToEqParams& p, const float* x, float t, bool rounding, float roundTo) {
  const double F = p.finalRpm, T = p.overspeedTime / 3600.0, th = t / 3600.0;
  if (t < 0 || !x || th > T) return p.finalRpm;
  const int P = std::max(p.parameterCount, 1);
  double rpm;
  int i = 1;
  if (!p.exponential) {
    while (i * T < th * P) ++i;
    rpm = F * (i <= P ? x[i] : 1.0);
  } else {
    const double tau = std::max<double>(kDecayTimeScale * std::fabs(x[1]), kMinDecayHours);
    while (i * T < th * (P - 1)) ++i;
    const double amplitude = i + 1 <= P ? x[i + 1] : 1.0;
    rpm = F * (1.0 + amplitude * std::exp(-th / tau));
  }
  if (rounding && roundTo > 0) rpm = std::floor(rpm / roundTo + 0.5) * roundTo;
  return static_cast<float>(std::clamp(rpm, static_cast<double>(kMinRpm), static_cast<double>(kMaxRpm)));
}

bool BuildSpeedProfileFromParameters(const TimeToEqParams& p, const float* x, int& n, FloatVec& times,
                                     FloatVec& rpms, FloatVec& accs, bool rounding, float minStep) {
  if (p.justRunSpeedFile) return ReadSpeedStepsForRun(p.speedFilePath, n, times, rpms, accs);
  const double base = p.stepTimeIncrement, T = p.overspeedTime;
  if (!(base > 0) || !std::isfinite(T) || !(p.acceleration > 0) || !(p.deceleration > 0)) return false;
  if (T / (2.0 / 3.0 * base) > kMaxGridPoints) return false;
  // Grid points before the overspeed time; the programme closes at it with
  // the final speed, so nothing after it and no second step at it.
  std::vector<double> grid;
  for (double t = 0; t < T;) {
    grid.push_back(t);
    t += t < 3600 ? 2.0 / 3.0 * base : (t < 10800.0 ? base : 2.0 * base);
  }
  std::vector<float> rpm(grid.size()), acc(grid.size());
  for (size_t i = 0; i < grid.size(); ++i) {
    rpm[i] = SpeedAtTime(p, x, static_cast<float>(grid[i]), rounding, minStep);
    acc[i] = p.acceleration;
    if (i == 0) continue;
    const double dt = grid[i] - grid[i - 1];
    if (rpm[i] > rpm[i - 1]) {
      rpm[i] = static_cast<float>(std::min<double>(rpm[i], rpm[i - 1] + dt * p.acceleration));
    } else if (rpm[i] < rpm[i - 1]) {
      acc[i] = p.deceleration;
      rpm[i] = static_cast<float>(std::max<double>(rpm[i], rpm[i - 1] - dt * p.deceleration));
    }
  }
  std::vector<float> t, v, a;
  for (size_t i = 0; i < grid.size(); ++i) {
    if (i > 0 && !(std::fabs(rpm[i] - rpm[i - 1]) >= minStep)) continue;
    t.push_back(static_cast<float>(grid[i]));
    v.push_back(rpm[i]);
    a.push_back(acc[i]);
  }
  const bool down = !v.empty() && p.finalRpm < v.back();
  t.push_back(static_cast<float>(std::max(T, 0.0)));
  v.push_back(p.finalRpm);
  a.push_back(down ? p.deceleration : p.acceleration);

  n = static_cast<int>(t.size());
  times = FloatVec(1, n);
  rpms = FloatVec(1, n);
  accs = FloatVec(1, n);
  for (int i = 1; i <= n; ++i) {
    times[i] = t[static_cast<size_t>(i - 1)];
    rpms[i] = v[static_cast<size_t>(i - 1)];
    accs[i] = a[static_cast<size_t>(i - 1)];
  }
  return true;
}

bool ReadSpeedStepsForRun(const std::string& path, int& n, FloatVec& times, FloatVec& rpms, FloatVec& accs) {
  if (path.empty()) return false;
  std::string file = path;
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext.size() > 1 && (ext[1] == 'E' || ext[1] == 'e')) {
    file = (std::filesystem::path(path).parent_path() / "speedsteps.txt").string();
    if (!ConvertEquToSpeedSteps(path, file)) return false;
  }
  CRotorSpeedProfile profile;
  profile.ReadFile(file);  // answers true only for several steps; one is a programme too
  if (profile.stepCount < 1) return false;
  n = profile.stepCount;
  times = FloatVec(1, n);
  rpms = FloatVec(1, n);
  accs = FloatVec(1, n);
  for (int i = 1; i <= n; ++i) {
    times[i] = profile.startTimes[i];
    rpms[i] = profile.speeds[i];
    accs[i] = profile.accelerations[i];
  }
  return true;
}

PlanningStart SetupPlanningSimulation(CApproachToEqSim& sim, FitHost* window, float hours, int nSpecies,
                                      const float* fraction, const float* s, const float* D) {
  const TimeToEqParams& p = CurrentTimeToEqParams();
  if (p.density > 0 && p.viscosity > 0) sim.SetSolution(p.vbar1, p.density, p.viscosity / kWaterViscosity20);
  if (!sim.SetupRun(window, hours, p.bottom, p.meniscus, p.rightLimit, p.leftLimit, nSpecies, fraction, s, D,
                    p.temperature, p.finalRpm))
    return PlanningStart::Refused;
  bool ok = true;
  if (p.continueHistory) {
    const CRotorSpeedProfile* history = CurrentSpeedProfile.Active() ? CurrentSpeedProfile.profile.get() : nullptr;
    ok = sim.SetInitialCondition(p.initialRpm, history, p.historyDuration, 0);
  } else if (p.initialRpm > 0) {
    ok = sim.SetInitialCondition(p.initialRpm, nullptr, 0, 0);
  } else if (p.initialStep > p.meniscus) {
    ok = sim.SetInitialCondition(p.finalRpm, nullptr, 0, p.initialStep);
  }
  return ok ? PlanningStart::Ready : PlanningStart::NoStart;
}

float SimulateSpeedProfileObjective(float* x, FitHost* window) {
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  const TimeToEqParams& p = CurrentTimeToEqParams();
  const int P = std::max(p.parameterCount, 1);
  ++st.objectiveCalls;
  st.trialValid = false;
  st.trialX.assign(x, x + P + 1);
  st.trial = std::make_unique<CApproachToEqSim>();
  auto finish = [&](float f) {
    PollStop();
    if (f < st.bestValue) st.bestValue = f;
    return f;
  };
  const bool rounding = p.rpmStep > 1;
  int n = 0;
  FloatVec times, rpms, accs;
  if (!BuildSpeedProfileFromParameters(p, x, n, times, rpms, accs, rounding, rounding ? p.rpmStep : 1.0f))
    return finish(kFailedObjective);
  CApproachToEqSim& sim = *st.trial;
  if (st.nSpecies < 1 || SetupPlanningSimulation(sim, window, st.optimisationTime / 3600.0f, st.nSpecies,
                                                 st.fraction.data(), st.s.data(), st.D.data()) !=
                             PlanningStart::Ready)
    return finish(kFailedObjective);
  sim.SetSpeedSteps(n, times, rpms, accs, 2);
  if (!sim.Run()) return finish(kFailedObjective);
  const float eps = p.targetRmsd;
  sim.ComputeDistanceToEq(eps, eps);
  st.trialValid = true;
  float f = sim.tEqRms / 3600.0f;
  if (st.penalty && sim.nScans >= 2) {
    const float atEq = sim.rmsDev[sim.indexRms], late = sim.rmsDev[sim.nScans - 1];
    f += 10.0f * atEq;
    if (atEq < late) f += (late - atEq) * (late - atEq) * 1000.0f / (eps * eps);
  }
  if (p.maxOverconcentration > 0) {
    const float v = sim.MaxBottomOverconcentration();
    if (v > p.maxOverconcentration) f += (v - p.maxOverconcentration) * (v - p.maxOverconcentration) * 1000.0f;
  }
  return finish(f);
}

std::string TimeToEqProgressText(const TimeToEqParams& p, float value, const float* x) {
  const SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  const FitEngineState& fs = gFitEngineState;
  const int P = std::max(p.parameterCount, 1);
  const float om0 = SpeedAtTime(p, x, 0, p.rpmStep > 1, p.rpmStep);
  char text[400];
  std::string line;
  if (st.annealing && fs.annealTemperature > 0 && p.rpmStep < 100) {
    std::snprintf(text, sizeof text, "(SA T = %f, %d) ", fs.annealTemperature, fs.minimiserRuns);
    line = text;
  }
  const float second = x[std::min(2, P)];
  if (!p.exponential) {
    std::snprintf(text, sizeof text, "(%d) %02d: %.3f h | om(0)=%.0f | %f | ... | %f  ", fs.minimiserRuns,
                  st.evaluations, value, om0, second, x[P]);
  } else if (P == 7) {
    std::snprintf(text, sizeof text,
                  "(%d) %02d: %.3f h | om(0)=%.0f | decay-time = %.1f h | %f | %f | %f | %f | %f | %f",
                  fs.minimiserRuns, st.evaluations, value, om0, kDecayTimeScale * std::fabs(x[1]), x[2], x[3],
                  x[4], x[5], x[6], x[7]);
  } else {
    std::snprintf(text, sizeof text, "(%d) %02d: %.3f h | om(0)=%.0f | decay-time = %.1f h | %f | ... | %f",
                  fs.minimiserRuns, st.evaluations, value, om0, kDecayTimeScale * std::fabs(x[1]), second, x[P]);
  }
  return line + text;
}

void PlotTimeToEqProgress(float value, float* x, FitHost* window) {
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  const TimeToEqParams& p = CurrentTimeToEqParams();
  const int P = std::max(p.parameterCount, 1);
  if (window && st.drawProgressPlot && value <= st.bestValue) {
    // The plot shows the trial of x; simulate it again only when the last
    // trial was another programme.
    if (!st.trialValid || st.trialX.size() != static_cast<size_t>(P) + 1 ||
        !std::equal(x + 1, x + P + 1, st.trialX.begin() + 1))
      SimulateSpeedProfileObjective(x, window);
    if (st.trialValid) st.drawProgressPlot(*st.trial, st.optimisationTime / 3600.0f);
  }
  if (window) window->DrawText(50, 10, TimeToEqProgressText(p, value, x));
  PollStop();
}

void NelderMeadSpeedProfile(FitHost* window, float** p, float* y, int P, float ftol, int& evaluations) {
  FitEngineState& fs = gFitEngineState;
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  fs.simplexCollapsed = 0;
  ++fs.minimiserRuns;
  fs.evaluationsThisRun = 0;
  evaluations = 0;
  st.evaluations = 0;
  FloatVec psum(1, P);
  ComputePsum(p, P, psum);
  for (;;) {
    if (fs.stopRequested || CallsExhausted()) return;
    int ilo, ihi, inhi;
    RankSimplex(y, P, &ilo, &ihi, &inhi);
    CurrentTimeToEqParams().optimisedTime = y[ilo];
    st.evaluations = evaluations;
    PlotTimeToEqProgress(y[ilo], p[ilo], window);
    if (RelativeSpread(y[ilo], y[ihi]) < ftol) {
      std::swap(y[1], y[ilo]);
      for (int j = 1; j <= P; ++j) std::swap(p[1][j], p[ilo][j]);
      return;
    }
    if (evaluations > 4999) {
      ErrorBox("Nelder-Mead not converged");
      return;
    }
    fs.simplexCollapsed = SimplexCollapsed(p, P, ilo);
    if (fs.simplexCollapsed) return;
    evaluations += MoveSimplex(window, p, y, psum, P, SimulateSpeedProfileObjective, ilo, ihi, inhi);
  }
}

bool OptimizeSpeedProfile(FitHost* window) {
  if (!window) return false;
  FitEngineState& fs = gFitEngineState;
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  TimeToEqParams& tp = CurrentTimeToEqParams();
  // The annealing refines with this function; it must not hand over again.
  if (fs.useAnnealing && fs.annealStartTemperature > 0 && tp.rpmStep < 100 && !st.annealing)
    return AnnealSpeedProfile(window);
  const int P = std::max(tp.parameterCount, 1);
  std::vector<float>& x = ProfileVector();
  CallLimit() = st.objectiveCalls + st.maxObjectiveCalls;
  FloatMat simplex(1, P + 1, 1, P);
  FloatVec y(1, P + 1);
  float** p = simplex;
  // Cleared before the vertices are simulated: a key pressed meanwhile stops.
  fs.stopRequested = 0;
  ScatterSpeedProfileSimplex(p, x.data(), P, false);
  for (int i = P + 1; i >= 1; --i) y[i] = SimulateSpeedProfileObjective(p[i], window);

  fs.minimiserRuns = 0;
  fs.fitRunning = 1;
  fs.evaluationsThisRun = 0;
  st.penalty = true;
  st.bestValue = st.startValue;
  st.restarts = 0;
  int evaluations = 0;
  NelderMeadSpeedProfile(window, p, y, P, 1e-5f, evaluations);
  int b = BestVertex(y, P);
  for (int j = 1; j <= P; ++j) x[static_cast<size_t>(j)] = p[b][j];
  float yBest = y[b];

  bool converged = false;
  while (!converged && !fs.stopRequested && !CallsExhausted() && st.restarts < st.maxRestarts) {
    ++st.restarts;
    ScatterSpeedProfileSimplex(p, x.data(), P, false);
    for (int i = 1; i <= P + 1; ++i) y[i] = SimulateSpeedProfileObjective(p[i], window);
    NelderMeadSpeedProfile(window, p, y, P, 1e-5f, evaluations);
    b = BestVertex(y, P);
    if (y[b] > yBest) continue;  // cut short before it came back to x
    converged = std::fabs(y[b] - yBest) <= 1e-5f * std::fabs(yBest);
    for (int j = 1; j <= P && converged; ++j) {
      const float xj = x[static_cast<size_t>(j)];
      converged = p[b][j] == 0 ? xj <= 1e-4f : std::fabs(p[b][j] - xj) / std::fabs(p[b][j]) <= 1e-4f;
    }
    for (int j = 1; j <= P; ++j) x[static_cast<size_t>(j)] = p[b][j];
    yBest = y[b];
  }
  fs.fitRunning = 0;
  fs.stopRequested = 0;
  st.penalty = false;
  tp.optimisedTime = SimulateSpeedProfileObjective(x.data(), window);
  return true;
}

void AnnealSpeedProfileStep(float temperature, FitHost* window, float** p, float* y, int n, float* pb, float* yb,
                            float ftol, int& budget) {
  FitEngineState& fs = gFitEngineState;
  FloatVec psum(1, n);
  ComputePsum(p, n, psum);
  const float tt = -temperature * *yb;
  while (!fs.stopRequested && !CallsExhausted()) {
    int ilo = 1, ihi = 2;
    float ylo = 0, ynhi = 0, yhi = 0;
    RankFluctuatedSimplex(y, n, tt, &ilo, &ihi, &ylo, &ynhi, &yhi);
    CurrentTimeToEqParams().optimisedTime = y[ilo];
    PlotTimeToEqProgress(y[ilo], p[ilo], window);
    if (RelativeSpread(ylo, yhi) < ftol || budget < 0) {
      std::swap(y[1], y[ilo]);
      for (int j = 1; j <= n; ++j) std::swap(p[1][j], p[ilo][j]);
      return;
    }
    budget -= MoveAnnealingSimplex(tt, window, p, y, psum, n, pb, yb, SimulateSpeedProfileObjective, ilo, ihi, ylo,
                                   ynhi, &yhi);
  }
}

bool AnnealSpeedProfile(FitHost* window) {
  FitEngineState& fs = gFitEngineState;
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  TimeToEqParams& tp = CurrentTimeToEqParams();
  const float t0 = fs.annealStartTemperature;
  const int n = std::max(tp.parameterCount, 1);
  std::vector<float>& x = ProfileVector();
  st.annealing = true;
  fs.annealTemperature = t0;
  fs.minimiserRuns = 0;
  fs.evaluationsThisRun = 0;
  fs.stopRequested = 0;
  fs.fitRunning = 1;
  st.bestValue = st.startValue;
  CallLimit() = st.objectiveCalls + st.maxObjectiveCalls;
  {
    FloatMat simplex(1, n + 1, 1, n);
    FloatVec y(1, n + 1), pb(1, n);
    float** p = simplex;
    ScatterSpeedProfileSimplex(p, x.data(), n, true);
    for (int i = n + 1; i >= 1; --i) y[i] = SimulateSpeedProfileObjective(p[i], window);
    // The best point starts at the best vertex, so that it is never worse
    // than where the search began.
    const int best = BestVertex(y, n);
    float yb = y[best];
    for (int j = 1; j <= n; ++j) pb[j] = p[best][j];

    fs.annealSeed = -3;
    ran1(&fs.annealSeed);
    const int steps = fs.annealSteps;
    for (int k = 0; k < steps && !fs.stopRequested && !CallsExhausted(); ++k) {
      ++fs.minimiserRuns;
      fs.annealTemperature = AnnealingTemperature(k, steps, t0);
      int budget = fs.annealIterations;
      AnnealSpeedProfileStep(fs.annealTemperature, window, p, y, n, pb, &yb, 0.0005f, budget);
      if (budget > 0) break;
    }
    fs.fitRunning = 0;
    fs.stopRequested = 0;
    for (int j = 1; j <= n; ++j) x[static_cast<size_t>(j)] = pb[j];
    tp.optimisedTime = SimulateSpeedProfileObjective(pb, window);
  }
  fs.annealTemperature = 0;
  OptimizeSpeedProfile(window);
  fs.annealTemperature = t0;
  st.annealing = false;
  return true;
}
