#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_grid.h"
#include "distributions/conti_run.h"
#include "fit/fit_report.h"
#include "fit/model_evaluation.h"
#include "fit/saved_params.h"
#include "lamm/lamm_settings.h"
#include "models/buffer/buffer_sedimentation.h"
#include "platform/scripted_ui.h"
#include "tests/fit/fit_test_support.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Buffer equilibrium of unit mean in a column m..b.
double Equilibrium(double s, double D, double rpm, double m, double b, double r) {
  const double w = 2 * kPi * rpm / 60;
  const double sigma = w * w * s * 1e-13 / D;
  const double A = sigma * (b * b - m * m) / 2;
  return A * std::exp(sigma * (r * r - m * m) / 2) / std::expm1(A);
}

class Host : public fittest::ModelHost {
 public:
  void ReportFill(FitReportInputs& in) { FillBufferReportInputs(in); }
  void FillFitReportInputs(FitReportInputs& in) override { FillBufferReportInputs(in); }
};

class BufferSedimentation : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    gBufferSedSettings = BufferSedSettings{};
    ContiHooks() = ContiRunHooks{};
    CurrentDataTypeFlags().interference = 1;
    ui_.lenient = true;
    scope_ = std::make_unique<platform::ScopedUI>(ui_);
  }
  void TearDown() override {
    scope_.reset();
    FitStateTest::TearDown();
    gBufferSedSettings = BufferSedSettings{};
    ContiHooks() = ContiRunHooks{};
    CurrentSavedParamsHooks() = SavedParamsHooks{};
  }

  // Interference scans with equal radii m..b at the given times and 50000 rpm.
  static void Scans(std::vector<double> times, double m, double b, int points = 201) {
    std::vector<std::vector<float>> x(times.size()), y(times.size());
    for (size_t j = 0; j < times.size(); ++j)
      for (int i = 0; i < points; ++i) {
        x[j].push_back(static_cast<float>(m + (b - m) * i / (points - 1)));
        y[j].push_back(0.0f);
      }
    fittest::LoadScans(x, y);
    ScanSet& ss = CurrentScanSet();
    for (size_t j = 1; j <= times.size(); ++j) {
      ss.records[j].rpm = 50000;
      ss.records[j].temperature = 20;
      ss.records[j].time = ss.records[j].timeRead = times[j - 1];
    }
    gModelParams.meniscus = static_cast<float>(m);
    gModelParams.bottom = static_cast<float>(b);
    gModelSelectorFlags.LammDiscreteModel = 1;
    gFitEngineState.molarMassParameters = 0;
  }
  static BufferSedSettings& SwitchedOn() {
    gBufferSedSettings.BufferSedOn = true;
    return gBufferSedSettings;
  }
  static double ModelAt(int j, double r) {
    const ScanSet& ss = CurrentScanSet();
    int p = 1;
    while (p < ss.points[j] && ss.radii[j][p] < r - 1e-6) ++p;
    return ss.model[j][p];
  }

  platform::ScriptedUserInterface ui_;
  std::unique_ptr<platform::ScopedUI> scope_;
};

// Both sectors at sedimentation equilibrium: the term is 30 x the difference
// of two closed-form profiles, the reference column 0.05 cm longer.
TEST_F(BufferSedimentation, MeniscusMismatchAtEquilibriumGivesTheClosedFormTerm) {
  Scans({2e5}, 6.8, 7.2);
  BufferSedSettings& b = SwitchedOn();
  b.MeniscusMismatch = true;
  b.MeniscusDifference = 0.05;
  b.BufferSignal = 30;
  Host host;
  UpdateBufferSedimentation(&host);
  const double expected = 30 * (Equilibrium(0.21, 86e-7, 50000, 6.8, 7.2, 7.0) -
                                Equilibrium(0.21, 86e-7, 50000, 6.75, 7.2, 7.0));
  EXPECT_NEAR(expected, -0.329786, 2e-6);
  EXPECT_NEAR(ModelAt(1, 7.0), expected, 2e-4);
  // The excess on the reference side turns the term over.
  CurrentScanSet().model[1][101] = 0;
  b.SignalSign = -1;
  UpdateBufferSedimentation(&host);
  EXPECT_NEAR(ModelAt(1, 7.0), -expected, 2e-4);
  EXPECT_TRUE(host.boxes.empty());
}

