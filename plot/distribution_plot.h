#pragma once
// The distribution plot of the main window: the graph that the continuous
// distributions describe (DistributionPlotSpec) drawn with CWINPlot below
// the data and residual plots. Installed as the distributions' plot host,
// it also moves the data and residual plots up when a distribution is shown
// (the four layout values of PlotWindowSet) and back when it goes.
//
// Painting replays GetDistributionPlotMetafile(), or asks for a fresh
// picture with RedrawDistributionPlot() of the distributions, which rescales
// and records again through this host.
#include "distributions/distribution_arrays.h"
#include "platform/metafile.h"

#include <memory>

class CCurve;
class CProgressLine;
class CWINPlot;

class CDistributionPlot : public DistributionPlotHost {
 public:
  CDistributionPlot() = default;
  ~CDistributionPlot() override;
  CDistributionPlot(const CDistributionPlot&) = delete;
  CDistributionPlot& operator=(const CDistributionPlot&) = delete;

  void Build(const DistributionPlotSpec& spec) override;
  void Destroy() override;
  // Rescales (a fixed f/f0 range stays), records and returns the picture.
  long Redraw() override;
  // layout = data top, data bottom, residual top, area bottom (layout units).
  void SetLayout(const int layout[4]) override;
  void RelayoutAndRedrawPlots() override;
  bool DataPlotExists() const override;
  void CreateIntegrateButton() override;
  void DeleteIntegrateButton() override;
  void RequestRepaint() override;
  void DrawText(int x, int y, const std::string& text) override;
  void ShowProgressLine(int penColour, int x, int y) override;
  void DrawProgressLine(float fraction) override;
  void EraseProgressLine() override;

  CWINPlot* Plot() const { return plot_; }

  // The Monte-Carlo confidence limits over the distribution: upper red,
  // lower blue, after the curves of the plot. Removal takes them off only
  // from the plot they were added to.
  void AddLimitCurves(CCurve* upper, CCurve* lower);
  void RemoveLimitCurves();

 private:
  CWINPlot* plot_ = nullptr;
  bool fixedY_ = false;
  float yMin_ = 0, yMax_ = 0;
  CWINPlot* limitPlot_ = nullptr;
  CCurve* limitCurves_[2] = {};
  std::unique_ptr<CProgressLine> progress_;
};

// The program's one distribution plot.
CDistributionPlot& DistributionPlotWindow();
// Makes it the distributions' plot host and the display of the Monte-Carlo
// limits (the window's start-up and the unattended run call it; a second
// call changes nothing).
void InstallDistributionPlot();
// The last recorded picture; 0 while there is no distribution plot.
platform::HMETAFILE GetDistributionPlotMetafile();
