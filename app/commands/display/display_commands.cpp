// Copy and Display commands of the data plot.
#include "app/commands/display/display_commands.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/window/main_window_flags.h"
#include "app/plot_input/zoom_band.h"
#include "app/window/program_options.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_clipboard.h"
#include "plot/plot_window_set.h"

namespace {

constexpr int kLineStyle = -1;
constexpr int kMarkStyle = 6;
// Larger marks cover the whole plot, and the symbol size must stay an int.
constexpr float kLargestMarkSize = 100.0f;


int ScanCurveCount(const CWINPlot& plot) {
  return std::min(CurrentScanSet().count, plot.curveCount);
}

void SetDataCurveStyles(CWINPlot& plot, int style) {
  for (int i = 0; i < ScanCurveCount(plot); ++i) plot.SetCurveStyle(i, style);
}

// The whole plot area redrawn with the markers over the data plot.
void RedrawPlots(TXLAWindow& w) { RequestRepaint(w); }

void ShowStoredRange(CWINPlot& plot) {
  const RangeHistoryRecord& h = RangeHistory;
  if (h.depth > 0) {
    const auto i = static_cast<std::size_t>(h.depth);
    plot.SetRanges(h.xMin[i], h.xMax[i], h.yMin[i], h.yMax[i]);
  } else {
    plot.RescaleAll();
  }
  plot.Plot();
}

}  // namespace

DataMarkState& DataMarks() {
  static DataMarkState state;
  return state;
}

BlackScanCurves::BlackScanCurves() {
  const PlotWindowSet& w = CurrentPlotWindows();
  for (CWINPlot* plot : {w.dataPlot, w.residualPlot}) {
    if (!plot) continue;
    Kept k{plot, {}};
    for (int i = 0; i < ScanCurveCount(*plot); ++i) {
      k.colours.push_back(plot->GetCurveColor(i));
      plot->SetCurveColor(i, 0);
    }
    kept_.push_back(std::move(k));
  }
}

BlackScanCurves::~BlackScanCurves() {
  for (const Kept& k : kept_)
    for (std::size_t i = 0; i < k.colours.size(); ++i)
      k.plot->SetCurveColor(static_cast<int>(i), k.colours[i]);
}

void TXLAWindow::CmCopyDataPlot() {
  AdHocPlotArrays& adHoc = CurrentAdHocPlot();
  if (adHoc.adHocShown && adHoc.adHocPlot) {
    adHoc.adHocPlot->Rescale();
    adHoc.adHocPlot->Plot();
    // Without a recorded picture there is nothing worth copying.
    if (adHoc.adHocPlot->lastMetafile) CopyMetafileToClipboard(&adHoc.adHocPlot->lastMetafile);
    return;
  }
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot) return;
  const char* caption = "Copy Data Plot to Clipboard";
  // The copy may connect the points; afterwards each curve is drawn as the
  // user last chose, not reset to marks.
  std::vector<int> styles;
  for (int i = 0; i < ScanCurveCount(*plot); ++i) styles.push_back(plot->GetCurveStyle(i));
  if (platform::AskYes(caption, "connect data points with lines?")) SetDataCurveStyles(*plot, kLineStyle);
  if (platform::AskYes(caption, "Paint Black and White?")) {
    BlackScanCurves black;
    plot->Plot();
  } else {
    plot->Plot();
  }
  CopyMetafileToClipboard(&plot->lastMetafile);
  for (std::size_t i = 0; i < styles.size(); ++i) plot->SetCurveStyle(static_cast<int>(i), styles[i]);
  plot->Plot();
}

void TXLAWindow::CmCopyResidualsPlot() {
  CWINPlot* plot = CurrentPlotWindows().residualPlot;
  if (!plot) return;
  if (platform::AskYes("Copy Residuals Plot to Clipboard", "Paint Black and White?")) {
    BlackScanCurves black;
    plot->Plot();
  } else {
    plot->Plot();
  }
  CopyMetafileToClipboard(&plot->lastMetafile);
  // The screen keeps the colours.
  plot->Plot();
}

