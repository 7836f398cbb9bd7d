#pragma once
// The main window as the fit engine and the model evaluation see it: model
// evaluation, drawing text and progress into the client area, repaints and
// the plot redraws during a fit.
#include "fit/fit_host.h"

class TXLAWindow;

class WindowFitHost : public FitHost {
 public:
  explicit WindowFitHost(TXLAWindow& window) : window_(window) {}
  void SimulateModel() override;
  bool HasPlotWindows() const override;
  bool DrawingEnabled() const override;
  void DrawText(int x, int y, const std::string& text) override;
  void RedrawFitProgress() override;
  void DrawFitCurves() override;
  void RequestRepaint() override;
  void ShowBestContiVertex(float* vertex) override;
  void FillFitReportInputs(FitReportInputs& inputs) override;
  // The analysis saved next to the data ("~tmppars"), during and after fits.
  void TmpSaveBestParams(int flag) override;

 private:
  TXLAWindow& window_;
};

// The host of the window that is connected to the subsystems (null without one).
WindowFitHost* MainFitHost();
void SetMainFitHost(WindowFitHost* host);
