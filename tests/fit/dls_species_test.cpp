// The discrete models of DLS data through SimulateModel: Stokes radii,
// plain D and cumulants as field autocorrelations, squared for sets that
// hold g(2)-1, with fixed or algebraic amplitudes and noise.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "dls_test_support.h"
#include "fit/amplitudes.h"
#include "fit/dls_kernels.h"
#include "fit/fit_driver.h"
#include "fit/model_evaluation.h"
#include "fit/species_simulation.h"

namespace {

constexpr double kQ2 = 3.50141e14;  // 1/m^2 of the records below
constexpr double kD5nm = 4.28582e-7;  // cm^2/s of Rh = 5 nm, 20 degC, water
constexpr double kD2nm = kD5nm * 2.5;

double G1(double D, double tau) { return std::exp(-1e-4 * D * kQ2 * tau); }

using Host = fittest::ModelHost;

class DlsSpecies : public ::testing::Test {
 protected:
  void SetUp() override {
    fittest::ResetFitState();
    gSolutionConditions.temperature = 293.15f;
    gSolutionConditions.viscosity = 1.0f;
    gFitEngineState.molarMassParameters = 0;  // the DLS models take D entries
  }
  void TearDown() override {
    FreeSpeciesScanArrays(CurrentScanSet());
    dlstest::Unload();
    fittest::ResetFitState();
    DlsKernels() = DlsKernelInputs{};
  }
  // Two sets of 60 lag times 1e-7..1e-2 s with data f(tau); g(1) or g(2)-1.
  static void Load(bool field, const std::function<double(double)>& f) {
    const std::vector<float> x = dlstest::LogLags(60, 1e-7, 1e-2);
    std::vector<float> y;
    for (float v : x) y.push_back(static_cast<float>(f(std::pow(10.0, static_cast<double>(v)))));
    dlstest::LoadSets({x, x}, {y, y}, {dlstest::Record(0, field), dlstest::Record(30, field)});
  }
  static double MaxDeviation() {
    const ScanSet& ss = CurrentScanSet();
    double worst = 0;
    for (int j = 1; j <= ss.count; ++j)
      for (int p = 1; p <= ss.points[j]; ++p)
        worst = std::max(worst, static_cast<double>(std::fabs(ss.model[j][p] - ss.signals[j][p])));
    return worst;
  }
  static void Slots(std::initializer_list<std::pair<float, float>> entries) {
    ModelParams& mp = gModelParams;
    gModelSelectorFlags.LammDiscreteModel = 1;
    int k = 1;
    for (auto [value, concentration] : entries) {
      mp.included[k] = 1;
      mp.massOrD[k] = value;
      mp.concentration[k] = concentration;
      ++k;
    }
    PackModelParameters();
  }
  Host host_;
};

TEST_F(DlsSpecies, ModelsAreTheSquareOfTheirFieldAutocorrelationForG2Sets) {
  struct Case {
    const char* name;
    bool stokes, field, linear;
    float entry;
  };
  const Case cases[] = {
      {"Stokes radius, g(1)", true, true, false, 5.0f},
      {"Stokes radius, g(2)-1", true, false, false, 5.0f},
      {"D, g(2)-1", false, false, false, static_cast<float>(kD5nm * 1e7)},
      {"D, g(2)-1, algebraic amplitude", false, false, true, static_cast<float>(kD5nm * 1e7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Load(c.field, [&](double t) { return c.field ? 0.8 * G1(kD5nm, t) : 0.64 * G1(kD5nm, t) * G1(kD5nm, t); });
    gModelSelectorFlags.DlsStokesRadiiModel = c.stokes;
    Slots({{c.entry, c.linear ? 0.3f : 0.8f}});
    gModelParams.concentrationsLinear = c.linear;
    SimulateModel(&host_);
    EXPECT_TRUE(host_.boxes.empty()) << host_.boxes.front();
    EXPECT_LT(MaxDeviation(), 2e-6);
    EXPECT_EQ(gDlsSpeciesCount, 1);
    // The algebraic amplitude of g(2)-1 is the square of the g(1) amplitude.
    if (c.linear) {
      EXPECT_NEAR(gModelParams.concentration[1], 0.64f, 1e-5f);
    }
    TearDown();
  }
}

TEST_F(DlsSpecies, TwoSlotsOnG2SetsAreTheSquareOfTheirSum) {
  auto data = [](double t) {
    const double g = 0.3 * G1(kD2nm, t) + 0.5 * G1(kD5nm, t);
    return g * g;
  };
  const float d2 = static_cast<float>(kD2nm * 1e7), d5 = static_cast<float>(kD5nm * 1e7);
  for (bool ti : {false, true}) {
    SCOPED_TRACE(ti ? "TI noise: curves on the common grid" : "models at the sets' lag times");
    SetUp();
    Load(false, data);
    // Slot 2 holds its fraction 0.625 of the total 0.8.
    Slots({{d2, 0.8f}, {d5, 0.625f}});
    gModelParams.concentrationsLinear = 1;  // not possible for a square of a sum
    gFitEngineState.fitTINoise = ti;
    SimulateModel(&host_);
    EXPECT_EQ(gModelParams.concentrationsLinear, 0);
    EXPECT_LT(MaxDeviation(), 2e-6);
    TearDown();
  }
}

TEST_F(DlsSpecies, CumulantsAndConstantTerms) {
  const double mu2 = 1e-15, mu3 = 1e-22;
  auto cumulant = [&](double t) {
    const double g = 1e-4 * kQ2 * t;
    return 0.9 * G1(kD5nm, t) * (1 + 0.5 * mu2 * g * g - mu3 * g * g * g / 6);
  };
  Load(true, cumulant);
  gModelSelectorFlags.DlsCumulantModel = 1;
  gModelParams.massOrD[2] = static_cast<float>(mu2 * 1e14);
  gModelParams.massOrD[3] = static_cast<float>(mu3 * 1e21);
  Slots({{static_cast<float>(kD5nm * 1e7), 0.9f}});
  SimulateModel(&host_);
  EXPECT_LT(MaxDeviation(), 2e-6);

  // D = 0: the amplitude at the first lag time, nothing after it.
  gModelSelectorFlags.DlsCumulantModel = 0;
  Slots({{0.0f, 0.9f}});
  SimulateModel(&host_);
  const ScanSet& ss = CurrentScanSet();
  EXPECT_FLOAT_EQ(ss.model[2][1], 0.9f);
  EXPECT_EQ(ss.model[2][2], 0.0f);
}

TEST_F(DlsSpecies, AnInvalidRecordStopsTheEvaluation) {
  Load(true, [](double t) { return G1(kD5nm, t); });
  CurrentScanSet().dlsRecords[1].angle = 0;
  Slots({{static_cast<float>(kD5nm * 1e7), 1.0f}, {static_cast<float>(kD2nm * 1e7), 0.5f}});
  SimulateModel(&host_);
  EXPECT_TRUE(platform::StopFlag().load());
  EXPECT_EQ(gDlsSpeciesCount, 1);
  for (float v : {CurrentScanSet().model[1][5], CurrentScanSet().model[2][5]}) EXPECT_FALSE(std::isnan(v));
}

}  // namespace
