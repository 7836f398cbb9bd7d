// DLS kernels against values computed independently (closed forms of the
// scattering vector, Stokes-Einstein and the cumulant expansion), and the
// three places they go: the sets' models, the slots' curves and the
// distribution's kernel block.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dls_test_support.h"
#include "fit/dls_kernels.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"

namespace {

class DlsKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelParams.concentrationsLinear = 0;
    gModelParams.riNoiseFit = 0;
    gFitEngineState.fitTINoise = 0;
    gSolutionConditions.viscosity = 1.0f;
    DlsKernels() = DlsKernelInputs{};
    platform::StopFlag() = false;
    platform::ClearInput();
  }
  void TearDown() override {
    dlstest::Unload();
    gModelSelectorFlags = ModelSelectorFlags{};
    DlsKernels() = DlsKernelInputs{};
    platform::StopFlag() = false;
    platform::ClearInput();
  }
  // Three sets of four lag times 1e-6 .. 1e-3 s.
  static void LoadThree(bool field = true) {
    const std::vector<float> x = {-6, -5, -4, -3};
    const std::vector<float> y(4, 0.0f);
    dlstest::LoadSets({x, x, x}, {y, y, y},
                      {dlstest::Record(0, field), dlstest::Record(10, field), dlstest::Record(20, field)});
  }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(DlsKernelTest, ClosedFormsOfScatteringVectorStokesEinsteinAndKernels) {
  EXPECT_NEAR(DlsScatteringVectorSquared(dlstest::Record()), 3.50141e14, 3.50141e14 * 2e-6);
  EXPECT_NEAR(DiffusionFromStokesRadius(5e-9, 20.0), 4.28582e-7, 1e-12);
  gSolutionConditions.viscosity = 2.0f;  // D falls with the viscosity
  EXPECT_NEAR(DiffusionFromStokesRadius(5e-9, 20.0), 4.28582e-7 / 2, 1e-12);
  EXPECT_EQ(DiffusionFromStokesRadius(0.0, 20.0), 0.0);

  const float q2 = 3.50141e14f;
  DlsKernelInputs in;
  in.D = 4.28582e-7;
  struct Case {
    double tau, mu2, mu3;
    bool cumulant;
    double expected;
  };
  const Case cases[] = {
      {1e-5, 0, 0, false, 0.860653},
      {1e-4, 0, 0, false, 0.222987},
      {1e-4, 1e-15, 0, true, 0.224354},
      {1e-5, 0, 0, true, 0.860653},  // zero moments: the single exponential
      {1e-4, 0, 0, true, 0.222987},
  };
  for (const Case& c : cases) {
    in.cumulant = c.cumulant;
    in.mu2 = c.mu2;
    in.mu3 = c.mu3;
    EXPECT_NEAR(DlsKernelValue(in, q2, c.tau), c.expected, 2e-6) << c.tau << " " << c.mu2;
  }
  // The third moment enters with (q^2 tau)^3 / 6 against the decay.
  in.cumulant = true;
  in.mu2 = 0;
  in.mu3 = 1e-22;
  const double g = 1e-4 * q2 * 1e-4;
  EXPECT_NEAR(DlsKernelValue(in, q2, 1e-4), 0.222987 * (1 - 1e-22 * g * g * g / 6), 2e-6);

  DlsHeaderRecord bad = dlstest::Record();
  bad.wavelength = 0;
  EXPECT_EQ(DlsScatteringVectorSquared(bad), 0.0f);
  bad = dlstest::Record();
  bad.refractiveIndex = 0;
  EXPECT_EQ(DlsScatteringVectorSquared(bad), 0.0f);
}

TEST_F(DlsKernelTest, DiscreteKernelsAddToTheModelsOrFillTheSlotCurves) {
  LoadThree();
  ScanSet& ss = CurrentScanSet();
  gModelSelectorFlags.LammDiscreteModel = 1;
  DlsKernelInputs& in = DlsKernels();
  in.D = 4.28582e-7;
  in.amplitude = 0.5;
  ASSERT_TRUE(ComputeDlsKernelsFull());
  ASSERT_TRUE(ComputeDlsKernelsFull());  // a second species adds
  for (int j = 1; j <= 3; ++j) EXPECT_NEAR(ss.model[j][3], 0.222987, 2e-6) << j;

  // D <= 0 is a constant term: only A at the first lag time.
  for (int j = 1; j <= 3; ++j)
    for (int p = 1; p <= 4; ++p) ss.model[j][p] = 0;
  in.D = 0;
  ASSERT_TRUE(ComputeDlsKernelsFull());
  EXPECT_EQ(ss.model[2][1], 0.5f);
  EXPECT_EQ(ss.model[2][2], 0.0f);

  // With algebraic amplitudes the kernel is slot k's curve on the common grid.
  gModelParams.concentrationsLinear = 1;
  in.component = 2;
  for (double D : {0.0, 4.28582e-7}) {
    in.D = D;
    ASSERT_TRUE(ComputeDlsKernelsFull());
    const float* c = ss.species[2].onGridPerScan[3];
    EXPECT_EQ(c[1], D > 0 ? static_cast<float>(0.5 * std::exp(-1e-4 * D * 3.50141e14 * 1e-6)) : 0.5f);
    EXPECT_NEAR(c[3], D > 0 ? 0.5 * 0.222987 : 0.0, 2e-6);
  }
  EXPECT_TRUE(ui_.transcript.empty());
}

