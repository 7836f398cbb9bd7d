#pragma once
// What loading and the raw-data workers need from the layers above them.
//
// Loading sits below the models, the plots and the main window, yet it has
// to fill in meniscus and bottom, set the temperature of the solution, run
// a model after a restore and ask for a repaint. It does so through two
// records that the application wires at start-up:
// - LoadTargets: pointers to the few fields of upper-layer records that the
//   loaders read or write (model parameters, solution conditions, solver
//   settings, main-window switches). Until wired they point at private
//   defaults, so loading works on its own.
// - LoadHooks: calls into subsystems above (running the model, restoring an
//   analysis, redrawing). Each does nothing (or the neutral answer) until
//   set; the few whose work is plain data handling have a working default.
#include <cstdint>
#include <functional>
#include <string>

struct LoadTargets {
  // Model parameters.
  float* meniscus;           // cm, 0 = not set
  float* bottom;             // cm, 0 = not set
  float* meniscusParameter;  // P[13] of the fit vector
  float* bottomParameter;    // P[14]
  float* baseline;           // fitted constant baseline; floor of the extrapolations
  std::uint8_t* fittedBaseline;        // the baseline is a fitted quantity
  std::uint8_t* meniscusWarningGiven;  // warning about a locally varied meniscus given
  std::uint8_t* riNoiseFitted;
  std::uint8_t* loadModelSwitch;       // set to 1 at every load
  std::uint8_t* meniscusBottomLimitsFixed;  // the user fixed the fit ranges of meniscus/bottom
  std::uint8_t* speciesArrays[5];      // slots 1..4 ask for the extra scan arrays
  float* smaxParameter;                // P[n+1], smax of the c(s) grid
  // Fit switches of meniscus, bottom and baseline: the model's own and the
  // fit vector's flags F[13], F[14], F[15].
  int* meniscusFit;
  int* bottomFit;
  int* baselineFit;
  int* meniscusFitFlag;
  int* bottomFitFlag;
  int* baselineFitFlag;
  // Solution conditions.
  float* temperature;  // K
  float* RT;           // erg/mol
  float* viscosity;    // solvent viscosity relative to water at 20 degC
  // Fit engine and model selection.
  std::uint8_t* tiNoiseFitted;
  std::uint8_t* equilibriumModelMode;
  std::uint8_t* fitStopFlag;
  // Lamm-equation solver settings.
  std::uint8_t* timesFromW2t;
  std::uint8_t* timesFromW2tPending;
  std::uint8_t* experimentalInitialDistribution;
  std::uint8_t* initialDistributionCompanion;
  std::uint8_t* scanTimeCorrection;
  // Continuous distributions.
  std::uint8_t* contiModelSelected;
  std::uint8_t* contiSecondModule;  // a second distribution module is active
  int* contiGridSize;
  float* contiSmax;
  // Main window.
  std::uint8_t* hiddenDisplayFlag;
  std::uint8_t* multiSpeedRawDataMode;
  std::uint8_t* useOtherFolder;   // "could not find files in %s - use file from %s ?" answered Yes
  std::string* otherFolder;       // drive and folder of the list file's own folder
  std::uint8_t* checkTimeStamps;  // "Check Recorded Elapsed Time Against File Timestamp"
  double* timeDilationThreshold;
  std::uint8_t* infoMessages;     // info-and-wizard messages shown
  // Automation and run planning.
  std::uint8_t* serialFitRunning;
  std::uint8_t* automationRun;
  std::uint8_t* approachToEquilibriumTest;
};

// The loaders' view of the upper-layer fields; points at private defaults
// until the application sets its own.
LoadTargets& CurrentLoadTargets();
// Points every field back at fresh private defaults (tests, start-up).
void ResetLoadTargets();

