// Painting the main window: the plots were recorded as pictures when they
// changed; a paint replays them in a fixed order and draws the radius
// markers and the on-plot buttons over them. The fit report of a finished
// Run or Fit is composed after the paint, when the picture is complete.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "fit/rmsd.h"
#include "plot/text_in_place.h"
#include "app/window/main_window_flags.h"
#include "app/window/plot_replay.h"
#include "app/window/program_options.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "data/fluorescence_corrections.h"
#include "data/realtime_update.h"
#include "data/scan_set.h"
#include "fit/fit_report.h"
#include "fit/model_selector.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "distributions/prior_knowledge.h"
#include "distributions/conti_settings.h"
#include "platform/draw_surface.h"
#include "platform/metafile.h"

namespace {

// A boundary transform chosen is computed by Run only: until then the
// screen would show nothing new and say nothing.
constexpr const char* kTransformAwaitsRun = "van Holde-Weischet transform chosen: Run (Ctrl+R) computes it";

const char* const kDisclaimer[] = {
    "THIS SOFTWARE IS PROVIDED \"AS IS\", WITH ALL FAULTS, AND WITHOUT ANY EXPRESS,",
    "IMPLIED OR STATUTORY WARRANTY OF ANY KIND, INCLUDING BUT NOT LIMITED TO",
    "WARRANTIES OF MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE.",
    "THERE IS NO WARRANTY THAT THE SOFTWARE MEETS THE NEEDS OF THE USER,",
    "THAT ITS RESULTS ARE CORRECT, OR THAT IT WILL RUN WITHOUT INTERRUPTION.",
    "THE USER BEARS THE WHOLE RISK OF ITS USE AND OF ANY CONCLUSION",
    "DRAWN FROM ITS RESULTS.",
    "USE IS AT YOUR OWN RISK."};

bool On(const std::function<bool()>& f) { return f && f(); }
CWINPlot* PlotOf(const std::function<CWINPlot*()>& f) { return f ? f() : nullptr; }

void DrawDisclaimer(platform::DrawContext& dc) {
  platform::FontSpec spec;
  spec.height = 12;
  spec.weight = 600;
  spec.charSet = platform::ANSI_CHARSET;
  spec.outPrecision = 7;
  spec.quality = platform::PROOF_QUALITY;
  spec.pitchAndFamily = platform::FF_ROMAN;
  const platform::HFONT font = platform::CreateFontIndirect(spec);
  const platform::HGDIOBJ oldFont = dc.SelectObject(font);
  const platform::COLORREF oldColour = dc.SetTextColor(0x646464);
  dc.TextOut(10, 55, "DISCLAIMER:");
  for (int i = 0; i < 8; ++i) dc.TextOut(10, 70 + 15 * i, kDisclaimer[i]);
  dc.SetTextColor(oldColour);
  dc.SelectObject(oldFont);
  platform::DeleteObject(font);
}

// The prior probabilities over the distribution, scaled to its largest
// shown value.
void DrawPriorOverDistribution(platform::DrawContext& dc) {
  const ContiSettings& cs = Conti();
  CWINPlot* plot = DistributionPlotWindow().Plot();
  const int n = cs.gridSize;
  // A boundary transform's "distribution" is no density of s: no prior over it.
  if (!plot || !Priors().use || gModelSelectorFlags.SedTransformModel || !cs.prior || !cs.sValues || n < 1)
    return;
  double top = cs.prior[1];
  for (int i = 2; i <= n; ++i) top = std::max(top, cs.prior[i]);
  if (!(top > 0)) return;
  std::vector<double> x(n + 1), y(n + 1);
  for (int i = 1; i <= n; ++i) {
    x[i] = cs.sValues[i];
    y[i] = cs.prior[i] * plot->yMax / top;
  }
  const platform::HMETAFILE mf = PlotDoubleArrays(plot, x.data(), y.data(), n, 0x006464FF, 14, plot->symbolSize);
  if (mf) {
    platform::PlayMetaFile(dc, mf);
    platform::DeleteMetaFile(mf);
  }
}

void Replay(platform::DrawContext& dc, const CWINPlot* plot) {
  if (plot && plot->lastMetafile) platform::PlayMetaFile(dc, plot->lastMetafile);
}

}  // namespace

