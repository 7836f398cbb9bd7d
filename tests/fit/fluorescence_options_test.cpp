// The fluorescence corrections seen from the fit engine: which of them the fit
// vector floats and in what order, and their lines of the saved parameters
// (a round trip, and the reading of files older than the linear drift).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "data/fluorescence_corrections.h"
#include "fit/fluorescence_options.h"
#include "fit/saved_params.h"
#include "fit_test_support.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"

namespace {

class FluorescenceOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    fittest::ResetFitState();
    CurrentFdsSignalParams() = FdsSignalParams{};
    gSolutionConditions.vbar20 = 0.73f;  // no question on reload
    ui_.lenient = true;
  }
  void TearDown() override {
    CurrentFdsSignalParams() = FdsSignalParams{};
    fittest::ResetFitState();
    std::remove(kPath);
  }
  static std::vector<std::string> Lines() { return teststate::FileLines(kPath); }
  static void Write(const std::vector<std::string>& lines, std::size_t count) {
    std::ofstream out(kPath);
    for (std::size_t k = 0; k < count; ++k) out << lines[k] << "\n";
  }
  static constexpr const char* kPath = "~tmppars.fi1";
  FdsSignalParams& P() { return CurrentFdsSignalParams(); }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

// Every correction on with distinct values; fit flags where the model allows.
FdsSignalParams AllDistinct() {
  FdsSignalParams p;
  p.fitConvolutionWidth = 1;
  p.convolutionWidth = 0.021f;
  p.convolutionCutoff = 2.5f;
  p.useConvolution = 1;
  p.useDepletion = 1;
  p.fitDepletionS = p.fitDepletionKs = 1;
  p.depletionS = 4.25f;
  p.depletionD = 6.5e-7f;
  p.depletionAmplitude = 0.375f;
  p.depletionLogKs = -2.5f;
  p.fitConeRadius = 1;
  p.coneRadius = 0.13f;
  p.useShadow = 1;
  p.useDrift = p.useExponentialDrift = p.useLinearDrift = 1;
  p.driftRate = 0.35f;
  p.fitLimitingLevel = 1;
  p.limitingLevel = 0.85f;
  p.fitLinearDrift = 1;
  p.linearDrift = 0.02f;
  p.radialGradient = 1.03f;
  p.useRadialGradient = 1;
  p.useNonlinearDetection = 0;  // a transform needs scans
  p.detectionPower = 1.25f;
  p.detectionBaseline = 0.05f;
  p.fitDetectionPower = 1;
  p.showTransformed = 1;
  return p;
}

TEST_F(FluorescenceOptions, FloatedCorrectionsComeInTheirOrderAndAreWrittenBack) {
  SetFitOptionProvider(ProvideFluorescenceFitOptions);
  P() = AllDistinct();
  // Present: cone, limiting level, linear drift, convolution, depletion s and ks.
  // The gradient is not floated; the power floats only while detection is on.
  float v[8] = {};
  ASSERT_EQ(ParametersToFitVector(7, v), 6);
  const float expected[] = {0.13f, 0.85f, 0.02f, 0.021f, 4.25f, -2.5f};
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(v[i + 1], expected[i]) << i + 1;
  P().useNonlinearDetection = 1;
  P().fitRadialGradient = 1;
  EXPECT_EQ(ParametersToFitVector(0, nullptr), 8);
  // A correction switched off floats nothing, whatever its fit flag.
  P().useDrift = 0;
  EXPECT_EQ(ParametersToFitVector(0, nullptr), 6);
  P().useDrift = 1;
  float w[9] = {0, 2.0f, 0.5f, 0.03f, 0.01f, 1.1f, 1.5f, 5.0f, -3.0f};
  FitVectorToParameters(w);
  EXPECT_FLOAT_EQ(P().coneRadius, 1.0f);  // clamped to [0.01, 1]
  EXPECT_FLOAT_EQ(P().limitingLevel, 0.5f);
  EXPECT_FLOAT_EQ(P().linearDrift, 0.03f);
  EXPECT_FLOAT_EQ(P().convolutionWidth, 0.01f);
  EXPECT_FLOAT_EQ(P().radialGradient, 1.1f);
  EXPECT_FLOAT_EQ(P().detectionPower, 1.5f);
  EXPECT_FLOAT_EQ(P().depletionS, 5.0f);
  EXPECT_FLOAT_EQ(P().depletionLogKs, -3.0f);
}

