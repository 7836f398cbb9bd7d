#pragma once
// What the fit engine needs from the layers above it: the model evaluation,
// the radial grid of the Lamm solution, the saved best parameters, repaints,
// drawing into the main window and the diagnostics log. The main window
// implements it; tests implement it with analytic models. A null host stands
// for "no main window": the fit drivers then refuse, and the minimisers skip
// their display of the best vertex.
#include <string>
#include <vector>

#include "lamm/lamm_run_state.h"
#include "platform/fit_progress.h"
#include "platform/user_interface.h"

struct FitReportInputs;

class FitHost : public LammProgressWindow {
 public:
  virtual ~FitHost() = default;

  // Evaluates the selected model with the current parameters over all scans
  // and fills the model arrays of the scan set.
  virtual void SimulateModel() = 0;

  // The radial grid of the Lamm solution: rebuilt between meniscus and
  // bottom, and the number of grid points the solvers use (by default the
  // grid size in use of the Lamm-equation settings).
  virtual void MakeRadialGrid();
  virtual int LammGridSize() const;
  virtual void SetLammGridSize(int n);

  // Plot windows exist (a fit refuses to start without them).
  virtual bool HasPlotWindows() const { return true; }
  // Main window drawing switch: progress lines and the fit report are drawn.
  virtual bool DrawingEnabled() const { return true; }
  // The fit report's lines (line k at y = 10 + 20 (k - 1), index 0 unused)
  // are about to be drawn: the window may choose the column where they
  // stand clear of the data.
  virtual void PlaceReport(const std::vector<std::string>& lines) { (void)lines; }
  // Text straight into the main window's client area at pixel (x, y).
  void DrawText(int x, int y, const std::string& text) override {
    (void)x;
    (void)y;
    (void)text;
  }
  // Fills the report inputs that live above the fit engine (continuous
  // distributions, extended models, fluorescence corrections, residual
  // statistics); called at the start of every composition.
  virtual void FillFitReportInputs(FitReportInputs& inputs) { (void)inputs; }
  // Redraws data, residual and bitmap plots during a fit (throttled).
  virtual void RedrawFitProgress() { platform::RequestFitProgressRedraw(); }
  // Redraws the fitted curves and residuals when a fit ends.
  virtual void DrawFitCurves() {}
  virtual void RequestRepaint() {}

  // Saves the current parameter set as the best so far (flag 1 from the
  // minimisers' best-vertex display, 0 from the drivers).
  virtual void TmpSaveBestParams(int flag) { (void)flag; }

  // The continuous-distribution display of the best vertex.
  virtual void ShowBestContiVertex(float* vertex) { (void)vertex; }

  // Re-validates the fit limits after they were moved (the data layer's
  // checks by default).
  virtual void CheckLeftFitLimit();
  virtual void CheckRightFitLimit();
  // Interrupts the real-time data watch when the user stopped a fit.
  virtual void RaiseRealtimeInterrupt() {}

  // Marquardt-Levenberg progress indicator at (10, 10): shown, drawn at a
  // fraction in [0, 1], erased.
  virtual void ShowFitProgressIndicator() {}
  virtual void DrawFitProgressIndicator(double fraction) { (void)fraction; }
  virtual void EraseFitProgressIndicator() {}

  // Message box with an OK button; caption may be empty.
  virtual void MessageBox(const std::string& caption, const std::string& text,
                          platform::BoxIcon icon = platform::BoxIcon::Information);
  virtual void ErrorBox(const std::string& text);
  virtual void PlaySoundError();
  virtual void PlaySoundInfo();
  // Yes/No box: true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text);
  // One number, repeated until it parses; false on Cancel.
  virtual bool InputFloat(float* value, float current, const std::string& prompt, const std::string& title);
  // Runs the Lamm-equation parameter dialog (Options menu).
  virtual void OpenLammEquationParameters() {}

  virtual void WriteDiagnostics(const std::string& text) { (void)text; }

  // Path of the Marquardt-Levenberg parameter listing.
  virtual std::string MarquardtListingPath() const { return std::string(); }
};