// A still buffer (s = 0) stays at its loading in every scan; a later
// evaluation with amplitude 0 leaves zeros, not the earlier profile.
TEST_F(BufferSedimentation, StillBufferAndZeroAmplitudeInTheBufferSlot) {
  Scans({300, 600, 900}, 6.0, 7.2, 121);
  PrepareScanGrid();
  gFitEngineState.fitTINoise = 1;  // the species go to their curves on the grid
  BufferSedSettings& b = SwitchedOn();
  b.SampleBufferS = 0;
  b.BufferSignal = 5;
  Host host;
  UpdateBufferSedimentation(&host);
  const ScanSet& ss = CurrentScanSet();
  ASSERT_EQ(ss.species[kBufferSpecies].onGridPerScan.size(), 4u);
  for (int j = 1; j <= 3; ++j)
    for (int p = 1; p <= ss.gridLength; ++p)
      ASSERT_NEAR(ss.species[kBufferSpecies].onGridPerScan[j][p], 5.0f, 1e-4) << j << " " << p;
  b.BufferSignal = 0;
  UpdateBufferSedimentation(&host);
  for (int j = 1; j <= 3; ++j)
    for (int p = 1; p <= ss.gridLength; ++p)
      ASSERT_EQ(ss.species[kBufferSpecies].onGridPerScan[j][p], 0.0f);
}

TEST_F(BufferSedimentation, SubtractionTakesTheSignalOutOnce) {
  Scans({300, 600}, 6.0, 7.2, 61);
  BufferSedSettings& b = SwitchedOn();
  b.SampleBufferS = 0;
  b.BufferSignal = 2;
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.signals[j][p] = 3.0f;
  Host host;
  SubtractBufferSedimentationFromData(&host);
  EXPECT_FALSE(b.SubtractFromData);
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ASSERT_NEAR(ss.signals[j][p], 1.0f, 1e-5);
  for (int p = 1; p <= ss.points[1]; ++p) ASSERT_EQ(ss.model[1][p], 0.0f);
  SwitchOffBufferSedimentation();
  EXPECT_FALSE(b.BufferSedOn);
  EXPECT_FALSE(ContiHooks().bufferCorrection);
}

TEST_F(BufferSedimentation, ConsistencyOfSizesAndPassValues) {
  Scans({300}, 6.0, 7.2, 61);
  BufferSedSettings& b = SwitchedOn();
  Host host;
  struct Case {
    const char* name;
    bool mass;
    double D, Mb, s;
    double wantD, wantMb, wantS;
  };
  const double RT = 8.31451e7 * gSolutionConditions.temperature;
  for (const Case& c : {Case{"D 0 gives Mb 10", false, 0.0, 60, 0.21, 0.0, 10.0, 0.21},
                        Case{"negative D", false, -5.0, 60, 0.21, 0.01, 1e-6 * 0.21 * RT / 0.01, 0.21},
                        Case{"D above 1000", false, 5000, 60, 0.21, 1000, 10.0, 0.21},
                        Case{"D 86", false, 86, 0, 0.21, 86, 1e-6 * 0.21 * RT / 86, 0.21},
                        Case{"Mb 0 raised to 10", true, 0, 0, 0.21, 1e-6 * 0.21 * RT / 10, 10, 0.21},
                        Case{"negative s", true, 0, 60, -0.21, 1e-6 * 0.21 * RT / 60, 60, 0.21}}) {
    SCOPED_TRACE(c.name);
    gFitEngineState.molarMassParameters = c.mass;
    b.SampleBufferD = c.D;
    b.SampleBufferMb = c.Mb;
    b.SampleBufferS = c.s;
    b.RelativeConcentration = 0;
    UpdateBufferSedimentation(&host);
    EXPECT_NEAR(b.SampleBufferD, c.wantD, 1e-9 * (1 + c.wantD));
    EXPECT_NEAR(b.SampleBufferMb, c.wantMb, 1e-6 * c.wantMb);
    EXPECT_DOUBLE_EQ(b.SampleBufferS, c.wantS);
    EXPECT_EQ(b.RelativeConcentration, 1e-6);
    EXPECT_DOUBLE_EQ(BufferPassD, c.wantD == 0 ? 1e-10 : c.wantD * 1e-7);
  }
}