void TXLAWindow::CmCopyResidualsHistogram() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.showHistogram) {
    platform::Tell("Copy Residuals Histogram to Clipboard", "sorry, needs to be switched on in Display menu first",
                   platform::BoxIcon::None);
    return;
  }
  if (!w.histogramPlot) return;
  w.histogramPlot->Plot();
  CopyMetafileToClipboard(&w.histogramPlot->lastMetafile);
}

void TXLAWindow::CmSetRange() {
  const char* caption = "SET DISPLAY RANGE";
  float r1 = 0, r2 = 0, a1 = 0, a2 = 0;
  if (!InputFloat(&r1, 0, false, "smallest r", caption)) return;
  if (!InputFloat(&r2, 0, false, "highest r", caption)) return;
  if (!InputFloat(&a1, 0, false, "smallest absorbance", caption)) return;
  if (!InputFloat(&a2, 0, false, "highest absorbance", caption)) return;
  if (r1 > r2) std::swap(r1, r2);
  if (a1 > a2) std::swap(a1, a2);
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot) return;
  PushRangeHistory(DataRange{r1, r2, a1, a2});
  plot->SetRanges(r1, r2, a1, a2);
  plot->Plot();
  CurrentZoomBand().zoomed = 1;
  RedrawPlots(*this);
}

void TXLAWindow::CmFullRange() {
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot) return;
  CurrentZoomBand().dataZoom = 0;
  RangeHistory.depth = 0;
  plot->RescaleAll();
  plot->Plot();
  RedrawPlots(*this);
}

void TXLAWindow::CmUpdate() { Frame().Invalidate(true); }

namespace {

// Show Data and Show Residuals are twins: the switched plot alone, both
// laid out again, or the other one alone; then the data plot at its range.
void ToggleShownPlot(TXLAWindow& window, std::uint8_t& shown, std::uint8_t otherShown, int item,
                     void (*placeAlone)(), void (*placeOther)()) {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.dataPlot) return;
  shown = shown ? 0 : 1;
  window.CheckMenuItem(item, shown != 0);
  if (!shown) {
    if (otherShown) placeOther();
  } else if (otherShown) {
    RelayoutAndRedrawPlots();
  } else {
    placeAlone();
  }
  ShowStoredRange(*w.dataPlot);
  RequestRepaint(window);
}

}  // namespace

void TXLAWindow::CmShowResiduals() {
  PlotWindowSet& w = CurrentPlotWindows();
  ToggleShownPlot(*this, w.showResiduals, w.showData, cmd::ShowResiduals, PlaceResidualPlotWindow, PlaceDataPlotWindow);
}

void TXLAWindow::CmShowData() {
  PlotWindowSet& w = CurrentPlotWindows();
  ToggleShownPlot(*this, w.showData, w.showResiduals, cmd::ShowData, PlaceDataPlotWindow, PlaceResidualPlotWindow);
}

void TXLAWindow::CmDataMarkSize() {
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (CurrentScanSet().count <= 0 || !plot) return;
  DataMarkState& marks = DataMarks();
  float v = 0;
  if (!InputFloatEx(nullptr, &v, static_cast<float>(marks.markSize), true,
                    "enter data mark size (-1 for lines):", "enter float"))
    return;
  if (v >= 0 && v <= kLargestMarkSize) {
    marks.markSize = static_cast<int>(std::floor(v));
    plot->symbolSize = static_cast<int>(std::floor(1.5 * marks.markSize));
    if (marks.dataDrawnAsLines) {
      SetDataCurveStyles(*plot, kMarkStyle);
      marks.dataDrawnAsLines = 0;
    }
  } else if (v == -1.0f) {
    SetDataCurveStyles(*plot, kLineStyle);
    marks.dataDrawnAsLines = 1;
  } else if (v == -2.0f || v == -3.0f) {
    SetDataCurveStyles(*plot, v == -2.0f ? 22 : 23);
    marks.dataDrawnAsLines = 0;
  }
  RedrawDataPlot(false);
  RedrawPlots(*this);
}

void TXLAWindow::CmToggleDisplayFlag210() {
  std::uint8_t& on = WindowFlags().ScanNameHoverOn;
  on = on ? 0 : 1;
  CheckMenuItem(210, on != 0);
  RequestRepaint(*this);
}
