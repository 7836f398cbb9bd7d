#pragma once
// The main window as the fit engine and the model evaluation see it: model
// evaluation, drawing text and progress into the client area, repaints and
// the plot redraws during a fit.
#include <memory>

#include "fit/fit_host.h"

class CProgressLine;
class TXLAWindow;

class WindowFitHost : public FitHost {
 public:
  explicit WindowFitHost(TXLAWindow& window);
  ~WindowFitHost() override;
  void SimulateModel() override;
  bool HasPlotWindows() const override;
  bool DrawingEnabled() const override;
  void DrawText(int x, int y, const std::string& text) override;
  // The box that says how a fit ended is kept while a DeferredFitEndBox
  // lives; every other box is shown at once.
  void MessageBox(const std::string& caption, const std::string& text,
                  platform::BoxIcon icon = platform::BoxIcon::Information) override;
  // In the rows of the data plot where the report covers the fewest scans.
  // A line longer than the window is wide goes on in the rows below it, and
  // the lines after it move down as far.
  void PlaceReport(const std::vector<std::string>& lines) override;
  // The window's diagnostics log.
  void WriteDiagnostics(const std::string& text) override;
  // During a fit: the plots chosen for updates, at most once per interval.
  void RedrawFitProgress() override;
  // At the end of a fit: data, residuals and markers at once.
  void DrawFitCurves() override;
  void RequestRepaint() override;
  void ShowBestContiVertex(float* vertex) override;
  void FillFitReportInputs(FitReportInputs& inputs) override;
  // The analysis saved next to the data ("~tmppars"), during and after fits.
  void TmpSaveBestParams(int flag) override;
  // The Marquardt-Levenberg progress line at (10, 10) of the client area.
  void ShowFitProgressIndicator() override;
  void DrawFitProgressIndicator(double fraction) override;
  void EraseFitProgressIndicator() override;
  std::string MarquardtListingPath() const override;
  // The Lamm-equation parameter dialog of the Options menu.
  void OpenLammEquationParameters() override;

 private:
  TXLAWindow& window_;
  std::unique_ptr<CProgressLine> mlProgress_;
  // The report last placed: its line k (index k) as composed, and the rows
  // it stands in within the window, from row k - 1 of the report on.
  struct PlacedLine {
    std::string text;
    int row = 0;
    std::vector<std::string> pieces;
  };
  std::vector<PlacedLine> placed_;
};

// A line of progress or report at (x, y) of the window, in the report's font,
// rows and column, over whatever line stood at that place before. Every routine
// that writes progress into the window comes here, so that a later line at
// one place replaces the earlier one. flush: show it at once.
void DrawProgressText(TXLAWindow& window, int x, int y, const std::string& text, bool flush = true);

// The runs-test Z and the histogram measure H of the residuals of the
// scans that the rmsd takes in (0 without a model), for the fit report.
void FillResidualTests(FitReportInputs& inputs);