struct LoadHooks {
  // Diagnostics log; the default appends nothing.
  std::function<void(const std::string&)> writeDiagnostics;
  // Deletes the non-ideal c(s) model object before the scan set changes.
  std::function<void()> deleteNonidealModel;
  // Fit ranges of meniscus and bottom around their current values.
  std::function<void()> setDefaultMeniscusBottomLimits;
  // "times from w^2t" off, each scan's time copied back into timeRead.
  std::function<void()> restoreScanTimes;
  // Clears the pending flag of the "times from w^2t" conversion.
  std::function<void()> cancelTimesFromW2t;
  std::function<void()> createNoiseButtons;
  std::function<void()> removeNoiseButtons;
  // Ticks the menu items of the fluorescence corrections by their switches.
  std::function<void()> checkCorrectionMenuItems;
  std::function<void()> buildPlotCurves;
  // Deletes the plot objects, whose curves view the scans about to be freed.
  std::function<void()> deletePlots;
  std::function<void()> setPlotAxisTitles;
  std::function<void()> clearComputedFlag;
  std::function<void(bool rescale)> redrawDataPlot;
  std::function<void()> requestRepaint;
  std::function<void(const std::string&)> setWindowTitle;
  std::function<void(const std::string& text, int x, int y)> drawText;
  // The window's progress line of a load: 0 shows it, growing fractions
  // draw it, a negative value erases it.
  std::function<void(double fraction)> loadProgress;
  // Restores the previous analysis of the data folder when the user wants it.
  std::function<bool()> offerRestorePreviousAnalysis;
  // A new set of scans is about to replace the data in memory (every loader
  // of a new set, not the realtime update's growing set nor the reload of
  // the same list), and it is in (before a saved analysis is restored): the
  // models' entries follow the data they were made for.
  std::function<void()> newDataAboutToLoad;
  std::function<void()> newDataLoaded;
  // The plots of a new set (any load but the reload of the same list and
  // the realtime update's) start without zoom levels to step back to.
  std::function<void()> startZoomHistory;
  std::function<void()> runModel;          // TXLAWindow::CmRun
  std::function<void()> runModelFromTools;
  std::function<double()> calcRmsd;
  std::function<void(double threshold)> checkTemperatureFluctuations;
  // Fluorescence nonlinear-detection transform and its tables.
  std::function<void()> applyNonlinearDetection;
  std::function<void()> freeNonlinearDetectionTables;
  // Mean grid profile and fit-range sums; the default works on the scan set.
  std::function<void()> computeTINoiseProfile;
  // Noise and plot redraws of the raw-data workers.
  // Pushes a zoom level with these ranges on the data plot and draws it.
  std::function<void(float xMin, float xMax, float yMin, float yMax)> pushDataPlotZoom;
  // Animates a click on the on-plot button "remove TI and RI" when it exists.
  std::function<void()> animateNoiseButton;
  // Writes one fitted DLS data set (x = log10 of the lag times, y = g(2)-1)
  // with the header of set i; the default is the dlsdat writer.
  std::function<bool(const std::string& path, int n, const float* x, const float* y,
                     const std::string& description, int scan)>
      writeDlsdatSet;
  std::function<void()> updateResidualsPlot;
  std::function<void()> updateResidualHistogram;
  std::function<void()> invalidateWindow;
  std::function<void()> saveRawDataSet;  // TXLAWindow::CmSaveRawDataSet
  // Buffer-sedimentation correction.
  std::function<bool()> bufferSedimentationOn;
  std::function<void(bool subtract)> updateBufferSedimentation;
  std::function<void()> switchOffBufferSedimentation;
  std::function<void()> showDataRange;  // TXLAWindow::CmDataRange
  // Realtime update.
  std::function<void()> subtractAllNoiseCommand;
  std::function<void()> showLastFitInfo;
  std::function<void()> toggleDisplayFlag210;
  std::function<double(double s1, double s2)> integrateDistribution;
  // The s grid [1..size] of the active distribution and the first index its
  // integrals start at (2 for the plain c(s), 3 for its variants).
  std::function<const float*(int& size, int& firstIndex)> distributionGrid;
  std::function<void()> rescaleZoomedDistribution;
  // Forgets a kept zoom of the distribution plot: a new update starts from
  // the whole distribution, not from the range an earlier session zoomed to.
  std::function<void()> clearDistributionZoom;
  // Gaussian deviate of unit standard deviation.
  std::function<double()> gaussRandom;
};

// The hooks in use; every member is callable (defaults filled in).
LoadHooks& CurrentLoadHooks();
// Back to the defaults.
void ResetLoadHooks();

// Mean grid profile over all scans, then the fit-range sum and count of the
// scan set; the default of computeTINoiseProfile.
void RefreshFitRangeProfile();
