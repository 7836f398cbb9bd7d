#pragma once
// An analytic model behind the fit engine: one or more "scans" whose points
// are x values, signals given by the test, and a model computed from P[].
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/lamm_grid.h"
#include "fit/marquardt.h"
#include "fit/model_params.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "fit/simulation_switches.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "platform/input_events.h"
#include "tests/support/fit_state.h"
#include "tests/support/input_state.h"

namespace fittest {

using ModelFunction = std::function<float(const float* P, float x, int point)>;

class AnalyticHost : public FitHost {
 public:
  ModelFunction model;
  std::vector<std::string> boxes;
  std::vector<std::string> texts;
  std::vector<float> temperatures;  // annealTemperature at each evaluation
  int evaluations = 0;
  int stopAfter = -1;  // post a key press after this many evaluations
  int gridSize = 1000;

  std::vector<int> gridSizes;  // grid size at each evaluation
  void SimulateModel() override {
    ScanSet& ss = CurrentScanSet();
    ++evaluations;
    gridSizes.push_back(gridSize);
    temperatures.push_back(gFitEngineState.annealTemperature);
    for (int s = 1; s <= ss.count; ++s)
      for (int k = 1; k <= ss.points[s]; ++k)
        ss.model[s][k] = model(gModelParameterVector.P, ss.radii[s][k], k);
    if (stopAfter >= 0 && evaluations == stopAfter) platform::PostKeyDown();
  }
  int gridBuilds = 0;
  void MakeRadialGrid() override { ++gridBuilds; }
  int LammGridSize() const override { return gridSize; }
  void SetLammGridSize(int n) override { gridSize = n; }
  void MessageBox(const std::string& caption, const std::string& text, platform::BoxIcon) override {
    boxes.push_back(caption + "|" + text);
  }
  void ErrorBox(const std::string& text) override { boxes.push_back("Error|" + text); }
  void PlaySoundError() override {}
  void PlaySoundInfo() override {}
  std::vector<bool> answers;  // Yes/No answers in order (No when exhausted)
  std::vector<float> numbers;
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    boxes.push_back(caption + "|" + text);
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  bool InputFloat(float* value, float, const std::string& prompt, const std::string&) override {
    boxes.push_back("input|" + prompt);
    if (numbers.empty()) return false;
    *value = numbers.front();
    numbers.erase(numbers.begin());
    return true;
  }
  int lammDialogs = 0;
  void OpenLammEquationParameters() override { ++lammDialogs; }
  void CheckLeftFitLimit() override {}
  void CheckRightFitLimit() override {}
  void DrawText(int x, int y, const std::string& text) override {
    texts.push_back(std::to_string(x) + "," + std::to_string(y) + ":" + text);
  }
};

// The analytic host's boxes, answers and texts around the program's own
// model evaluation; every evaluation is counted.
class ModelHost : public AnalyticHost {
 public:
  void SimulateModel() override {
    ++evaluations;
    ::SimulateModel(this);
  }
};

// Resets every record the fit engine reads.
inline void ResetFitState() {
  FreeMarquardtArrays();
  teststate::ResetFitState();
  teststate::ResetInputState();
  // Light scattering data of an earlier test would skip the meniscus checks.
  CurrentDataTypeFlags() = DataTypeFlags{};
  gSerialFitSettings = SerialFitSettings{};
  gSimulationSwitches = SimulationSwitches{};
  gFitReportSuppressed = 0;
  SetFitOptionProvider(nullptr);
}

// Every scan array released, the scan set as new.
inline void ClearScans() {
  ScanSet& ss = CurrentScanSet();
  FreeSpeciesScanArrays(ss);
  FreeScanGridArrays(ss);
  FreeScanSetArrays(ss);
  ss = ScanSet{};
}

// Loads scans with the given x values and signals into the scan set; the
// fit limits cover every point. Meniscus 6.0, bottom 7.2.
inline void LoadScans(const std::vector<std::vector<float>>& x, const std::vector<std::vector<float>>& signal) {
  ClearScans();
  ScanSet& ss = CurrentScanSet();
  const int count = static_cast<int>(x.size());
  AllocateScanTables(ss, count);
  for (int s = 1; s <= count; ++s) {
    const int n = static_cast<int>(x[s - 1].size());
    ss.radii[s] = vector(1, n);
    ss.signals[s] = vector(1, n);
    ss.model[s] = vector(1, n);
    for (int k = 1; k <= n; ++k) {
      ss.radii[s][k] = x[s - 1][k - 1];
      ss.signals[s][k] = signal[s - 1][k - 1];
    }
    ss.points[s] = n;
    ss.order[s] = s;
    ss.firstFitPoint[s] = 1;
    ss.lastFitPoint[s] = n;
    ss.fileNames[s] = "scan" + std::to_string(s) + ".ra1";
  }
  ss.leftFitLimit = 6.0f;
  ss.rightFitLimit = 7.2f;
  gModelParams.meniscus = gModelParameterVector.P[13] = 6.0f;
  gModelParams.bottom = gModelParameterVector.P[14] = 7.2f;
}

// Scans on the same radii at the given times, at a constant rotor speed
// (rpm) and 20 degC.
inline void LoadScansAtTimes(const std::vector<double>& times, double rpm, const std::vector<float>& radii) {
  std::vector<std::vector<float>> x(times.size(), radii), y(times.size(), std::vector<float>(radii.size()));
  LoadScans(x, y);
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j) {
    ss.records[j].rpm = static_cast<float>(rpm);
    ss.records[j].temperature = 20;
    ss.records[j].time = ss.records[j].timeRead = times[j - 1];
  }
}

