#include "equilibrium/planning/minimum_time_to_eq.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "equilibrium/planning/planning_result_files.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/fit_engine_state.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kCaption = "CALCULATE MINIMUM TIME TO EQ";

void ClearStops() {
  gFitEngineState.stopRequested = 0;
  platform::StopFlag() = false;
}

// Keys typed since the planning began: the searches take a key as the end
// of the search under way (and clear it), so they are counted, not looked for.
unsigned long gKeysAtStart = 0;
bool UserStopped() { return platform::KeyDownsPosted() != gKeysAtStart; }

// x as every search starts it: all 1, the first 1.5 for the stepwise form.
void StartVector(std::vector<float>& x, const TimeToEqParams& p) {
  std::fill(x.begin(), x.end(), 1.0f);
  if (!p.exponential && x.size() > 1) x[1] = 1.5f;
}

// Evaluates x, shows it, and optimises it with speed steps of 1 and of 100 rpm.
void SearchFrom(FitHost* window, std::vector<float>& x) {
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  TimeToEqParams& p = CurrentTimeToEqParams();
  const float start = SimulateSpeedProfileObjective(x.data(), window);
  st.startValue = st.trialValid ? st.trial->tEqRms / 3600.0f : start;
  p.optimisedTime = st.startValue;
  PlotTimeToEqProgress(start, x.data(), window);
  for (float step : {1.0f, 100.0f}) {
    if (UserStopped()) return;
    p.rpmStep = step;
    OptimizeSpeedProfile(window);
    ClearStops();
  }
}

// The criterion holds at the time reported: before the last stored time, or
// at it (a trial as long as the constant-speed time reaches it there).
bool Reached(const CApproachToEqSim& sim, float eps) {
  return sim.nScans > 0 && sim.rmsDev[sim.indexRms] < eps;
}

}  // namespace

float PlanningMaximumHours() {
  const TimeToEqParams& p = CurrentTimeToEqParams();
  float hours = 1.5f * EstimateTimeToEquilibrium(p.finalRpm, p.temperature, p.M1, p.density, p.vbar1, p.bottom,
                                                 p.meniscus, p.D1, p.targetRmsd);
  if (p.secondSpecies)
    hours = std::max(hours, 1.5f * EstimateTimeToEquilibrium(p.finalRpm, p.temperature, p.M2, p.density, p.vbar2,
                                                             p.bottom, p.meniscus, p.D2, p.targetRmsd));
  return hours;
}

