// c(s) from the window on scans of a detector that responds nonlinearly: the
// synthetic run is bent by g(x) = (x - b)^(1/p) + b after loading, the
// correction is switched on through its menu questions, and Run and Fit
// must work on straight signals while the window keeps the measured ones.
#include "road_support.h"

#include <cstdio>
#include <string>
#include <vector>

#include "data/fluorescence_corrections.h"
#include "data/scan_grid.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_driver.h"
#include "fit/fit_report.h"

namespace {

constexpr double kPower = 1.4, kBaseline = 0.02;

// Before Qt's headers, whose keyword macros would take the scans' field.
std::vector<std::vector<float>> BendLoadedSignals() {
  ScanSet& s = CurrentScanSet();
  std::vector<std::vector<float>> measured(s.count + 1);
  for (int j = 1; j <= s.count; ++j)
    for (int i = 1; i <= s.points[j]; ++i) {
      float& x = s.signals[j][i];
      if (x > kBaseline) x = static_cast<float>(std::pow(x - kBaseline, 1.0 / kPower) + kBaseline);
      measured[j].push_back(x);
    }
  PrepareScanGrid();
  return measured;
}

bool SignalsAre(const std::vector<std::vector<float>>& measured) {
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j)
    for (int i = 1; i <= s.points[j]; ++i)
      if (s.signals[j][i] != measured[j][i - 1]) return false;
  return true;
}

}  // namespace

#include <QByteArray>

#include "desktop_support.h"

namespace {

class RoadDetectionCs : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    StartOffscreenDesktop();
  }
  void TearDown() override {
    window_.reset();
    FreeDistributionArrays();
    platform::SetFrameWindowFactory({});
    RoadTest::TearDown();
  }
  void LoadBentRun() {
    const auto paths = WriteRun(".ra1", 6);
    Window();
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    measured_ = BendLoadedSignals();
    gFitEngineState.fitTINoise = 0;
    Window().Dispatch(275);  // "Continuous c(s) Distribution"
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, "40"}, {406, "1"}, {407, "10"}, {435, "5.9500"}, {437, "7.1800"}},
                   {{431, 0}, {455, 0}, {434, 0}, {436, 0}}});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  }
  void SwitchDetectionOn(const char* power, bool fit) {
    const char* caption = "Nonlinear Detection";
    ui_->ExpectBox(caption, "this is intended for fluorescence data - proceed anyway?", platform::IDYES);
    ui_->ExpectBox(caption, "account for nonlinear detection", platform::IDYES);
    ui_->ExpectPrompt(caption, "power coeff d(log(a))/dc", power);
    ui_->ExpectBox(caption, "fit power coefficient?", fit ? platform::IDYES : platform::IDNO);
    ui_->ExpectPrompt(caption, "baseline for power law", "0.02");
    ui_->ExpectBox(caption, "want to show transformed data (YES) or original (NO)?", platform::IDNO);
    Window().Dispatch(908);
    EXPECT_TRUE(ui_->AllConsumed());
  }
  // The scans hold exactly what was measured.
  bool MeasuredOnView() const { return SignalsAre(measured_); }
  static double PeakS() {
    const ContiSettings& cs = Conti();
    const int peak = PeakIndex(cs);
    return cs.sValues[peak];
  }

  std::vector<std::vector<float>> measured_;
};

TEST_F(RoadDetectionCs, RunAndFitSeeStraightSignalsAndTheWindowKeepsTheMeasuredOnes) {
  LoadBentRun();
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {}, {{416, 1}}});
  Window().Dispatch(212);
  Window().Dispatch(215);  // Fit of f/f0, the bend not accounted for
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const float bentRmsd = gFitEngineState.currentRmsd;

  // The power floated from a wrong start, together with f/f0.
  SwitchDetectionOn("1.25", true);
  Window().Dispatch(215);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(CurrentFdsSignalParams().detectionPower, kPower, 0.05);
  EXPECT_NEAR(PeakS(), 5.0, 0.5);
  EXPECT_TRUE(MeasuredOnView());
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);
  // The misfit is judged where the signals were measured, and the
  // straightened model fits them far better.
  EXPECT_FLOAT_EQ(gFitEngineState.currentRmsd, NonlinearDetectionRmsd());
  EXPECT_LT(gFitEngineState.currentRmsd, 0.5f * bentRmsd);
  char expected[160];
  std::snprintf(expected, sizeof expected,
                " - nonlin coeff = %.4f (floating), nonlin baseline = 0.020000 [showing non-transformed]",
                CurrentFdsSignalParams().detectionPower);
  bool reported = false;
  for (const std::string& line : LastFitInfoLines().line) reported = reported || line == expected;
  EXPECT_TRUE(reported) << expected;

  // A plain Run with the correction on leaves the measured scans on view too.
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(PeakS(), 5.0, 0.5);
  EXPECT_TRUE(MeasuredOnView());
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);
}

}  // namespace
