#pragma once
// What the load, model, Run, Fit, save and paint commands of the main
// window call in subsystems that come in separately: the distribution
// runner and fitter, the equilibrium runners, the boundary transforms, the
// plots of the main window and a few loaders. The window connects every
// member at start-up (the wiring test names any it leaves empty); a display
// call whose member is empty draws nothing.
#include <functional>
#include <string>

#include "platform/draw_context.h"
#include "platform/metafile.h"

class CWINPlot;

struct RoadServices {
  // Runners of Run, by model family.
  std::function<void()> runContiSed;          // c(s) family and ls-g*(s)
  std::function<void()> runContiSedAndShow;   // DLS I(Rh,t) time course
  std::function<void()> runEquilibrium;
  std::function<void()> runEqTest;
  std::function<void()> runLsgs;              // ls-g*(s) area-fraction extrapolation
  std::function<void()> runVanHoldeWeischet;
  // Fitters of Fit.
  std::function<void()> contiFit;
  std::function<void()> fitEquilibrium;

  std::function<void()> freeDistributionArrays;
  std::function<void()> makeDistributionPlot;
  std::function<void()> freeLammArrays;
  std::function<void()> allocLammArrays;
  std::function<bool()> lammArraysAllocated;
  // Area of the distribution inside [s1, s2]; also gives the total area.
  std::function<double(double s1, double s2, double* total)> integrateDistribution;

  // Loaders that are not scan loaders.
  std::function<bool(const std::string& path)> loadXpFile;
  std::function<bool(const std::string& selection)> loadDlsData;
  std::function<void(const std::string& path)> reloadParameters;

  // Reads (s, M) pairs and fits the s(M) power law; false on failure.
  std::function<bool()> calibrateCMPowerLaw;

  // Writes the parameter listing of the discrete model next to the fit data.
  std::function<void(const std::string& path)> saveParametersToFile;
  // "Update Saved Fit Parameters" before the fit data are saved.
  std::function<void()> updateSavedFitParameters;

  // Plots of the main window (null while they do not exist).
  std::function<CWINPlot*()> dataPlot;
  std::function<CWINPlot*()> residualPlot;
  std::function<CWINPlot*()> residualBitmapPlot;
  // The distribution plot's picture, recorded anew; 0 when none.
  std::function<platform::HMETAFILE()> redrawDistributionPlot;
  std::function<bool()> showData;       // the "Show Data" switch
  std::function<bool()> showResiduals;  // the "Show Residuals" switch
  std::function<bool()> showModelCurves;
  std::function<bool()> showResidualsBitmap;
  std::function<void(bool rescale)> updateResidualsPlot;
  // Draws the residual bitmap into the window's client area.
  std::function<void()> drawResidualsBitmap;
  // Colour of scan i (1-based, by time order) in the data plot.
  std::function<platform::COLORREF(int i)> scanColor;
  // Replays the on-plot buttons over the painted plots.
  std::function<void()> paintScreenButtons;
  // The ad-hoc plots and M* screen take over the window while shown.
  std::function<bool()> otherScreenShown;
  std::function<void()> paintOtherScreen;
  // The M* analysis screen: its four plots instead of the data, residual
  // and distribution plots.
  std::function<bool()> mStarScreenShown;
  std::function<void()> paintMStarScreen;
  // The plot of s against 1/sqrt(t) of the boundary analyses while it is
  // shown (null otherwise); painted over the data plot.
  std::function<CWINPlot*()> extrapolationPlot;
  // The test of approach to equilibrium's third plot while it exists.
  std::function<CWINPlot*()> eqTestPlot;
  // What the commands draw over the painted data plot: the radius markers
  // (on a context in pixels; the meniscus and bottom ranges of a fit only
  // when fitRanges) and the nonideal c(s) total-concentration movie (on the
  // mapped context).
  std::function<void(platform::DrawContext& dc, bool fitRanges)> drawDataScreenMarkers;
  std::function<void(CWINPlot* dataPlot, platform::DrawContext& dc)> drawDataPlotMovie;
};

RoadServices& Road();