TEST_F(DlsKernelTest, DistributionKernelsFillTheBlockOrRefuse) {
  // Two grid points by three sets of four lag times.
  std::vector<float> storage(2 * 3 * 5, -1.0f);
  float* first[4] = {nullptr, &storage[0], &storage[5], &storage[10]};
  float* second[4] = {nullptr, &storage[15], &storage[20], &storage[25]};
  float** pointRows[3] = {nullptr, first, second};
  gModelSelectorFlags.DlsIRhModel = 1;
  DlsKernelInputs& in = DlsKernels();
  in.cube = pointRows;
  in.gridPoint = 2;
  in.D = 4.28582e-7;

  LoadThree();
  // Set 2 at 60 degrees: q^2 a quarter of the 90-degree value's 2 sin^2.
  CurrentScanSet().dlsRecords[2].angle = 60.0f;
  ASSERT_TRUE(ComputeDlsKernelsFull());
  for (int j : {1, 3}) EXPECT_NEAR(pointRows[2][j][3], 0.222987, 2e-6);
  EXPECT_NEAR(pointRows[2][2][3], std::exp(-1e-4 * 4.28582e-7 * 3.50141e14 * 0.5 * 1e-4), 2e-6);
  EXPECT_EQ(pointRows[1][1][3], -1.0f);  // other grid points untouched
  CurrentScanSet().dlsRecords[2].angle = 90.0f;

  // g(2)-1 in a distribution model is refused at the first such set.
  LoadThree(false);
  ui_.ExpectBox("Error", "no field ACF in DLS distribution model");
  EXPECT_FALSE(ComputeDlsKernelsFull());
  ui_.ExpectBox("Error", "no field ACF in DLS distribution model");
  EXPECT_FALSE(ComputeDlsKernels());

  // A record without a scattering vector is refused, never a NaN kernel.
  LoadThree();
  CurrentScanSet().dlsRecords[2].wavelength = 0;
  for (float& v : storage) v = -1.0f;
  ui_.ExpectBox("Error", "DLS data set 2: the scattering vector is 0 or not finite");
  EXPECT_FALSE(ComputeDlsKernelsFull());
  for (float v : storage) EXPECT_FALSE(std::isnan(v));
  CurrentScanSet().dlsRecords[2].wavelength = std::nanf("");
  ui_.ExpectBox("Error", "DLS data set 2: the scattering vector is 0 or not finite");
  in.firstSet = 2;
  in.lastSet = 2;
  EXPECT_FALSE(ComputeDlsKernels());
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_TRUE(ui_.AllConsumed());
}

TEST_F(DlsKernelTest, OwnLagTimesAreEachSetsOwn) {
  std::vector<float> storage(2 * 5, -1.0f);
  float* rows[3] = {nullptr, &storage[0], &storage[5]};
  float** pointRows[2] = {nullptr, rows};
  gModelSelectorFlags.DlsIDModel = 1;
  // The second set's lag times are ten times longer.
  dlstest::LoadSets({{-6, -5, -4, -3}, {-5, -4, -3, -2}}, {{0, 0, 0, 0}, {0, 0, 0, 0}},
                    {dlstest::Record(0), dlstest::Record(10)});
  DlsKernelInputs& in = DlsKernels();
  in.cube = pointRows;
  in.gridPoint = 1;
  in.D = 4.28582e-7;
  in.ownLagTimes = true;
  ASSERT_TRUE(ComputeDlsKernelsFull());
  EXPECT_NEAR(rows[1][3], 0.222987, 2e-6);  // tau = 1e-4 s is point 3 of set 1
  EXPECT_NEAR(rows[2][2], 0.222987, 2e-6);  // and point 2 of set 2
}

TEST_F(DlsKernelTest, AKeyPressDuringTheRangeStopsAfterTheWholeRange) {
  std::vector<float> storage(3 * 5, -1.0f);
  float* rows[4] = {nullptr, &storage[0], &storage[5], &storage[10]};
  float** pointRows[2] = {nullptr, rows};
  gModelSelectorFlags.DlsIRhTimeCourseModel = 1;
  LoadThree();
  DlsKernelInputs& in = DlsKernels();
  in.cube = pointRows;
  in.D = 0;
  in.amplitude = 1.0;
  in.firstSet = 1;
  in.lastSet = 3;
  platform::PostKeyDown('x');
  ASSERT_TRUE(ComputeDlsKernels());
  EXPECT_TRUE(platform::StopFlag().load());
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(rows[j][1], 1.0f) << j;
    EXPECT_EQ(rows[j][2], 0.0f) << j;
  }
}

}  // namespace
