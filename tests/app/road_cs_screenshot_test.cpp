// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"
#include "app/commands/distribution/peak_labels.h"
#include "plot/screen_button.h"
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>

#include "data/realtime_update.h"
#include "data/rotor_speed_profile.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_report.h"
#include "fit/rmsd.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

// The peak label table has a member of that name.
#undef slots

namespace {

class RoadCs : public DesktopRoadTest {
 protected:
  // Pixels that are not white inside a rectangle of the picture.
  static int Inked(const QImage& image, int left, int top, int right, int bottom) {
    int n = 0;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y)
      for (int x = std::max(left, 0); x < std::min(right, image.width()); ++x)
        if ((image.pixel(x, y) & 0xffffff) != 0xffffff) ++n;
    return n;
  }
  static int Inked(const QImage& image, const CWINPlot& p) {
    return Inked(image, p.plotLeft, p.plotTop, p.plotRight, p.plotBottom);
  }

  // Six scans loaded, c(s) without TI noise chosen and run; its frame.
  platform::IFrameWindow& CsRunOnSixScans() {
    LoadRun(6);
    gFitEngineState.fitTINoise = 0;
    Window().Dispatch(275);
    ui_->lenient = true;
    Window().Dispatch(213);
    return Window().Frame();
  }
};

TEST_F(RoadCs, ContinuousDistributionRunDrawsDataResidualsAndDistribution) {
  LoadRun(6);
  gFitEngineState.fitTINoise = 0;

  Window().Dispatch(275);  // "Continuous c(s) Distribution"
  ASSERT_EQ(gModelSelectorFlags.DistributionModel, 1);
  ASSERT_EQ(gModelSelectorFlags.CSModel, 1);
  EXPECT_TRUE(Window().IsMenuItemChecked(275));
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                 {{405, "40"}, {406, "1"}, {407, "10"}, {435, "5.9500"}, {437, "7.1800"}},
                 {{431, 0}, {455, 0}, {434, 0}, {436, 0}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_EQ(forms_.seen.at(0).Find(406)->label, "s min");
  EXPECT_EQ(forms_.seen.at(0).Find(417)->label, "s grid from file");

  Window().Dispatch(213);  // "&Run"
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  ASSERT_NE(cs.distribution, nullptr);
  // The boundary of the synthetic run moves at 5 S: the distribution peaks there.
  const int peak = PeakIndex(cs);
  EXPECT_GT(cs.distribution[peak], 0.0f);
  EXPECT_NEAR(cs.sValues[peak], 5.0, 0.5);

  // Fitting the frictional ratio brings the boundary widths to the data.
  const float runRmsd = CalcRmsd();
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {}, {{416, 1}}});
  Window().Dispatch(212);
  Window().Dispatch(215);  // "Fit"
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_LT(CalcRmsd(), 0.2f * runRmsd);
  EXPECT_LT(CalcRmsd(), 0.005f);
  EXPECT_NE(Conti().ffValue, 1.2f);

  auto& frame = Window().Frame();
  const std::string shot = (dir_ / "cs.png").string();
  ASSERT_TRUE(frame.SaveClientImage(shot, 1400, 1000));
  QImage image(QString::fromStdString(shot));
  ASSERT_EQ(image.width(), 1400);
  const PlotWindowSet& w = CurrentPlotWindows();
  ASSERT_NE(w.dataPlot, nullptr);
  ASSERT_NE(w.residualPlot, nullptr);
  EXPECT_GT(Inked(image, *w.dataPlot), 500);
  // The fit report went on top of the finished picture.
  EXPECT_FALSE(WindowFlags().FitInfoPending);
  EXPECT_NE(LastFitInfoLines().line[1], "");
  EXPECT_GT(Inked(image, 10, 10, 600, 40), 20);
  EXPECT_GT(Inked(image, *w.residualPlot), 200);
  // The distribution graph lies below the residuals, across the window.
  const DistributionPlotSpec& spec = DistArrays().lastSpec;
  EXPECT_GT(Inked(image, static_cast<int>(spec.top * 1.4), spec.left, static_cast<int>(spec.bottom * 1.4), spec.right),
            200);
  if (const char* docs = std::getenv("TARNEL_DOCS_SCREENSHOT")) {
    WindowFlags().FitInfoPending = true;
    frame.SaveClientImage(docs, 1400, 1000);
  }
}