bool TXLAWindow::CanPaint() const {
  return !(RunBusy || FitBusy || DialogOpen || WindowFlags().FileDialogOpen);
}

void TXLAWindow::Paint(bool erase) {
  MainWindowFlags& flags = WindowFlags();
  RoadServices& r = Road();
  platform::DrawSurface* surface = frame_->Surface();
  flags.WindowPainted = true;
  // The mouse handlers convert with the size of the last paint, whatever
  // it drew.
  const int width = frame_->ClientWidth(), height = frame_->ClientHeight();
  ClientWidthF = static_cast<float>(width);
  ClientHeightF = static_cast<float>(height);
  flags.ClientWidth = width;
  flags.ClientHeight = height;
  CWINPlot* dataPlot = PlotOf(r.dataPlot);
  CWINPlot* residualPlot = PlotOf(r.residualPlot);
  const bool anyPlot = dataPlot || residualPlot || On(r.otherScreenShown);
  const bool drawsNothing = RunBusy || FitBusy || DialogOpen || flags.FileDialogOpen || !anyPlot;
  if (flags.DisclaimerTextPending) {
    // The disclaimer belongs to the empty window. When this paint goes on to
    // draw a screen (data loaded before the window showed, as an unattended
    // run in the window does), the plots would cover all but the lines'
    // first letters, left standing beside them: it is not drawn then.
    const bool screenFollows = !drawsNothing && (erase || flags.EraseRepaintPending);
    if (surface && !screenFollows) {
      auto dc = surface->ClientDC();
      DrawDisclaimer(*dc);
    }
    flags.DisclaimerTextPending = false;
  }
  if (drawsNothing) return;
  if (!erase && !flags.EraseRepaintPending) {
    // Every screen paint works on a freshly erased window.
    flags.EraseRepaintPending = true;
    frame_->Invalidate(true);
    return;
  }
  flags.EraseRepaintPending = false;
  flags.SolverCurvesOverData = false;
  flags.UnderSolverCurves = platform::Bitmap();
  // The picture is drawn anew: the texts written over the old one went with it.
  ForgetTextsInPlace();
  // A report drawn on this picture finds its own place in it.
  ReportShift() = 0;
  // Whatever this painting draws replaces an ad-hoc picture on the screen.
  CurrentAdHocPlot().adHocShown = 0;

  if (On(r.otherScreenShown)) {
    if (r.paintOtherScreen) r.paintOtherScreen();
  } else if (On(r.mStarScreenShown)) {
    if (r.paintMStarScreen) r.paintMStarScreen();
  } else if (surface) {
    const ModelSelectorFlags& m = gModelSelectorFlags;
    const bool eqTest = EqTestModeOn();
    // The extrapolation plot of the boundary analyses takes the data plot's place.
    CWINPlot* extrapolation = PlotOf(r.extrapolationPlot);
    const bool showData = On(r.showData) && !extrapolation;
    // The transformed signals change with every fitted power: their
    // picture is recorded again rather than replayed stale.
    if (CurrentFdsSignalParams().useNonlinearDetection && dataPlot) RedrawDataPlot(true);
    {
      auto dc = surface->ClientDC();
      SetCanvasMapping(*dc, width, height);
      if (showData) Replay(*dc, dataPlot);
    }
    if (dataPlot && showData && !eqTest) {
      if (r.drawDataScreenMarkers) {
        auto dc = surface->ClientDC();
        r.drawDataScreenMarkers(*dc, true);
      }
      auto dc = surface->ClientDC();
      SetCanvasMapping(*dc, width, height);
      DrawDataPlotOverlays(*dc);
      if (r.drawDataPlotMovie) r.drawDataPlotMovie(dataPlot, *dc);
    }
    if (dataPlot && On(r.showResiduals)) {
      if (r.updateResidualsPlot && !eqTest) r.updateResidualsPlot(true);
      {
        auto dc = surface->ClientDC();
        SetCanvasMapping(*dc, width, height);
        Replay(*dc, PlotOf(r.residualPlot));
      }
      if (On(r.showResidualsBitmap) && !eqTest && r.drawResidualsBitmap) r.drawResidualsBitmap();
      if (Options().ShowResidualsHistogram && !eqTest) {
        // Binned from the residuals just drawn, not from those of the last
        // load or fit.
        UpdateResidualBitmap(true);
        auto dc = surface->ClientDC();
        SetCanvasMapping(*dc, width, height);
        Replay(*dc, PlotOf(r.residualBitmapPlot));
      }
    }
    if (!RunState().KeepDistributionPlot && (m.DistributionModel || m.SedTransformModel) &&
        r.redrawDistributionPlot && !eqTest) {
      auto dc = surface->ClientDC();
      SetCanvasMapping(*dc, width, height);
      const platform::HMETAFILE mf = r.redrawDistributionPlot();
      if (mf) platform::PlayMetaFile(*dc, mf);
      DrawPriorOverDistribution(*dc);
    }
    if (eqTest && r.eqTestPlot) {
      auto dc = surface->ClientDC();
      SetCanvasMapping(*dc, width, height);
      Replay(*dc, r.eqTestPlot());
    }
    if (extrapolation) {
      auto dc = surface->ClientDC();
      SetCanvasMapping(*dc, width, height);
      Replay(*dc, extrapolation);
    }
  }
  if (!On(r.otherScreenShown) && !On(r.mStarScreenShown) && r.paintScreenButtons) r.paintScreenButtons();
  const bool dataScreen = !On(r.otherScreenShown) && !On(r.mStarScreenShown) && !EqTestModeOn();
  // The status of the real-time update stands in the fit report's first two
  // rows, right of it, in the report's font: under the plots it covered the
  // lowest plot's axis labels.
  const RealtimeState& rt = CurrentRealtimeState();
  if (rt.running && dataScreen && surface) {
    auto dc = surface->ClientDC();
    DrawReportTextInPlace(*surface, *dc, 500, 30, rt.statusLine1);
    DrawReportTextInPlace(*surface, *dc, 500, 50, rt.statusLine2);
  }
  if (RunState().TransformAwaitsRun && gModelSelectorFlags.SedTransformModel && surface) {
    auto dc = surface->ClientDC();
    dc->TextOut(50, 30, kTransformAwaitsRun);
  }
  if (flags.TimeToEqSummaryPending && surface) {
    auto dc = surface->ClientDC();
    // The line ends with the file the speed steps went to: it breaks where
    // it would run past the window's right edge.
    const auto lines = WrapTextToWidth(flags.TimeToEqSummary, surface->ClientWidth() - 60,
                                       [&dc](std::string_view t) { return dc->MeasureText(t); });
    for (std::size_t k = 0; k < lines.size(); ++k) dc->TextOut(50, 10 + 18 * static_cast<int>(k), lines[k]);
    flags.TimeToEqSummaryPending = false;
  }
  UpdateFloToolsMenu(*this);
  if (surface) frame_->FlushCanvas();

  // The report goes on top of the finished picture; once composed it stays
  // with the data and the model it was made for.
  static ModelSelectorFlags reportedModel;
  if (flags.FitInfoPending && !EqTestModeOn()) {
    flags.FitInfoPending = false;
    CalcRmsd();
    ComposeFitInfoText(MainFitHost());
    flags.FitInfoShown = true;
    reportedModel = gModelSelectorFlags;
  } else if (flags.FitInfoShown && dataScreen) {
    if (std::memcmp(&reportedModel, &gModelSelectorFlags, sizeof reportedModel) == 0)
      DrawFitInfoLines(MainFitHost(), LastFitInfoLines());
    else
      flags.FitInfoShown = false;
  }
}
