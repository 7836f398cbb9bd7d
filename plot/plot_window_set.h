#pragma once
// The plots of the main window: the data plot (scans and model), the
// residual plot below it and the residual histogram beside it. This record
// owns the three plot objects and the histogram's arrays, lays the plots out
// in the 0..1000 layout space of the client area, builds their curves from
// the scan set, keeps the residuals current, redraws during fits and writes
// the per-scan rmsd table. Painting only replays the recorded pictures.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/draw_context.h"
#include "platform/draw_surface.h"
#include "platform/metafile.h"

class CWINPlot;
class CCurve;
class CVector;

struct PlotWindowSet {
  // Histogram of the residuals: curve 1 the counts, curve 2 the Gaussian.
  CCurve* histogramCurves[3] = {};
  CVector* histogramXViews[3] = {};
  CVector* histogramYViews[3] = {};
  float* binArrays[4] = {};    // 1: lower edges, 2: centres, 3: upper edges ([1..binCount])
  float* countArrays[3] = {};  // 1: counts, 2: scaled Gaussian
  int binCount = 0;

  CWINPlot* dataPlot = nullptr;
  CWINPlot* residualPlot = nullptr;
  // Set while another screen's plot stands in the data plot's place (the M*
  // analysis): called once, before anything replaces or deletes the data
  // plot, to give the data plot back.
  std::function<void()> endDataPlotLoan;
  CWINPlot* histogramPlot = nullptr;

  std::uint8_t showResiduals = 1;
  std::uint8_t showData = 1;
  // Layout units (0..1000 of the client area); x is stretched by 1.4 later.
  int layoutRight = 975;
  int layoutLeft = 75;
  int dataTop = 50;
  int dataBottom = 475;
  int residualTop = 550;
  int areaBottom = 950;
  int histogramWidth = 200;

  std::uint8_t updateBitmapDuringFit = 0;
  std::uint8_t updateResidualsDuringFit = 0;
  std::uint8_t updateDataDuringFit = 0;
  std::uint8_t updateDistributionDuringFit = 0;

  std::uint8_t showBitmap = 1;
  std::uint8_t showHistogram = 1;
  float bitmapFullScale = 0.05f;  // residual shown at full brightness; 0 = from the residual plot
  std::uint8_t bitmapBlackWhite = 1;
  std::uint8_t bitmapContinuous = 1;
  std::uint8_t bitmapHighlightExtremes = 1;

  int worstScan = 0;
  std::uint8_t scanRmsEnabled = 1;
  std::string scanRmsPath = "ScanRms.dat";

  float fitRedrawInterval = 1.0f;  // s
  std::uint8_t fitRedrawStarted = 0;
  std::uint32_t lastFitRedraw = 0;  // ms tick count

  std::uint8_t colorByTime = 1;
  float rampRed = 0, rampGreen = 0, rampBlue = 0;
};

PlotWindowSet& CurrentPlotWindows();

// What the plots need of the main window. Every member may be empty: the
// call then does nothing (no window exists, as in an unattended run).
struct PlotWindowHooks {
  // The client area for direct drawing (bitmap strip, progress lines).
  std::function<platform::DrawSurface*()> surface;
  // Shows what was drawn straight into the client area.
  std::function<void()> flush;
  // The window has been painted once (direct drawing waits for it).
  std::function<bool()> painted;
  // A line of progress at (x, y), over the line that stood at that place
  // (the window writes all its progress lines in one font and column).
  std::function<void(int x, int y, const std::string& text)> drawText;
  std::function<void()> requestRepaint;          // unless a serial fit runs
  std::function<void(bool erase)> invalidate;    // the whole client area
  std::function<void(int id, bool checked)> checkMenuItem;
  // The window's replays used by the redraw during fits.
  std::function<void()> paintDataPlot;
  std::function<void()> paintResidualPlots;
  std::function<void()> paintDistributionPlot;
  // The on-plot "integrate" button that lives with the distribution plot.
  std::function<void()> createIntegrateButton;
  std::function<void()> deleteIntegrateButton;
  // Loaded DLS data hold the field autocorrelation g(1) (else g(2)-1).
  std::function<bool()> dlsFieldAutocorrelation;
};
PlotWindowHooks& PlotHooks();

void SetPlotAxisTitles();
void LayoutPlotWindows();
void RelayoutAndRedrawPlots();
void PlaceDataPlotWindow();
void PlaceResidualPlotWindow();
void RedrawDataPlot(bool rescale);
void UpdateResidualsPlot(bool rescale);
void UpdateResidualHistogram();
void FillResidualHistogram();
void BuildPlotCurves();
void CreatePlotCurveObjects();
void DeletePlotCurveObjects();
// Deletes the three plots (their curves view scan arrays about to be freed).
void DeletePlotWindows();

platform::HMETAFILE GetDataPlotMetafile();
platform::HMETAFILE GetResidualPlotMetafile();
platform::HMETAFILE GetResidualHistogramMetafile();
// Names under which other parts of the program know the histogram.
inline void UpdateResidualBitmap(bool /*rescale*/) { UpdateResidualHistogram(); }
inline platform::HMETAFILE GetResidualBitmapMetafile() { return GetResidualHistogramMetafile(); }
// Replays a plot picture stretched over the whole client area (the plots'
// 1399 x 1000 space onto the client rectangle).
bool ReplayPlotPicture(platform::DrawSurface& window, platform::HMETAFILE picture);
// The same for a plot drawn over whatever stood at its place: the band of
// the window from above its frame to below its x label is wiped first
// (another plot's numbers and labels there would show through).
bool ReplayPlotPictureOnWhite(platform::DrawSurface& window, const CWINPlot& plot);

// The per-scan rmsd file: "name \trmsd" per scan in time order. False (told
// in a box, and the file switched off) when it cannot be opened or written
// whole.
void WriteScanRmsFile();
// Where WriteScanRmsFile writes: scanRmsPath, in the data folder when it
// is a bare name.
std::string ScanRmsFilePath();
bool WriteScanRmsToFile(const std::string& path);

// Ramp black - blue - cyan - green - yellow - red - dark red over i/n.
platform::COLORREF ColorForFraction(int i, int n);
// Colour of the i-th scan in time order (1-based).
platform::COLORREF ScanColor(int i);