// What the window draws over the plots belongs to the data shown: the fit
// report of the last Run stays through any repaint (a resize) until new
// data come; the real-time update's status stays under the plots; the
// rotor-speed plot of a run under a speed profile shows the profile.
TEST_F(RoadCs, TheFitReportStaysThroughARepaintUntilNewDataCome) {
  const auto paths = WriteRun(".ra1", 6);
  Window();
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  gFitEngineState.fitTINoise = 0;
  Window().Dispatch(275);
  Window().Dispatch(213);
  auto& frame = Window().Frame();
  auto inkedReport = [&](int width, int height) {
    const std::string shot = (dir_ / "shot.png").string();
    EXPECT_TRUE(frame.SaveClientImage(shot, width, height));
    return Inked(QImage(QString::fromStdString(shot)), 10, 10, 600, 40);
  };
  EXPECT_GT(inkedReport(1400, 1000), 20);  // composed by this paint
  EXPECT_GT(inkedReport(1000, 700), 20);   // drawn again after the resize
  EXPECT_GT(inkedReport(1400, 1000), 20);
  LoadChosen(paths);
  EXPECT_EQ(inkedReport(1400, 1000), 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(RoadCs, TheRealtimeStatusStandsRightOfTheReportsFirstRows) {
  LoadRun(4);
  RealtimeState& rt = CurrentRealtimeState();
  rt.statusLine1 = "IN REALTIME UPDATE MODE. PRESS ANY KEY TO INTERRUPT.";
  rt.statusLine2 = "Last changed at 10:00, last checked at 10:01";
  auto inkedStatus = [&](bool running) {
    rt.running = running ? 1 : 0;
    const std::string shot = (dir_ / "shot.png").string();
    EXPECT_TRUE(Window().Frame().SaveClientImage(shot, 1400, 1000));
    rt.running = 0;
    return Inked(QImage(QString::fromStdString(shot)), 500, 28, 1100, 68);
  };
  const int without = inkedStatus(false);
  EXPECT_GT(inkedStatus(true), without + 200);
  rt = RealtimeState{};
}

TEST_F(RoadCs, TheRotorSpeedPlotShowsTheSpeedProfile) {
  LoadRun(4);
  // Scans at 1200 and 1800 s at 20000 rpm, at 2400 and 3000 s at 50000 rpm:
  // 50000 rpm lies between rows 62 and 100 (with or without a distribution
  // plot below) and 1560..1780 s near columns 400..560. The
  // profile below runs at 50000 rpm from 1550 s on; the scans' own points
  // and line stay at the bottom there.
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 2; ++i) s.records[s.order[i]].rpm = 20000;
  auto topInk = [&] {
    ShowRotorSpeedPlot();
    const std::string shot = (dir_ / "shot.png").string();
    EXPECT_TRUE(Window().Frame().SaveClientImage(shot, 1400, 1000));
    return Inked(QImage(QString::fromStdString(shot)), 400, 62, 560, 100);
  };
  const int scansOnly = topInk();
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float t[] = {0, 0, 1400}, rpm[] = {0, 20000, 50000}, rate[] = {0, 200, 200};
  profile->SetSteps(2, t, rpm, rate);
  CurrentSpeedProfile.Replace(std::move(profile));
  CurrentSpeedProfile.inUse = true;
  const int withProfile = topInk();
  CurrentSpeedProfile.Clear();
  EXPECT_EQ(scansOnly, 0);
  EXPECT_GT(withProfile, 100);
}

// The peak labels hold their whole caption however the window is shaped:
// the letters follow the window's height, the label its width.
TEST_F(RoadCs, PeakLabelsHoldTheirWholeCaptionAtEveryWindowSize) {
  auto& frame = CsRunOnSixScans();
  const struct {
    int width, height;
  } sizes[] = {{1400, 1000}, {800, 550}, {600, 900}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(size.width);
    frame.Resize(size.width, size.height);
    Window().Paint(true);
    Window().Dispatch(608);
    const PeakLabelTable& t = PeakLabels();
    ASSERT_GT(t.count, 0);
    platform::DrawSurface* surface = frame.Surface();
    ASSERT_NE(surface, nullptr);
    for (int k = 1; k <= t.count; ++k) {
      const CScreenButton* label = t.slots[static_cast<size_t>(k)].label.get();
      if (!label) continue;
      auto dc = surface->ClientDC();
      dc->SetMapMode(platform::MM_ANISOTROPIC);
      dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
      dc->SetViewportExt(surface->ClientWidth(), surface->ClientHeight());
      dc->SelectObject(ButtonFont(label->captionHeight));
      const int caption = dc->MeasureText(label->caption);
      EXPECT_GT(caption, 0);
      EXPECT_LE(caption + 4, label->right - label->left) << label->caption;
      EXPECT_GE(label->bottom - label->top, 24);
    }
  }
}

// The c(s,f/f0) map ends at its frame: the cells of the first and last f/f0
// rows (a range whose upper end holds the boundary's own frictional ratio)
// are cut there, none reaches into the residuals or the space above.
TEST_F(RoadCs, TheTwoDimensionalMapStaysInsideItsFrame) {
  LoadRun(6);
  gFitEngineState.fitTINoise = 0;
  ui_->lenient = true;
  Window().Dispatch(595);  // "Continuous c(s,ff0)"
  forms_.Expect({"Continuous c(s,ff0)",
                 {{405, "20"}, {406, "1"}, {407, "10"}, {412, "1.0"}, {414, "1.3"}, {428, "4"}, {435, "5.9500"},
                  {437, "7.1800"}},
                 {{431, 0}, {455, 0}, {434, 0}, {436, 0}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  Window().Dispatch(213);
  ASSERT_NE(Conti().distributionPlot, nullptr);
  const std::string shot = (dir_ / "map.png").string();
  ASSERT_TRUE(Window().Frame().SaveClientImage(shot, 1400, 1000));
  const QImage image(QString::fromStdString(shot));
  const CWINPlot& p = *Conti().distributionPlot;
  // Cells are coloured; the frame, ticks and labels are black or grey.
  auto coloured = [&](int left, int top, int right, int bottom) {
    int n = 0;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y)
      for (int x = std::max(left, 0); x < std::min(right, image.width()); ++x) {
        const QRgb c = image.pixel(x, y);
        const int hi = std::max({qRed(c), qGreen(c), qBlue(c)}), lo = std::min({qRed(c), qGreen(c), qBlue(c)});
        if (hi - lo > 60) ++n;
      }
    return n;
  };
  const int top = std::min(p.plotTop, p.plotBottom), bottom = std::max(p.plotTop, p.plotBottom);
  const int left = std::min(p.plotLeft, p.plotRight), right = std::max(p.plotLeft, p.plotRight);
  // The upper row is drawn, up to the frame and not beyond it.
  EXPECT_GT(coloured(left + 2, top + 1, right - 2, top + 6), 20);
  EXPECT_EQ(coloured(left + 2, top - 12, right - 80, top), 0);
  EXPECT_EQ(coloured(left + 2, bottom + 1, right - 2, bottom + 12), 0);
  EXPECT_EQ(coloured(left - 12, top, left, bottom), 0);
}

// The fit report keeps to the top of the window: at 1000 pixels height and
// above as laid out (20 pixels a line), in a lower window to the same share
// of its height (at 800 x 550 it covered the data and residual plots).
TEST_F(RoadCs, TheFitReportKeepsToItsShareOfTheWindowHeight) {
  auto& frame = CsRunOnSixScans();
  // The lowest row where the picture with the report differs from the one without.
  auto reportBottom = [&](int width, int height) {
    const std::string with = (dir_ / "with.png").string(), without = (dir_ / "without.png").string();
    WindowFlags().FitInfoShown = true;
    EXPECT_TRUE(frame.SaveClientImage(with, width, height));
    WindowFlags().FitInfoShown = false;
    EXPECT_TRUE(frame.SaveClientImage(without, width, height));
    const QImage a(QString::fromStdString(with)), b(QString::fromStdString(without));
    int lowest = -1;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) lowest = y;
    return lowest;
  };
  const int tall = reportBottom(1400, 1000), small = reportBottom(800, 550);
  EXPECT_GT(tall, 250);  // 14 lines of 20 pixels from y = 10
  EXPECT_LE(tall, 300);
  EXPECT_GT(small, 150);
  EXPECT_LE(small, 0.36 * 550);
}

// Choosing van Holde-Weischet after a c(s) Run computes nothing: the data
// plot shows the scans without the c(s) model's curves over them.
TEST_F(RoadCs, ChoosingVanHoldeWeischetTakesAwayTheCurvesOfTheModelBefore) {
  platform::IFrameWindow& frame = CsRunOnSixScans();
  const std::string path = (dir_ / "shot.png").string();
  ASSERT_TRUE(frame.SaveClientImage(path, 1000, 700));
  const CWINPlot& data = *CurrentPlotWindows().dataPlot;
  const int x0 = data.plotLeft * 1000 / 1400, x1 = data.plotRight * 1000 / 1400;
  const int y0 = data.plotTop * 700 / 1000, y1 = data.plotBottom * 700 / 1000;
  const int withModel = Inked(QImage(QString::fromStdString(path)), x0 + 2, y0 + 2, x1 - 2, y1 - 2);
  ui_->ExpectBox("Van Holde Weischet Analysis", "van Holde-Weischet for sedimentation? ('no' for flotation)",
                 platform::IDYES);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", std::string("20"));
  Window().Dispatch(292);
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    EXPECT_EQ(*std::max_element(s.model[i] + 1, s.model[i] + s.points[i] + 1), 0.0f) << i;
  ASSERT_TRUE(frame.SaveClientImage(path, 1000, 700));
  const int scansOnly = Inked(QImage(QString::fromStdString(path)), x0 + 2, y0 + 2, x1 - 2, y1 - 2);
  // The model's six lines went; the scans' points and the markers stay.
  EXPECT_LT(scansOnly, withModel * 3 / 4);
  EXPECT_GT(scansOnly, withModel / 10);
}

}  // namespace
