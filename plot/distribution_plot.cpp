#include "plot/distribution_plot.h"
#include "plot/text_in_place.h"

#include "distributions/conti_settings.h"
#include "distributions/monte_carlo.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/progress_line.h"

CDistributionPlot::~CDistributionPlot() { Destroy(); }

void CDistributionPlot::Build(const DistributionPlotSpec& spec) {
  Destroy();
  plot_ = new CWINPlot();
  // The description keeps its four numbers in the order of the rectangle
  // call (top, left, bottom, right): rows 630-950 below the residuals, the
  // full width of the data plot.
  plot_->SetPlotRect(spec.left, spec.top, spec.right, spec.bottom);
  plot_->logX = spec.logX ? 1 : 0;
  for (int i = 0; i < spec.curveCount && i < 2; ++i) {
    if (!spec.curves[i]) continue;
    plot_->AddCurve(spec.curves[i]);
    plot_->SetCurveColor(plot_->curveCount - 1, spec.colours[i]);
  }
  if (spec.firstCurveStyle != 0 && plot_->curveCount > 0) {
    plot_->SetCurveStyle(0, spec.firstCurveStyle);
    if (spec.firstCurveSymbolSize > 0) plot_->symbolSize = spec.firstCurveSymbolSize;
  }
  for (CCurve* c : spec.extraCurves) {
    if (!c) continue;
    plot_->AddCurve(c);
    plot_->SetCurveColor(plot_->curveCount - 1, 0);
  }
  if (spec.map2D && spec.mapCurve) {
    plot_->AddCurve(spec.mapCurve);
    const int map = plot_->curveCount - 1;
    plot_->SetCurveStyle(map, spec.curveStyle);
    // The amplitudes colour the cells of the map.
    if (spec.mapZ && spec.mapCount > 0)
      plot_->SetExtraData(map, const_cast<float*>(spec.mapZ), 0, spec.mapCount - 1, 0);
    if (spec.curveStyle == 11) {
      // One cell per grid point: half a step in f/f0 high, half a step in s wide.
      plot_->symbolSize = spec.cellWidth;
      plot_->symbolHalfWidth = spec.cellHeight;
    } else {
      plot_->symbolSize = spec.symbolSize;
    }
  }
  if (!spec.xTitle.empty()) plot_->SetXLabel(spec.xTitle.c_str());
  if (!spec.yTitle.empty()) plot_->SetYLabel(spec.yTitle.c_str());
  if (!spec.annotation1.empty()) plot_->SetAnnotation1(spec.annotation1.c_str());
  if (!spec.annotation2.empty()) plot_->SetAnnotation2(spec.annotation2.c_str());
  plot_->ShowYAxisTitle();
  if (spec.yFromZero) plot_->yIncludesZero = 1;
  plot_->ToggleDisplayOption();
  fixedY_ = spec.fixedYRange;
  yMin_ = spec.yMin;
  yMax_ = spec.yMax;
  plot_->AutoScale();
  if (fixedY_) plot_->SetYScale(yMin_, yMax_);
  Conti().distributionPlot = plot_;
}

void CDistributionPlot::Destroy() {
  if (Conti().distributionPlot == plot_) Conti().distributionPlot = nullptr;
  delete plot_;
  plot_ = nullptr;
  limitPlot_ = nullptr;
  fixedY_ = false;
}

void CDistributionPlot::AddLimitCurves(CCurve* upper, CCurve* lower) {
  if (!plot_ || !upper || !lower) return;
  plot_->AddCurve(upper);
  plot_->SetCurveColor(plot_->curveCount - 1, 0x0000ff);
  plot_->AddCurve(lower);
  plot_->SetCurveColor(plot_->curveCount - 1, 0xff0000);
  limitPlot_ = plot_;
  limitCurves_[0] = upper;
  limitCurves_[1] = lower;
}

void CDistributionPlot::RemoveLimitCurves() {
  // A plot built since has its own curves: none of them is a limit.
  if (plot_ && plot_ == limitPlot_) {
    for (int i = 1; i >= 0; --i)
      if (plot_->curveCount > 1 && plot_->curves[plot_->curveCount - 1] == limitCurves_[i])
        plot_->RemoveLastCurve();
  }
  limitPlot_ = nullptr;
  limitCurves_[0] = limitCurves_[1] = nullptr;
}

