#include "app/distribution_plot_host.h"

#include <memory>

#include "app/txla_window.h"
#include "app/window_fit_host.h"
#include "app/window_services.h"
#include "distributions/distribution_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

class WindowDistributionPlot : public DistributionPlotHost {
 public:
  explicit WindowDistributionPlot(TXLAWindow& window) : window_(window) {}

  void Build(const DistributionPlotSpec& spec) override {
    plot_ = std::make_unique<CWINPlot>();
    spec_ = spec;
    for (int k = 0; k < spec.curveCount; ++k) {
      if (!spec.curves[k]) continue;
      plot_->AddCurve(spec.curves[k]);
      const int i = plot_->curveCount - 1;
      plot_->SetCurveColor(i, spec.colours[k]);
      plot_->SetCurveStyle(i, -1);
    }
    if (spec.map2D && spec.mapCurve) {
      plot_->AddCurve(spec.mapCurve);
      plot_->SetCurveStyle(plot_->curveCount - 1, spec.curveStyle);
    }
    plot_->SetXLabel(spec.xTitle.c_str());
    plot_->SetYLabel(spec.yTitle.c_str());
    if (!spec.annotation1.empty()) plot_->SetAnnotation1(spec.annotation1.c_str());
    if (!spec.annotation2.empty()) plot_->SetAnnotation2(spec.annotation2.c_str());
    // The description gives the rectangle as top row, left, bottom row and
    // right in the window's layout units.
    plot_->SetPlotRect(spec.left, spec.top, spec.right, spec.bottom);
  }

  void Destroy() override { plot_.reset(); }

  long Redraw() override {
    if (!plot_ || plot_->curveCount == 0) return 0;
    plot_->AutoScale();
    if (spec_.fixedYRange) plot_->SetYScale(spec_.yMin, spec_.yMax);
    if (spec_.yFromZero && plot_->yMin > 0) plot_->SetYScale(0, plot_->yMax);
    plot_->Plot();
    return static_cast<long>(plot_->lastMetafile);
  }

  void SetLayout(const int layout[4]) override {
    PlotWindowSet& w = CurrentPlotWindows();
    w.dataTop = layout[0];
    w.dataBottom = layout[1];
    w.residualTop = layout[2];
    w.areaBottom = layout[3];
  }
  void RelayoutAndRedrawPlots() override { ::RelayoutAndRedrawPlots(); }
  bool DataPlotExists() const override { return CurrentPlotWindows().dataPlot != nullptr; }
  void RequestRepaint() override { ::RequestRepaint(window_); }
  void DrawText(int x, int y, const std::string& text) override {
    if (WindowFitHost* host = MainFitHost()) host->DrawText(x, y, text);
  }

 private:
  TXLAWindow& window_;
  std::unique_ptr<CWINPlot> plot_;
  DistributionPlotSpec spec_;
};

std::unique_ptr<WindowDistributionPlot>& Host() {
  static std::unique_ptr<WindowDistributionPlot> host;
  return host;
}

}  // namespace

void ConnectDistributionPlot(TXLAWindow& window) {
  if (GetDistributionPlotHost() && GetDistributionPlotHost() != Host().get()) return;
  Host() = std::make_unique<WindowDistributionPlot>(window);
  SetDistributionPlotHost(Host().get());
}

void DisconnectDistributionPlot() {
  if (GetDistributionPlotHost() == Host().get()) SetDistributionPlotHost(nullptr);
  Host().reset();
}
