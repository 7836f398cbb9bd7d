// Peak labels of a c(s) distribution shown in the window ("Show Peak Mw in
// c(s)") and the "PEAK INFO" box that a click on a label opens.
#include <cmath>
#include <memory>
#include <string>

#include "app/commands/distribution/peak_labels.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "distributions/conti_settings.h"
#include "app_fixture.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"
#include "platform/clock.h"
#include "platform/input_events.h"

namespace {

// Eleven Gaussian peaks at s = 1, 2, ... 11 S, the k-th of height k / 11
// (the peak at 1 S is the lowest), on s = 0.05 .. 13 S.
class PeakLabelsInWindow : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    WriteAgreedDefaults();
    platform::SetClock(&clock_);
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    gSolutionConditions.vbarRho = 0.73f * 0.99823f;
    Conti().ffValue = 1.2f;
    // Painting and the keys act only with the data plot on the screen.
    CurrentPlotWindows().dataPlot = new CWINPlot();
    window_ = MakeWindow();
    window_->Frame().Resize(1400, 1000);
    window_->Paint(true);
    InstallDistributionPlot();
    AllocDistributionArrays(260, 0, 0);
    ContiSettings& cs = Conti();
    for (int i = 1; i <= 260; ++i) {
      const double s = 0.05 * i;
      double c = 0;
      for (int k = 1; k <= 11; ++k) c += k / 11.0 * std::exp(-(s - k) * (s - k) / 0.02);
      cs.sValues[i] = static_cast<float>(s);
      cs.molarMasses[i] = static_cast<float>(1000 * s);
      cs.distribution[i] = static_cast<float>(c);
    }
    BuildDistributionPlot();
    DistArrays().transformedToR = DistArrays().transformedToS20 = false;
  }
  void TearDown() override {
    if (PeakLabels().count > 0) DeletePeakLabels(*window_);
    FreeDistributionArrays();
    window_.reset();
    delete CurrentPlotWindows().dataPlot;
    CurrentPlotWindows().dataPlot = nullptr;
    platform::SetClock(nullptr);
    AppTest::TearDown();
  }
  void ClickOn(const CScreenButton& b) {
    window_->OnMouse(platform::MouseMessage::LButtonDown, 0, (b.left + b.right) / 2, (b.top + b.bottom) / 2);
  }
  platform::ManualClock clock_;
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(PeakLabelsInWindow, TheTenHighestPeaksGetTheirMolarMassAndAClickShowsTheDetails) {
  window_->Dispatch(608);
  const PeakLabelTable& t = PeakLabels();
  ASSERT_EQ(t.count, 10);
  for (int k = 1; k <= 10; ++k) {
    const PeakLabelSlot& slot = t.slots[static_cast<size_t>(k)];
    ASSERT_NE(slot.label, nullptr) << k;
    // Highest first: 11 S, 10 S, ... 2 S; the peak at 1 S gets none.
    EXPECT_NEAR(slot.sw, 12 - k, 0.01) << k;
    EXPECT_EQ(slot.label->caption.rfind("Mf~", 0), 0u);
    // A window that cannot measure its text gives ten logical units per
    // character, centred on the peak.
    const int width = slot.label->right - slot.label->left;
    EXPECT_NEAR(width, 10 * static_cast<int>(slot.label->caption.size()), 1);
  }
  EXPECT_TRUE(t.labelsNew);

  ui_->transcript.clear();
  ClickOn(*t.slots[1].label);
  ASSERT_EQ(ui_->transcript.size(), 1u);
  EXPECT_EQ(ui_->transcript[0].caption, "PEAK INFO");
  EXPECT_EQ(ui_->transcript[0].text.rfind("sw = 11.000 S, sw(20,w) = ", 0), 0u) << ui_->transcript[0].text;
  EXPECT_NE(ui_->transcript[0].text.find("with best-fit friction ratio = 1.200"), std::string::npos);
  EXPECT_EQ(t.slots[1].label->on, 0);  // released again
  EXPECT_TRUE(t.labelsShown);
  EXPECT_FALSE(t.peakBoxOpen);
  window_->Paint(true);
  EXPECT_EQ(t.count, 10);  // kept after their details were shown

  // Escape removes them.
  window_->EvChar(27, 1, 0);
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(t.slots[1].label, nullptr);
}

TEST_F(PeakLabelsInWindow, NewLabelsSurviveOnePaintAndTransformedDistributionsGetNone) {
  window_->Dispatch(608);
  const PeakLabelTable& t = PeakLabels();
  ASSERT_EQ(t.count, 10);
  window_->Paint(true);
  EXPECT_EQ(t.count, 10);
  window_->Paint(true);
  EXPECT_EQ(t.count, 0);

  DistArrays().transformedToS20 = true;
  window_->Dispatch(608);
  EXPECT_EQ(t.count, 0);
  DistArrays().transformedToS20 = false;
  // The two-dimensional c(s, f/f0) has no peak labels.
  gModelSelectorFlags.CSff0Model = 1;
  window_->Dispatch(608);
  EXPECT_EQ(t.count, 0);
  gModelSelectorFlags.CSff0Model = 0;

  // Labels go with the distribution they were put on.
  window_->Dispatch(608);
  ASSERT_EQ(t.count, 10);
  FreeDistributionArrays();
  EXPECT_EQ(t.count, 0);
}

// A peak at an edge of the shown range keeps its whole label inside the plot.
TEST_F(PeakLabelsInWindow, LabelsStayInsideThePlot) {
  CWINPlot& plot = *Conti().distributionPlot;
  for (const auto& [lo, hi] : {std::pair{0.05f, 11.05f}, std::pair{1.9f, 13.0f}}) {
    SCOPED_TRACE(lo);
    plot.SetRanges(lo, hi, 0.0f, 1.0f);
    window_->Dispatch(608);
    const PeakLabelTable& t = PeakLabels();
    ASSERT_GT(t.count, 0);
    const float left = PlotPositionX(plot, plot.xMin), right = PlotPositionX(plot, plot.xMax);
    const float top = PlotPositionY(plot, plot.yMax);
    for (int k = 1; k <= t.count; ++k) {
      const CScreenButton* label = t.slots[static_cast<size_t>(k)].label.get();
      if (!label) continue;
      EXPECT_GE(label->left, left - 1) << k;
      EXPECT_LE(label->right, right + 1) << k;
      EXPECT_GE(label->top, top - 1) << k;
    }
    DeletePeakLabels(*window_);
  }
}

}  // namespace