TEST_F(BufferSedimentation, ChecksAgainstTheModel) {
  Scans({300}, 6.0, 7.2, 61);
  BufferSedSettings& b = SwitchedOn();
  // Component 4 of the discrete model is the buffer's.
  gModelParams.massOrD[4] = 5;
  gModelParams.s[4] = 2;
  gModelParameterVector.F[4] = gModelParameterVector.F[8] = 1;
  b.FloatBufferSignal = false;
  EXPECT_TRUE(CheckBufferSedimentationModel());
  EXPECT_EQ(gModelParams.massOrD[4], 0.0f);
  EXPECT_EQ(gModelParams.s[4], 0.0f);
  EXPECT_EQ(gModelParams.included[4], 1);
  EXPECT_EQ(gModelParams.concentrationFit[4], 0);
  EXPECT_EQ(gModelParameterVector.F[4] + gModelParameterVector.F[8], 0);
  // A continuous model without TI and RI noise cannot keep the amplitude fixed.
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
  gFitEngineState.fitTINoise = 1;
  EXPECT_TRUE(CheckBufferSedimentationModel());
  EXPECT_TRUE(b.FloatBufferSignal);
  EXPECT_TRUE(ContiHooks().bufferCorrection);
  EXPECT_TRUE(ContiHooks().bufferConcentrationFitted);
  // Not with the nonideal c(s), and only once a note on other data.
  gModelSelectorFlags.NonidealCSModel = 1;
  EXPECT_FALSE(CheckBufferSedimentationModel());
  EXPECT_FALSE(b.BufferSedOn);
  EXPECT_FALSE(ContiHooks().bufferCorrection);
  gModelSelectorFlags.NonidealCSModel = 0;
  CurrentDataTypeFlags().interference = 0;
  b.BufferSedOn = true;
  CheckBufferSedimentationModel();
  CheckBufferSedimentationModel();
  std::vector<std::string> texts;
  for (const auto& t : ui_.transcript) texts.push_back(t.caption + "|" + t.text);
  const std::vector<std::string> want = {
      "Attention|Note: Component 4 of non-interacting model cannot be used with buffer sedimentation "
      "model.\nSwitching off Component 4.",
      "Attention|buffer sedimentation model is incompatible with this model\nswitching buffer "
      "sedimentation off",
      "Attention|Note: buffer sedimentation model is intended only for interference data"};
  EXPECT_EQ(texts, want);
}

// The buffer solver knows one rotor speed: a speed profile is refused, and
// the buffer slot holds no profile of an earlier evaluation.
TEST_F(BufferSedimentation, VariableRotorSpeedIsRefused) {
  Scans({300, 600}, 6.0, 7.2, 61);
  PrepareScanGrid();
  gFitEngineState.fitTINoise = 1;
  gBufferSedSettings.BufferSedOn = true;
  gBufferSedSettings.SampleBufferS = 0;
  gBufferSedSettings.BufferSignal = 5;
  Host host;
  UpdateBufferSedimentation(&host);
  const std::vector<float*>& curves = CurrentScanSet().species[kBufferSpecies].onGridPerScan;
  ASSERT_NEAR(curves[2][10], 5.0f, 1e-4);
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float start[3] = {0, 0, 600}, rpm[3] = {0, 30000, 50000}, rate[3] = {0, 300, 300};
  profile->SetSteps(2, start, rpm, rate);
  CurrentSpeedProfile.Replace(std::move(profile));
  CurrentSpeedProfile.inUse = true;
  UpdateBufferSedimentation(&host);
  CurrentSpeedProfile.Clear();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "ERROR in simulation|Cannot account for variable rotor speed in this model!");
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= CurrentScanSet().gridLength; ++p) ASSERT_EQ(curves[j][p], 0.0f);
}

TEST_F(BufferSedimentation, FitEntriesFollowTheSwitches) {
  BufferSedSettings& b = gBufferSedSettings;
  SetFitOptionProvider(ProvideBufferFitOptions);
  gFitEngineState.molarMassParameters = 0;
  EXPECT_EQ(FitOptionCount(CurrentFitOptions()), 0);  // off
  b.BufferSedOn = true;
  b.FloatSampleD = b.FloatSampleS = true;
  b.FloatMeniscusDifference = b.FloatRelativeConcentration = true;  // without mismatch: none
  b.FloatReferenceD = b.FloatReferenceS = true;                     // without reference: none
  gModelSelectorFlags.LammDiscreteModel = 1;
  FitOptionEntries o = CurrentFitOptions();
  EXPECT_EQ(FitOptionCount(o), 3);
  EXPECT_EQ(o.entry[kFitOptionBufferSignal].d, &b.BufferSignal);
  EXPECT_EQ(o.entry[kFitOptionBufferS].d, &b.SampleBufferS);
  EXPECT_EQ(o.entry[kFitOptionBufferSize].massValue, &b.SampleBufferMb);
  b.MeniscusMismatch = b.DifferentReferenceBuffer = true;
  EXPECT_EQ(FitOptionCount(CurrentFitOptions()), 7);
  // The amplitude found by a linear solve is no fit parameter.
  gModelParams.concentrationsLinear = 1;
  EXPECT_EQ(FitOptionCount(CurrentFitOptions()), 6);
  // The fit vector packs the D or the Mb by the parametrisation.
  b.SampleBufferD = 86;
  b.SampleBufferMb = 59.5;
  float v[40] = {};
  ASSERT_EQ(ParametersToFitVector(39, v), 6);
  EXPECT_FLOAT_EQ(v[1], 86.0f);
  gFitEngineState.molarMassParameters = 1;
  ParametersToFitVector(39, v);
  EXPECT_FLOAT_EQ(v[1], 59.5f);
}

