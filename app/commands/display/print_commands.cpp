// Printing: the window paints itself onto one page of the printer.
#include "app/commands/display/print_commands.h"

#include <algorithm>
#include <cmath>

#include "app/commands/display/display_commands.h"
#include "app/window/main_window_flags.h"
#include "app/window/plot_replay.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "data/scan_set.h"
#include "fit/fit_report.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/frame_window.h"
#include "platform/metafile.h"
#include "platform/printer.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

void Replay(platform::DrawContext& dc, const CWINPlot* plot) {
  if (plot && plot->lastMetafile) platform::PlayMetaFile(dc, plot->lastMetafile);
}

// Solid black lines over the whole height of the data plot.
void DrawRadiusLines(platform::DrawContext& dc, const CWINPlot& plot) {
  const ScanSet& s = CurrentScanSet();
  for (const float x : {gModelParams.meniscus, gModelParams.bottom, s.leftFitLimit, s.rightFitLimit}) {
    if (x == 0) continue;
    const platform::HMETAFILE line = plot.RecordMarker(x, 0);
    if (!line) continue;
    platform::PlayMetaFile(dc, line);
    platform::DeleteMetaFile(line);
  }
}

void DrawShortFitReport(platform::DrawContext& dc) {
  PrintFitInfoLines lines;
  if (!ComposePrintFitInfoLines(MainFitHost(), lines)) return;
  int y = 100;
  for (const std::string& line : lines.line) {
    if (line.empty()) continue;
    dc.TextOut(300, y, line);
    y += 15;
  }
}

}  // namespace

bool& PrintingActive() {
  static bool active = false;
  return active;
}

PrintMapping MapClientOntoPage(int clientWidth, int clientHeight, int pageWidth, int pageHeight) {
  PrintMapping m;
  if (clientWidth <= 0 || clientHeight <= 0 || pageWidth <= 0 || pageHeight <= 0) return m;
  m.scale = std::min(static_cast<double>(pageWidth) / clientWidth, static_cast<double>(pageHeight) / clientHeight);
  m.width = static_cast<int>(std::lround(clientWidth * m.scale));
  m.height = static_cast<int>(std::lround(clientHeight * m.scale));
  return m;
}

void PaintForPrinter(TXLAWindow& window, platform::DrawContext& dc, int width, int height) {
  (void)window;
  PlotWindowSet& w = CurrentPlotWindows();
  CWINPlot* data = w.dataPlot;
  CWINPlot* residuals = w.residualPlot;
  const int saved = dc.SaveDC();
  if (w.showResiduals) {
    UpdateResidualsPlot(true);
    UpdateResidualBitmap(true);
  }
  {
    BlackScanCurves black;
    if (residuals) residuals->Plot();
    if (data) data->Plot();
  }
  SetCanvasMapping(dc, width, height);
  if (data && w.showData) {
    Replay(dc, data);
    // The model curves go on paper in black like the data.
    RoadServices& road = Road();
    const auto scanColour = road.scanColor;
    road.scanColor = [](int) { return platform::COLORREF{0}; };
    DrawDataPlotOverlays(dc);
    road.scanColor = scanColour;
  }
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const RoadServices& r = Road();
  if ((m.DistributionModel || m.SedTransformModel) && !RunState().KeepDistributionPlot && r.redrawDistributionPlot)
    if (const platform::HMETAFILE mf = r.redrawDistributionPlot()) platform::PlayMetaFile(dc, mf);
  if (residuals && w.showResiduals) Replay(dc, residuals);
  if (data) DrawRadiusLines(dc, *data);
  if (platform::UI().MessageBox("Printing", "print with last best-fit information?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) == platform::IDYES)
    DrawShortFitReport(dc);
  // The screen pictures get their colours back.
  if (data) data->Plot();
  if (residuals) residuals->Plot();
  dc.RestoreDC(saved);
}

void TXLAWindow::CmPrint() {
  platform::IPrinter& printer = platform::Printer();
  if (!printer.Available()) {
    platform::Tell("Printing", "no printer is available");
    return;
  }
  platform::PrintJob job;
  job.title = "Tarnel Printout";
  const int clientWidth = Frame().ClientWidth() > 0 ? Frame().ClientWidth() : WindowFlags().ClientWidth;
  const int clientHeight = Frame().ClientHeight() > 0 ? Frame().ClientHeight() : WindowFlags().ClientHeight;
  printer.Print(job, [this, clientWidth, clientHeight](platform::DrawContext& dc, int pageWidth, int pageHeight) {
    const PrintMapping map = MapClientOntoPage(clientWidth, clientHeight, pageWidth, pageHeight);
    PrintingActive() = true;
    PaintForPrinter(*this, dc, map.width, map.height);
    PrintingActive() = false;
  });
}

void TXLAWindow::CmPrinterSetup() {
  platform::IPrinter& printer = platform::Printer();
  if (printer.Available()) printer.Setup();
}
