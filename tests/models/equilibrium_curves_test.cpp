// The Boltzmann curves of equilibrium data against values computed apart
// (mean over r^2 by quadrature, not by the closed form), the bad inputs that
// must stay finite, the signal corrections, and where the curves go: the
// models, a slot's curves on the common grid, a kernel column.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/scan_grid.h"
#include "distributions/conti_run.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "models/equilibrium_curves/equilibrium_curves.h"
#include "platform/input_events.h"
#include "tests/fit/fit_test_support.h"

namespace {

constexpr double kMb50k = 13573.0;  // 50 kDa, vbar 0.73, rho 0.998

// Scans over the given radii at (rpm, degC), meniscus m and bottom b.
void Scans(const std::vector<std::pair<float, float>>& runs, const std::vector<float>& r, float m, float b) {
  std::vector<std::vector<float>> x(runs.size(), r), y(runs.size(), std::vector<float>(r.size(), 0.0f));
  fittest::LoadScans(x, y);
  ScanSet& ss = CurrentScanSet();
  ss.equilibriumMode = 1;
  for (int j = 1; j <= ss.count; ++j) {
    ss.records[j].rpm = runs[static_cast<size_t>(j - 1)].first;
    ss.records[j].temperature = runs[static_cast<size_t>(j - 1)].second;
  }
  gModelParams.meniscus = m;
  gModelParams.bottom = b;
}

std::vector<float> Radii(double m, double b, int n) {
  std::vector<float> r;
  for (int i = 0; i < n; ++i) r.push_back(static_cast<float>(m + (b - m) * i / (n - 1)));
  return r;
}

// Mean of scan j's model over r^2 (trapezoid rule in r^2).
double MeanOverRSquared(int j) {
  const ScanSet& ss = CurrentScanSet();
  const float* r = ss.radii[j];
  const float* y = ss.model[j];
  double sum = 0;
  for (int p = 1; p < ss.points[j]; ++p) {
    const double du = static_cast<double>(r[p + 1]) * r[p + 1] - static_cast<double>(r[p]) * r[p];
    sum += 0.5 * (y[p] + y[p + 1]) * du;
  }
  const double span = static_cast<double>(r[ss.points[j]]) * r[ss.points[j]] - static_cast<double>(r[1]) * r[1];
  return sum / span;
}

class EquilibriumCurves : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    CurrentModelCurveTarget() = ModelCurveTarget{};
    SetModelCurveCorrectionsSource(nullptr);
  }
  void TearDown() override {
    SetModelCurveCorrectionsSource(nullptr);
    CurrentModelCurveTarget() = ModelCurveTarget{};
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FitStateTest::TearDown();
    ContiHooks() = ContiRunHooks{};
    CurrentModelEvaluationHooks().equilibriumCurves = nullptr;
  }
};

TEST_F(EquilibriumCurves, ValuesAtTwoSpeedsAndTemperaturesFromOneCall) {
  EXPECT_NEAR(EquilibriumSigma(15000, 20), 5.06155e-5, 5e-10);
  Scans({{15000.0f, 20.0f}, {25000.0f, 4.0f}}, {6.9f, 7.05f, 7.2f}, 6.9f, 7.2f);
  ComputeModelCurves(kMb50k, 1.0);
  const struct {
    int scan, point;
    double value;
  } expected[] = {{1, 1, 0.168134}, {1, 2, 0.707910}, {1, 3, 3.074159},
                  {2, 1, 1.67231e-3}, {2, 2, 0.114199}, {2, 3, 8.53998}};
  for (const auto& e : expected)
    EXPECT_NEAR(CurrentScanSet().model[e.scan][e.point], e.value, 2e-6 * std::max(1.0, e.value))
        << "scan " << e.scan << " point " << e.point;
}

TEST_F(EquilibriumCurves, TheMeanOverRSquaredIsTheLoadingAndNothingOverflows) {
  struct Case {
    const char* name;
    double Mb, rpm, celsius, c;
    double bottomValue;  // expected / c at the bottom; 0: not checked
  };
  const Case cases[] = {
      {"50 kDa at 15000 rpm", kMb50k, 15000, 20, 2.5, 3.074159},
      {"flotation", -kMb50k, 15000, 20, 2.5, 0},
      {"tiny mass (expm1 near 0)", 1e-9, 15000, 20, 1.0, 1.0},
      {"1e6 g/mol at 50000 rpm", 1e6, 50000, 20, 1.0, 2378.93},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Fine enough for the 1e-4 cm layer of the largest mass.
    Scans({{static_cast<float>(c.rpm), static_cast<float>(c.celsius)}}, Radii(6.9, 7.2, 40001), 6.9f, 7.2f);
    ComputeModelCurves(c.Mb, c.c);
    const ScanSet& ss = CurrentScanSet();
    for (int p = 1; p <= ss.points[1]; ++p) ASSERT_TRUE(std::isfinite(ss.model[1][p])) << p;
    EXPECT_NEAR(MeanOverRSquared(1), c.c, 2e-3 * c.c);
    if (c.bottomValue > 0) {
      EXPECT_NEAR(ss.model[1][ss.points[1]] / c.c, c.bottomValue, 1e-5 * c.bottomValue);
    }
  }
  // Flotation piles up at the meniscus.
  Scans({{15000.0f, 20.0f}}, {6.9f, 7.2f}, 6.9f, 7.2f);
  ComputeModelCurves(-kMb50k, 1.0);
  EXPECT_GT(CurrentScanSet().model[1][1], CurrentScanSet().model[1][2]);
}