TEST_F(BufferSedimentation, ReportLine) {
  Scans({300}, 6.0, 7.2, 61);
  BufferSedSettings& b = SwitchedOn();
  b.BufferSignal = 12.5;
  b.ExcessInSample = false;
  b.ExcessInReference = true;
  b.FloatSampleS = true;
  Host host;
  FitInfoLines lines;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[14], "buffer: -12.500(fl), D=86.00, s=0.2100(fl), Mb=60.0");
}

// Lines 96-118 written and read back; the one-shot subtraction never comes
// back on; a short file switches the correction off.
TEST_F(BufferSedimentation, SavedLinesRoundTrip) {
  Scans({300}, 6.0, 7.2, 61);
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.getBufferValue = BufferSavedValue;
  h.setBufferValue = SetBufferSavedValue;
  h.afterReload = AfterBufferReload;
  const std::string path = (std::filesystem::temp_directory_path() / "tarnel_buffer_saved.txt").string();
  BufferSedSettings& b = SwitchedOn();
  b.ExcessInSample = false;
  b.ExcessInReference = true;
  b.SignalSign = -1;
  b.SubtractFromData = true;
  b.SampleBufferD = 80;
  b.SampleBufferMb = 55;
  b.SampleBufferS = 0.25;
  b.BufferSignal = 7.5;
  b.MeniscusMismatch = true;
  b.MeniscusDifference = 0.03;
  b.RelativeConcentration = 0.9;
  b.DifferentReferenceBuffer = true;
  b.ReferenceBufferD = 150;
  b.ReferenceBufferMb = 90;
  b.ReferenceBufferS = 0.15;
  b.FloatSampleD = b.FloatReferenceS = b.FloatMeniscusDifference = true;
  b.FloatBufferSignal = false;
  const BufferSedSettings saved = b;
  ASSERT_TRUE(TmpSaveBestParams(path, false));
  b = BufferSedSettings{};
  ASSERT_EQ(ReloadParameters(path), 1);
  EXPECT_TRUE(b.BufferSedOn);
  EXPECT_FALSE(b.SubtractFromData);
  EXPECT_EQ(b.SignalSign, -1.0);
  EXPECT_EQ(b.ExcessInReference, true);
  EXPECT_EQ(b.ExcessInSample, false);
  for (auto [got, want] : {std::pair{b.SampleBufferD, saved.SampleBufferD}, {b.SampleBufferMb, saved.SampleBufferMb},
                           {b.SampleBufferS, saved.SampleBufferS}, {b.BufferSignal, saved.BufferSignal},
                           {b.MeniscusDifference, saved.MeniscusDifference},
                           {b.RelativeConcentration, saved.RelativeConcentration},
                           {b.ReferenceBufferD, saved.ReferenceBufferD}, {b.ReferenceBufferMb, saved.ReferenceBufferMb},
                           {b.ReferenceBufferS, saved.ReferenceBufferS}})
    EXPECT_NEAR(got, want, 1e-6 * want);
  EXPECT_TRUE(b.MeniscusMismatch && b.DifferentReferenceBuffer && b.FloatSampleD && b.FloatReferenceS &&
              b.FloatMeniscusDifference);
  EXPECT_FALSE(b.FloatBufferSignal || b.FloatSampleS || b.FloatReferenceD || b.FloatRelativeConcentration);
  // The buffer slot is the model's fourth species again.
  EXPECT_EQ(gModelParams.included[kBufferSpecies], 1);

  // The first 99 lines of an analysis without the correction.
  std::vector<std::string> lines;
  {
    std::ifstream in(path);
    for (std::string l; std::getline(in, l) && lines.size() < 99;) lines.push_back(l);
  }
  lines[95] = "0.000000";
  {
    std::ofstream out(path);
    for (const std::string& l : lines) out << l << "\n";
  }
  ASSERT_EQ(ReloadParameters(path), 1);
  EXPECT_FALSE(b.BufferSedOn);
  EXPECT_EQ(gModelParams.included[kBufferSpecies], 0);
  EXPECT_NEAR(b.SampleBufferD, 80, 1e-4);  // values the file lacks stay
  std::filesystem::remove(path);
}

}  // namespace