TEST_F(FluorescenceOptions, SavedCorrectionsComeBackAsTheyWere) {
  const FdsSignalParams saved = AllDistinct();
  P() = saved;
  ASSERT_TRUE(TmpSaveBestParams(kPath, false));
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 187u);
  EXPECT_EQ(lines[185 - 1], "6.500000");  // D in 1e-7 cm^2/s
  EXPECT_EQ(lines[163 - 1], "1.000000");
  P() = FdsSignalParams{};
  ASSERT_EQ(ReloadParameters(kPath), 1);
  const FdsSignalParams& p = P();
  EXPECT_EQ(p.fitConvolutionWidth, saved.fitConvolutionWidth);
  EXPECT_FLOAT_EQ(p.convolutionWidth, saved.convolutionWidth);
  EXPECT_FLOAT_EQ(p.convolutionCutoff, saved.convolutionCutoff);
  EXPECT_EQ(p.useConvolution, 1);
  EXPECT_EQ(p.useDepletion + p.fitDepletionS + p.fitDepletionKs, 3);
  EXPECT_EQ(p.fitDepletionD + p.fitDepletionAmplitude, 0);
  EXPECT_FLOAT_EQ(p.depletionS, saved.depletionS);
  EXPECT_NEAR(p.depletionD, saved.depletionD, 1e-13);
  EXPECT_FLOAT_EQ(p.depletionAmplitude, saved.depletionAmplitude);
  EXPECT_FLOAT_EQ(p.depletionLogKs, saved.depletionLogKs);
  EXPECT_EQ(p.fitConeRadius + p.useShadow, 2);
  EXPECT_FLOAT_EQ(p.coneRadius, saved.coneRadius);
  EXPECT_EQ(p.useDrift + p.useExponentialDrift + p.useLinearDrift, 3);
  EXPECT_FLOAT_EQ(p.driftRate, saved.driftRate);
  EXPECT_EQ(p.fitDriftRate, 0);
  EXPECT_EQ(p.fitLimitingLevel + p.fitLinearDrift, 2);
  EXPECT_FLOAT_EQ(p.limitingLevel, saved.limitingLevel);
  EXPECT_FLOAT_EQ(p.linearDrift, saved.linearDrift);
  EXPECT_EQ(p.fitRadialGradient, 0);
  EXPECT_FLOAT_EQ(p.radialGradient, saved.radialGradient);
  EXPECT_EQ(p.useRadialGradient, 1);
  EXPECT_EQ(p.useNonlinearDetection, 0);
  EXPECT_FLOAT_EQ(p.detectionPower, saved.detectionPower);
  EXPECT_FLOAT_EQ(p.detectionBaseline, saved.detectionBaseline);
  EXPECT_EQ(p.fitDetectionPower + p.showTransformed, 2);
}

TEST_F(FluorescenceOptions, FilesBeforeTheLinearDriftKeptTheLevelInPercent) {
  P() = AllDistinct();
  ASSERT_TRUE(TmpSaveBestParams(kPath, false));
  std::vector<std::string> lines = Lines();
  lines[162 - 1] = "80.000000";
  lines[172 - 1] = "0.000000";  // exponential model off: its fit flags go too
  lines[174 - 1] = "1.000000";
  lines[163 - 1] = "0.000000";  // the drift switch follows its two models
  Write(lines, 177);
  P() = FdsSignalParams{};
  P().depletionS = 9.0f;
  ASSERT_EQ(ReloadParameters(kPath), 1);
  EXPECT_FLOAT_EQ(P().limitingLevel, 0.8f);
  EXPECT_FLOAT_EQ(P().linearDrift, 0.0f);
  EXPECT_EQ(P().useExponentialDrift + P().fitDriftRate + P().fitLimitingLevel, 0);
  EXPECT_EQ(P().useLinearDrift + P().useDrift + P().fitLinearDrift, 3);
  EXPECT_EQ(P().useDepletion, 0);           // absent switch: off
  EXPECT_FLOAT_EQ(P().depletionS, 9.0f);    // absent value: unchanged
  EXPECT_FLOAT_EQ(P().coneRadius, 0.13f);
}

}  // namespace
