// The main window's commands of the residuals bitmap and the ad-hoc plots.
#include "app/window/program_options.h"
#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"

namespace {
constexpr int kShowResidualsBitmap = cmd::ShowResidualsBitmap;
constexpr int kBitmapBlackWhite = 505;
constexpr int kBitmapContinuousShading = 506;
}  // namespace

void TXLAWindow::CmShowResidualsBitmap() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (w.showBitmap) {
    w.showBitmap = 0;
    CheckMenuItem(kShowResidualsBitmap, false);
  } else {
    float scale = w.bitmapFullScale;
    if (InputFloat(&scale, w.bitmapFullScale, true, "bitmap brightness full scale (0 for autoscale)",
                   "BITMAP BRIGHTNESS SCALE"))
      w.bitmapFullScale = scale;
    else
      w.bitmapFullScale = CurrentDataTypeFlags().fluorescence ? 5.0f : 0.05f;
    w.showBitmap = 1;
    CheckMenuItem(kShowResidualsBitmap, true);
  }
  // The strip takes one row per scan above the residual plot, which moves.
  RelayoutAndRedrawPlots();
  Frame().Invalidate(true);
}

void TXLAWindow::CmBitmapBlackWhite() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (w.bitmapBlackWhite) {
    w.bitmapBlackWhite = 0;
    CheckMenuItem(kBitmapBlackWhite, false);
    return;
  }
  w.bitmapBlackWhite = 1;
  CheckMenuItem(kBitmapBlackWhite, true);
  w.bitmapHighlightExtremes =
      platform::UI().MessageBox("SET PREFERENCE", "with red/magenta highlight of extremes?",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDYES
          ? 1
          : 0;
}

void TXLAWindow::CmBitmapContinuousShading() {
  PlotWindowSet& w = CurrentPlotWindows();
  w.bitmapContinuous = w.bitmapContinuous ? 0 : 1;
  CheckMenuItem(kBitmapContinuousShading, w.bitmapContinuous);
}

void TXLAWindow::CmCopyResidualsBitmap() {
  SyncPlotPreferences();
  CopyResidualsBitmapToClipboard();
  PlaySoundOk();
}

void TXLAWindow::CmShowTemperaturePlot() { ShowTemperaturePlot(); }

void TXLAWindow::CmShowRotorSpeedPlot() { ShowRotorSpeedPlot(); }

void TXLAWindow::CmShowResidualsHistogram() {
  SyncPlotPreferences();
  ShowResidualsHistogram();
  Options().ShowResidualsHistogram = CurrentPlotWindows().showHistogram != 0;
}