long CDistributionPlot::Redraw() {
  if (!plot_ || plot_->curveCount == 0) return 0;
  plot_->yRangeFixed = 0;
  plot_->Rescale();
  if (fixedY_) plot_->SetYScale(yMin_, yMax_);
  // Values like 5e-05 (a c(M) per dalton) are wider than the room beside
  // the right frame.
  plot_->KeepRightLabelsInside();
  plot_->Plot();
  return static_cast<long>(plot_->lastMetafile);
}

void CDistributionPlot::SetLayout(const int layout[4]) {
  PlotWindowSet& w = CurrentPlotWindows();
  w.dataTop = layout[0];
  w.dataBottom = layout[1];
  w.residualTop = layout[2];
  w.areaBottom = layout[3];
}

void CDistributionPlot::RelayoutAndRedrawPlots() {
  ::RelayoutAndRedrawPlots();
  UpdateResidualsPlot(true);
  UpdateResidualHistogram();
  RedrawDataPlot(true);
}

bool CDistributionPlot::DataPlotExists() const {
  const PlotWindowSet& w = CurrentPlotWindows();
  return w.dataPlot != nullptr || w.residualPlot != nullptr;
}

void CDistributionPlot::CreateIntegrateButton() {
  if (PlotHooks().createIntegrateButton) PlotHooks().createIntegrateButton();
}

void CDistributionPlot::DeleteIntegrateButton() {
  if (PlotHooks().deleteIntegrateButton) PlotHooks().deleteIntegrateButton();
}

void CDistributionPlot::RequestRepaint() {
  if (PlotHooks().requestRepaint) PlotHooks().requestRepaint();
}

void CDistributionPlot::DrawText(int x, int y, const std::string& text) {
  const PlotWindowHooks& h = PlotHooks();
  if (!h.surface || (h.painted && !h.painted())) return;
  if (h.drawText) return h.drawText(x, y, text);
  platform::DrawSurface* surface = h.surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    DrawTextInPlace(*surface, *dc, x, y, text);
  }
  if (h.flush) h.flush();
}

namespace {

platform::DrawSurface* PaintedSurface() {
  const PlotWindowHooks& h = PlotHooks();
  if (!h.surface || (h.painted && !h.painted())) return nullptr;
  return h.surface();
}

}  // namespace

void CDistributionPlot::ShowProgressLine(int penColour, int x, int y) {
  platform::DrawSurface* surface = PaintedSurface();
  if (!surface) return;
  if (progress_) progress_->Erase(*surface);
  progress_ = std::make_unique<CProgressLine>();
  if (penColour == 2)
    progress_->SetPenPurple();
  else
    progress_->SetPenBlue();
  progress_->Show(*surface, x, y);
  if (PlotHooks().flush) PlotHooks().flush();
}

void CDistributionPlot::DrawProgressLine(float fraction) {
  platform::DrawSurface* surface = PaintedSurface();
  if (!progress_ || !surface) return;
  progress_->Draw(fraction, *surface);
  if (PlotHooks().flush) PlotHooks().flush();
}

void CDistributionPlot::EraseProgressLine() {
  if (!progress_) return;
  if (platform::DrawSurface* surface = PaintedSurface()) {
    progress_->Erase(*surface);
    if (PlotHooks().flush) PlotHooks().flush();
  }
  progress_.reset();
}

CDistributionPlot& DistributionPlotWindow() {
  // Never destroyed: the graph's picture and the records it touches may be
  // gone before a static of this file would be.
  static CDistributionPlot* plot = new CDistributionPlot();
  return *plot;
}

void InstallDistributionPlot() {
  SetDistributionPlotHost(&DistributionPlotWindow());
  MonteCarloDisplayHooks& mc = MonteCarloDisplay();
  mc.addLimitCurves = [](CCurve* upper, CCurve* lower) { DistributionPlotWindow().AddLimitCurves(upper, lower); };
  mc.removeLimitCurves = [] { DistributionPlotWindow().RemoveLimitCurves(); };
}

platform::HMETAFILE GetDistributionPlotMetafile() {
  const CWINPlot* plot = DistributionPlotWindow().Plot();
  return plot ? plot->lastMetafile : 0;
}