float CalculateMinimumTimeToEq(FitHost* window, float maxHours, const std::string& resultPath,
                               MinimumTimeToEqOutcome& outcome) {
  outcome = MinimumTimeToEqOutcome{};
  platform::ClearInput();
  gKeysAtStart = platform::KeyDownsPosted();
  TimeToEqParams& p = CurrentTimeToEqParams();
  SpeedProfileOptimizerState& st = SpeedProfileOptimizer();
  std::unique_ptr<CApproachToEqSim>& constant = ConstantSpeedSimulation();
  constant = std::make_unique<CApproachToEqSim>();
  st.trial.reset();
  st.trialValid = false;
  if (p.skipCompletion) {
    platform::Tell(kCaption, "...distribution needs to be implemented");
    return 0;
  }

  float fraction[3] = {0, 1, 0}, s[3] = {0, p.s1, p.s2}, D[3] = {0, p.D1, p.D2};
  int n = 1;
  if (p.secondSpecies && p.fraction2 > 0 && p.M2 > 0 && p.vbar2 > 0 && p.ff02 > 0) {
    n = 2;
    fraction[1] = 1.0f - p.fraction2;
    fraction[2] = p.fraction2;
  }
  p.speciesCount = n;

  const PlanningStart start = SetupPlanningSimulation(*constant, window, maxHours, n, fraction, s, D);
  if (start != PlanningStart::Ready) {
    outcome.constantFailed = true;
    if (start == PlanningStart::NoStart) return 0;
    platform::Tell(kCaption, "the approach to equilibrium cannot be simulated: " + constant->refusal);
    return -1;
  }
  outcome.simulatedHours = constant->nScans * constant->scanInterval / 3600.0f;
  if (!constant->Run()) {
    outcome.constantFailed = true;
    return -1;
  }
  constant->ComputeDistanceToEq(p.targetRmsd, p.targetRmsd);
  constant->WriteDeltaEqFile(resultPath, "constantspeed_DeltaEQ.txt");
  outcome.constantHours = constant->tEqRms / 3600.0f;
  outcome.constantReached = Reached(*constant, p.targetRmsd);

  SetOptimizationBase(constant->tEqRms, n, fraction, s, D);
  std::vector<float>& x = p.profileParameters;
  st.objectiveCalls = 0;
  if (p.justRunSpeedFile) {
    SimulateSpeedProfileObjective(x.data(), window);
  } else if (p.repeats <= 0) {
    std::fill(x.begin(), x.end(), 1.0f);
    SimulateSpeedProfileObjective(x.data(), window);
  } else if (p.repeats == 1) {
    StartVector(x, p);
    SearchFrom(window, x);
  } else {
    std::vector<float> best(x.size(), 1.0f);
    float bestValue = SimulateSpeedProfileObjective(best.data(), window);
    for (int r = 1; r <= p.repeats && !UserStopped(); ++r) {
      StartVector(x, p);
      SearchFrom(window, x);
      if (p.optimisedTime < bestValue) {
        bestValue = p.optimisedTime;
        best = x;
      }
    }
    x = best;
    SimulateSpeedProfileObjective(x.data(), window);
  }
  ClearStops();
  // Keys typed during the search answer none of the questions below.
  if (UserStopped()) {
    outcome.userStopped = true;
    platform::FlushTypedInput();
    platform::Tell(kCaption, "optimization stopped by the user: the best rotor-speed programme found so far is kept");
  }
  platform::FlushTypedInput();

  // Only a programme that ran to the end has results to write.
  if (!st.trialValid || !st.trial) {
    outcome.trialFailed = true;
    platform::Tell(kCaption, "the rotor-speed programme could not be simulated; no optimized files were written");
    return outcome.constantHours;
  }
  const CApproachToEqSim& trial = *st.trial;
  outcome.optimisedHours = p.optimisedTime = trial.tEqRms / 3600.0f;
  outcome.optimisedReached = Reached(trial, p.targetRmsd);
  outcome.trialShown = true;

  WriteRpmTimeCourse(trial, resultPath, false);
  if (p.saveScans) WriteSimulatedApproachScans(trial, resultPath);
  trial.WriteDeltaEqFile(resultPath, "optimized_DeltaEQ.txt");
  if (p.saveEquMethod) {
    float cycle = 90;
    int perStep = 1, finals = 0;
    if (!InputFloat(&cycle, cycle, true, "scan cycle time (sec)", kCaption) ||
        !InputCount(&perStep, perStep, "max # of scans per step", kCaption) ||
        !InputCount(&finals, finals, "# of final scans", kCaption)) {
      outcome.cancelled = true;
      outcome.trialShown = false;
      return 0;
    }
    WriteEquMethodFile(trial, resultPath, cycle, static_cast<int>(p.temperature),
                       finals, perStep, 1);
  }
  return outcome.constantHours;
}

std::string MinimumTimeToEqSummary(const MinimumTimeToEqOutcome& o, const std::string& resultPath) {
  const TimeToEqParams& p = CurrentTimeToEqParams();
  char part[200];
  auto time = [&](bool failed, bool reached, float hours, float within) {
    if (failed) return std::string("simulation failed");
    if (!reached) {
      std::snprintf(part, sizeof part, "not reached within %.0f h", within);
      return std::string(part);
    }
    std::snprintf(part, sizeof part, "%.0f h", hours);
    return std::string(part);
  };
  const float trialHours = SpeedProfileOptimizer().optimisationTime / 3600.0f;
  std::string line;
  if (p.justRunSpeedFile) line = "[" + p.speedFilePath + "]";
  std::snprintf(part, sizeof part, "epsilon = %.4f: ", p.targetRmsd);
  line += part;
  line += "t(const) = " + time(o.constantFailed, o.constantReached, o.constantHours, o.simulatedHours);
  line += ", t(opt) = " + time(o.constantFailed || o.trialFailed, o.optimisedReached, o.optimisedHours, trialHours);
  return line + ", saved in " + resultPath;
}