// `points` radii spread evenly from 6.0 to 7.15 cm.
inline std::vector<float> EvenRadii(int points) {
  std::vector<float> r;
  for (int i = 0; i < points; ++i) r.push_back(6.0f + 1.15f * i / (points - 1));
  return r;
}

// `scans` scans on the same `points` even radii at 50000 rpm, scan j at
// first + interval (j - 1) seconds.
inline void LoadEvenScans(int scans, int points, double first, double interval) {
  std::vector<double> times;
  for (int j = 1; j <= scans; ++j) times.push_back(first + interval * (j - 1));
  LoadScansAtTimes(times, 50000, EvenRadii(points));
}

// The discrete-species model with one species (s in S, D in 1e-7 cm^2/s)
// at concentration c.
inline void SetOneSpecies(float s, float D, float c) {
  ModelParams& mp = gModelParams;
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState.molarMassParameters = 0;
  mp.included[1] = 1;
  mp.s[1] = s;
  mp.massOrD[1] = D;
  mp.concentration[1] = c;
  PackModelParameters();
}

// The discrete-species model with two species (s in S, D in 1e-7 cm^2/s),
// the total concentration and the second one's fraction.
inline void SetTwoSpecies(float s1, float D1, float s2, float D2, float total, float fraction2) {
  ModelParams& mp = gModelParams;
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState.molarMassParameters = 0;
  mp.included[1] = mp.included[2] = 1;
  mp.s[1] = s1;
  mp.massOrD[1] = D1;
  mp.s[2] = s2;
  mp.massOrD[2] = D2;
  mp.concentration[1] = total;
  mp.concentration[2] = fraction2;
  PackModelParameters();
}

// The Lamm settings of a fixed grid of `nodes` nodes on the moving frame
// or the static grid, at constant speed from t = 0, no automatic choices.
inline LammSolverSettings& FixedGrid(bool movingFrame, int nodes) {
  LammSolverSettings& st = LammSettings();
  st = LammSolverSettings{};
  st.rampRotorSpeed = 0;
  st.automaticAlgorithm = 0;
  st.movingHatAlgorithm = movingFrame ? 1 : 0;
  st.claverieAlgorithm = movingFrame ? 0 : 1;
  st.automaticGridSize = 0;
  st.gridSize.setting = st.gridSize.inUse = nodes;
  return st;
}

// After a test that ran the solver on the global arrays: the arrays freed,
// the scans cleared, the fit state, the Lamm settings and the run state as
// at the start.
inline void ClearLammRun() {
  FreeLammArrays();
  ClearScans();
  ResetFitState();
  LammSettings() = LammSolverSettings{};
  CurrentLammRunState() = LammRunState{};
}

// A test of the fit engine on the program-wide records: it starts from them
// as new and leaves them so.
class FitStateTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearLammRun(); }
  void TearDown() override { ClearLammRun(); }
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
};

}  // namespace fittest