TEST_F(EquilibriumCurves, FlatCurveWhereNoGradientCanForm) {
  struct Case {
    const char* name;
    double Mb;
    float rpm, celsius, meniscus, bottom;
  };
  const Case cases[] = {
      {"no buoyant mass", 0.0, 15000, 20, 6.9f, 7.2f},
      {"rotor at rest", kMb50k, 0, 20, 6.9f, 7.2f},
      {"absolute zero", kMb50k, 15000, -273.15f, 6.9f, 7.2f},
      {"below absolute zero", kMb50k, 15000, -300, 6.9f, 7.2f},
      {"bottom at the meniscus", kMb50k, 15000, 20, 7.0f, 7.0f},
      {"bottom inside the meniscus", kMb50k, 15000, 20, 7.2f, 6.9f},
      {"infinite mass, no cell", HUGE_VAL, 15000, 20, 7.0f, 7.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scans({{c.rpm, c.celsius}}, {6.9f, 7.0f, 7.2f}, c.meniscus, c.bottom);
    ComputeModelCurves(c.Mb, 0.7);
    for (int p = 1; p <= 3; ++p) EXPECT_FLOAT_EQ(CurrentScanSet().model[1][p], 0.7f);
  }
  // An infinite mass in a real cell is all at the bottom, finite.
  Scans({{15000.0f, 20.0f}}, {6.9f, 7.0f, 7.2f}, 6.9f, 7.2f);
  ComputeModelCurves(HUGE_VAL, 1.0);
  EXPECT_EQ(CurrentScanSet().model[1][1], 0.0f);
  EXPECT_TRUE(std::isfinite(CurrentScanSet().model[1][3]));
  EXPECT_GT(CurrentScanSet().model[1][3], 1e5f);
}

TEST_F(EquilibriumCurves, StretchFactorScalesByDistanceFromTheMeniscus) {
  // Values 0, 0.5 and 1 cm beyond the meniscus.
  const std::vector<float> r = {6.0f, 6.5f, 7.0f};
  Scans({{15000.0f, 20.0f}}, r, 6.0f, 7.2f);
  ComputeModelCurves(kMb50k, 1.0);
  const std::vector<float> plain(CurrentScanSet().model[1] + 1, CurrentScanSet().model[1] + 4);
  for (const float f : {1.0f, 1.1f}) {
    SCOPED_TRACE(f);
    SetModelCurveCorrectionsSource([f] {
      ModelCurveCorrections k;
      k.stretch = true;
      k.stretchFactor = f;
      return k;
    });
    Scans({{15000.0f, 20.0f}}, r, 6.0f, 7.2f);
    ComputeModelCurves(kMb50k, 1.0);
    const float* y = CurrentScanSet().model[1];
    EXPECT_FLOAT_EQ(y[1], plain[0]);
    EXPECT_NEAR(y[2], plain[1] * (1 + 0.5 * (f - 1)), 1e-6);
    EXPECT_NEAR(y[3], plain[2] * f, 1e-6);
  }
}

TEST_F(EquilibriumCurves, CurvesGoToTheModelsTheSlotCurvesOrAKernelColumn) {
  const std::vector<float> r = Radii(6.9, 7.2, 31);
  Scans({{15000.0f, 20.0f}, {25000.0f, 4.0f}}, r, 6.9f, 7.2f);
  PrepareScanGrid();
  ScanSet& ss = CurrentScanSet();
  ASSERT_GT(ss.gridLength, 0);
  std::vector<float> want(static_cast<size_t>(ss.gridLength) + 1);
  auto expected = [&](int j) {
    BoltzmannCurve(kMb50k, 1.0, EquilibriumSigma(ss.records[j].rpm, ss.records[j].temperature),
                   gModelParams.meniscus, gModelParams.bottom, ss.grid, want.data(), ss.gridLength);
    return want;
  };

  // Without noise or linear amplitudes: added to what the models hold.
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0.25f;
  ComputeModelCurves(kMb50k, 1.0);
  for (int j = 1; j <= 2; ++j) {
    BoltzmannCurve(kMb50k, 1.0, EquilibriumSigma(ss.records[j].rpm, ss.records[j].temperature),
                   gModelParams.meniscus, gModelParams.bottom, ss.radii[j], want.data(), ss.points[j]);
    for (int p = 1; p <= ss.points[j]; ++p) EXPECT_FLOAT_EQ(ss.model[j][p], want[static_cast<size_t>(p)] + 0.25f);
  }

  // TI noise: slot 2's curves on the common grid, replacing old values; the
  // models stay as they were.
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0.0f;
  gFitEngineState.fitTINoise = 1;
  CurrentModelCurveTarget().species = 2;
  ComputeModelCurves(kMb50k, 1.0);
  ComputeModelCurves(kMb50k, 1.0);
  for (int j = 1; j <= 2; ++j) {
    expected(j);
    for (int p = 1; p <= ss.gridLength; ++p) EXPECT_FLOAT_EQ(ss.species[2].onGridPerScan[j][p], want[static_cast<size_t>(p)]);
    for (int p = 1; p <= ss.points[j]; ++p) EXPECT_EQ(ss.model[j][p], 0.0f);
  }
  gFitEngineState.fitTINoise = 0;

  // A distribution: column 3 of the kernel block, the others untouched.
  ASSERT_TRUE(AllocDistributionWorkArrays(4, 2, ss.gridLength));
  InstallEquilibriumCurveHooks();
  ContiHooks().equilibriumKernels(3, kMb50k);
  for (int j = 1; j <= 2; ++j) {
    expected(j);
    for (int p = 1; p <= ss.gridLength; ++p) {
      EXPECT_FLOAT_EQ(KernelRow(3, j)[p], want[static_cast<size_t>(p)]);
      EXPECT_EQ(KernelRow(2, j)[p], 0.0f);
      EXPECT_EQ(KernelRow(4, j)[p], 0.0f);
    }
  }
  EXPECT_EQ(CurrentModelCurveTarget().kernels, nullptr);
}

TEST_F(EquilibriumCurves, AKeyPressStopsTheCallerButEveryScanIsComputed) {
  Scans({{15000.0f, 20.0f}, {20000.0f, 20.0f}, {25000.0f, 20.0f}}, {6.9f, 7.2f}, 6.9f, 7.2f);
  platform::PostKeyDown('x');
  ComputeModelCurves(kMb50k, 1.0);
  EXPECT_TRUE(platform::StopFlag());
  for (int j = 1; j <= 3; ++j) EXPECT_GT(CurrentScanSet().model[j][2], 1.0f) << j;
  EXPECT_EQ(gModelCurveScan, 0);
}

// The discrete species on equilibrium data: M and s, or s and D related by
// the Svedberg equation, give the same curves, and the amplitude is the
// slot's loading.
TEST_F(EquilibriumCurves, SpeciesOfMAndSOrOfSAndDGiveOneCurve) {
  InstallEquilibriumCurveHooks();
  Scans({{15000.0f, 20.0f}, {20000.0f, 20.0f}}, Radii(6.9, 7.2, 61), 6.9f, 7.2f);
  gSolutionConditions.vbarRho = static_cast<float>(0.73 * 0.998);
  gSolutionConditions.temperature = 293.15f;
  gModelSelectorFlags.LammDiscreteModel = 1;
  ModelParams& mp = gModelParams;
  mp.included[1] = 1;
  mp.concentration[1] = 0.8f;
  mp.s[1] = 3.0f;
  for (int k = 2; k <= 4; ++k) mp.included[k] = 0;
  const double Mb = (1 - gSolutionConditions.vbarRho) * 50000.0;
  struct Case {
    const char* name;
    unsigned char molarMass;
    float entry;
  };
  const Case cases[] = {{"M and s", 1, 50000.0f},
                        {"s and D", 0, static_cast<float>(3.0 * 1e-6 * 8.31451e7 * 293.15 / Mb)}};
  fittest::AnalyticHost host;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gFitEngineState.molarMassParameters = c.molarMass;
    mp.massOrD[1] = c.entry;
    PackModelParameters();
    SimulateModel(&host);
    ASSERT_TRUE(host.boxes.empty()) << host.boxes[0];
    const ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= 2; ++j) {
      std::vector<float> want(static_cast<size_t>(ss.points[j]) + 1);
      BoltzmannCurve(Mb, 0.8, EquilibriumSigma(ss.records[j].rpm, 20), gModelParams.meniscus, gModelParams.bottom,
                     ss.radii[j], want.data(), ss.points[j]);
      for (int p = 1; p <= ss.points[j]; p += 10)
        EXPECT_NEAR(ss.model[j][p] - gModelParams.baseline, want[static_cast<size_t>(p)], 2e-4 * want[static_cast<size_t>(p)]);
    }
  }
}

}  // namespace
