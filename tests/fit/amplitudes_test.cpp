// The algebraic amplitudes and noise on synthetic scans built from known
// curves, amplitudes, TI noise b(r), RI noise beta_j and baseline.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/amplitudes.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit_test_support.h"

namespace {

constexpr int kScans = 6;
constexpr int kGrid = 200;
constexpr int kFirst = 11, kLast = 190;
constexpr double kA1 = 0.6, kA3 = 0.25;

double Grid(int i) { return 6.0 + 1.2 * (i - 1) / (kGrid - 1); }
// Unit-amplitude boundaries of two species moving outward with time.
double Curve(int k, int j, int i) {
  const double r = Grid(i);
  const double centre = k == 1 ? 6.1 + 0.15 * j : 6.05 + 0.07 * j;
  const double width = k == 1 ? 0.03 : 0.06 + 0.005 * j;
  return 1.0 / (1.0 + std::exp(-(r - centre) / width));
}
double TI(int i) { return 0.02 * std::sin(13.0 * Grid(i)) + 0.01 * Grid(i); }
double RI(int j) { return 0.01 * j - 0.02; }

struct DataShape {
  bool ti, ri;
  double baseline;
};

// Scans on the common grid (their own radii are the grid), curves of slots
// 1 and 3 simulated at the given amplitudes.
void BuildScans(const DataShape& shape, double simulated1, double simulated3) {
  fittest::ClearScans();
  ScanSet& ss = CurrentScanSet();
  FreeScanGridArrays(ss);
  std::vector<std::vector<float>> x(kScans), y(kScans);
  for (int j = 1; j <= kScans; ++j)
    for (int i = 1; i <= kGrid; ++i) {
      x[j - 1].push_back(static_cast<float>(Grid(i)));
      double v = kA1 * Curve(1, j, i) + kA3 * Curve(3, j, i) + shape.baseline;
      if (shape.ti) v += TI(i);
      if (shape.ri) v += RI(j);
      y[j - 1].push_back(static_cast<float>(v));
    }
  fittest::LoadScans(x, y);
  ss.gridLength = kGrid;
  ss.grid = vector(1, kGrid);
  for (int i = 1; i <= kGrid; ++i) ss.grid[i] = static_cast<float>(Grid(i));
  ss.gridOwned = 1;
  ss.gridSignals.assign(kScans + 1, nullptr);
  for (int j = 1; j <= kScans; ++j) {
    ss.gridSignals[j] = vector(1, kGrid);
    for (int i = 1; i <= kGrid; ++i) ss.gridSignals[j][i] = ss.signals[j][i];
    ss.firstFitPoint[j] = kFirst;
    ss.lastFitPoint[j] = kLast;
  }
  ss.firstGridPoint = kFirst;
  ss.lastGridPoint = kLast;
  for (int k : {1, 3}) {
    ss.species[k].onGridPerScan.assign(kScans + 1, nullptr);
    for (int j = 1; j <= kScans; ++j) {
      ss.species[k].onGridPerScan[j] = vector(1, kGrid);
      for (int i = 1; i <= kGrid; ++i)
        ss.species[k].onGridPerScan[j][i] =
            static_cast<float>((k == 1 ? simulated1 : simulated3) * Curve(k, j, i));
    }
  }
  ss.speciesScanCount = kScans;
  ss.speciesGridLength = kGrid;
  gModelSelectorFlags.LammDiscreteModel = 1;
  gModelParams.included[1] = gModelParams.included[3] = 1;
  gModelParams.scaleFactor[1] = static_cast<float>(simulated1);
  gModelParams.scaleFactor[3] = static_cast<float>(simulated3);
}

struct Variant {
  const char* name;
  bool ti, amplitudes, ri, baseline;
  DataShape data;
  bool solvesAmplitudes;
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

class AmplitudeVariants : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override { fittest::ResetFitState(); }
  void TearDown() override {
    FreeScanGridArrays(CurrentScanSet());
    fittest::ClearScans();
    fittest::ResetFitState();
  }
};

// A measured first scan that starts the simulation is data with no curves;
// its model is its data. The terms come from the later scans alone, as if
// the first were not there.
void MakeFirstScanTheMeasuredStart() {
  ScanSet& ss = CurrentScanSet();
  const int j = ss.order[1];
  for (int i = 1; i <= kGrid; ++i) {
    ss.signals[j][i] = ss.gridSignals[j][i] = static_cast<float>(0.7 + 0.3 * std::sin(20.0 * Grid(i)));
    ss.model[j][i] = ss.signals[j][i];
    for (int k : {1, 3}) ss.species[k].onGridPerScan[j][i] = 0.0f;
  }
  gFirstSimulatedScan = 2;
}

TEST_P(AmplitudeVariants, RecoverAmplitudesNoiseAndTheData) {
  const Variant& v = GetParam();
  for (const bool measuredStart : {false, true}) {
    SCOPED_TRACE(measuredStart ? "measured start" : "every scan simulated");
    // Solved amplitudes start from curves simulated at arbitrary loading
    // concentrations; fixed ones must be the true ones.
    if (v.solvesAmplitudes)
      BuildScans(v.data, 2.0, 0.5);
    else
      BuildScans(v.data, kA1, kA3);
    gFitEngineState.fitTINoise = v.ti;
    gModelParams.concentrationsLinear = v.amplitudes;
    gModelParams.riNoiseFit = v.ri;
    gModelParams.baselineLinear = v.baseline;
    if (!v.baseline) gModelParams.baseline = static_cast<float>(v.data.baseline);
    ScanSet& ss = CurrentScanSet();
    const int first = measuredStart ? 2 : 1;
    // Variants without amplitudes or noise of their own work on models the
    // solver wrote straight into the scans.
    if (!v.ti && !v.amplitudes && !v.ri)
      for (int j = first; j <= kScans; ++j)
        for (int i = 1; i <= kGrid; ++i)
          ss.model[j][i] = static_cast<float>(kA1 * Curve(1, j, i) + kA3 * Curve(3, j, i));
    if (measuredStart) MakeFirstScanTheMeasuredStart();
    std::vector<float> before(ss.gridSignals[3] + 1, ss.gridSignals[3] + kGrid + 1);

    SolveAmplitudesAndNoise();
    gFirstSimulatedScan = 1;

    const float* P = gModelParameterVector.P;
    if (v.solvesAmplitudes) {
      EXPECT_NEAR(P[9], kA1 + kA3, 1e-5 * (kA1 + kA3));
      EXPECT_NEAR(P[11], kA3 / (kA1 + kA3), 1e-5 * kA3 / (kA1 + kA3));
      EXPECT_NEAR(gModelParams.scaleFactor[1], kA1, 1e-5 * kA1);
      EXPECT_NEAR(gModelParams.scaleFactor[3], kA3, 1e-5 * kA3);
    }
    for (int j = 1; j <= kScans; ++j)
      for (int i = kFirst; i <= kLast; ++i)
        ASSERT_NEAR(ss.model[j][i], ss.signals[j][i], 2e-6) << "scan " << j << " point " << i;
    if (v.ti) {
      double mean = 0;
      for (int i = kFirst; i <= kLast; ++i) mean += TI(i);
      mean /= (kLast - kFirst + 1);
      const double shift = v.ri ? mean : 0.0;  // RI noise absorbs the mean of b(r)
      for (int i = kFirst; i <= kLast; ++i) ASSERT_NEAR(ss.tiNoise[i], TI(i) - shift, 2e-6) << i;
    }
    if (v.ri && !v.ti) {
      for (int j = first; j <= kScans; ++j) EXPECT_NEAR(ss.riNoise[j], RI(j), 2e-6);
    }
    if (v.baseline && !v.ti && !v.ri) {
      EXPECT_NEAR(P[15], v.data.baseline, 2e-6);
    }
    // The data are back as they were, to the last bit (adding the scan means
    // back rounds: a fit's evaluations moved them), and the mean profile is
    // again that of every scan.
    for (int i = 1; i <= kGrid; ++i) ASSERT_EQ(ss.gridSignals[3][i], before[i - 1]) << i;
    for (int i = 1; i <= kGrid && measuredStart; ++i) {
      double sum = 0;
      for (int j = 1; j <= kScans; ++j) sum += ss.gridSignals[j][i];
      ASSERT_NEAR(ss.meanProfile[i], sum / kScans, 1e-6) << i;
    }
    TearDown();
    SetUp();
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllVariants, AmplitudeVariants,
    ::testing::Values(Variant{"SolveAmplitudesTI", true, true, true, true, {true, true, 0.0}, true},
                      Variant{"SolveAmplitudesTIUpdate", true, true, false, true, {true, false, 0.0}, true},
                      Variant{"ComputeNoiseFixedAmplitudes", true, false, true, true, {true, true, 0.0}, false},
                      Variant{"SubtractSpeciesFromResiduals", true, false, false, true, {true, false, 0.0}, false},
                      Variant{"SolveAmplitudes", false, true, true, true, {false, true, 0.0}, true},
                      Variant{"SolveAmplitudesWithOffsets", false, true, false, true, {false, false, 0.03}, true},
                      Variant{"ComputeRINoiseFixedAmplitudes", false, false, true, true, {false, true, 0.0}, false},
                      Variant{"AddBaselineToModel", false, false, false, true, {false, false, -0.02}, false},
                      Variant{"SolveAmplitudesWithOffsets2", false, true, false, false, {false, false, 0.04}, true},
                      Variant{"AddBaselineToScans", false, false, false, false, {false, false, 0.04}, false}),
    [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

TEST(NonNegativeSmallSystem, MatchesTheConstrainedOptimum) {
  // Unconstrained solution (2, -1) -> constrained optimum x2 = 0, x1 = v1 / M11.
  double M[5][5] = {};
  M[1][1] = 2;
  M[1][2] = M[2][1] = 1;
  M[2][2] = 2;
  double v[5] = {0, 3, 0};
  SolveNonNegativeSmallSystem(M, v, 2);
  EXPECT_DOUBLE_EQ(v[1], 1.5);
  EXPECT_DOUBLE_EQ(v[2], 0.0);
  double w[5] = {0, -1, -1};
  SolveNonNegativeSmallSystem(M, w, 2);
  EXPECT_EQ(w[1], 0.0);
  EXPECT_EQ(w[2], 0.0);
}

TEST(ConcentrationForm, TotalAndFractions) {
  fittest::ResetFitState();
  gModelSelectorFlags.LammDiscreteModel = 1;
  ModelParams& mp = gModelParams;
  mp.included[1] = mp.included[3] = mp.included[4] = 1;
  mp.concentration[1] = 2;
  mp.concentration[2] = 7;  // excluded: untouched
  mp.concentration[3] = 1;
  mp.concentration[4] = 1;
  gModelParameterVector.P[10] = 7;
  ConcentrationsToTotalAndFractions();
  EXPECT_EQ(mp.concentration[1], 4.0f);
  EXPECT_EQ(mp.concentration[2], 7.0f);
  EXPECT_EQ(mp.concentration[3], 0.25f);
  EXPECT_EQ(gModelParameterVector.P[12], 0.25f);
  EXPECT_EQ(gModelParameterVector.P[10], 7.0f);
  mp.concentration[1] = mp.concentration[3] = mp.concentration[4] = 0;
  mp.concentration[3] = 0;
  ConcentrationsToTotalAndFractions();
  EXPECT_EQ(mp.concentration[4], 0.0f);
  fittest::ResetFitState();
}

// With the buffer correction and linear amplitudes the last slot is the
// buffer: its amplitude becomes the buffer concentration and stays out of
// the species total; without either switch it counts like any species.
TEST(ConcentrationForm, BufferSlotStaysOutOfTheTotal) {
  struct Case {
    bool buffer, linear;
    float c1, c4, bufferSignal;
  };
  const Case cases[] = {
      {true, true, 2.0f, 0.5f, 0.5f},
      {true, false, 2.5f, 0.2f, 0.0f},
      {false, true, 2.5f, 0.2f, 0.0f},
  };
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const auto savedOn = hooks.bufferSedimentationOn;
  const auto savedSignal = hooks.bufferSignal;
  double signal = 0.0;
  hooks.bufferSignal = [&signal]() -> double& { return signal; };
  for (const Case& c : cases) {
    fittest::ResetFitState();
    gModelSelectorFlags.LammDiscreteModel = 1;
    ModelParams& mp = gModelParams;
    mp.concentrationsLinear = c.linear;
    hooks.bufferSedimentationOn = [&c] { return c.buffer; };
    signal = 0.0;
    mp.included[1] = mp.included[4] = 1;
    mp.concentration[1] = 2.0f;
    mp.concentration[4] = 0.5f;
    ConcentrationsToTotalAndFractions();
    EXPECT_FLOAT_EQ(mp.concentration[1], c.c1) << c.buffer << c.linear;
    EXPECT_FLOAT_EQ(mp.concentration[4], c.c4) << c.buffer << c.linear;
    EXPECT_FLOAT_EQ(gModelParameterVector.P[9], c.c1);
    EXPECT_FLOAT_EQ(gModelParameterVector.P[12], c.c4);
    EXPECT_DOUBLE_EQ(signal, c.bufferSignal);
  }
  hooks.bufferSedimentationOn = savedOn;
  hooks.bufferSignal = savedSignal;
  fittest::ResetFitState();
}

}  // namespace
