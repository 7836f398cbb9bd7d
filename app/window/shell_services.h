#pragma once
// The services of other subsystems that the main window's start-up, set-up
// and exit call. Each is empty until its subsystem is wired in here, so the
// shell starts and ends cleanly on its own; tests install recorders.
#include <functional>
#include <string>

class TXLAWindow;

struct ShellServices {
  // Unattended run: reads the command line into the automation record and
  // answers whether a run is set up.
  std::function<bool(int argCount, char** argCopies)> takeAutomationCommandLine;
  // The whole unattended analysis, inside the window's constructor.
  std::function<bool(TXLAWindow&)> runAutomationAtStartup;
  // Writes the result set of the unattended run (from Exit).
  std::function<void(TXLAWindow&)> finishAutomation;
  // Removes the Plot items of missing auxiliary plot programs.
  std::function<void(TXLAWindow&)> checkPlotHelpers;

  std::function<void(TXLAWindow&)> initApproachToEqSim;
  std::function<void(TXLAWindow&)> readLammEqParameterPreferences;
  std::function<void(TXLAWindow&)> createMouseActions;
  std::function<void()> relayoutAndRedrawPlots;
  std::function<void()> loadIntegrationRanges;
  std::function<void()> setPlotAxisTitles;

  std::function<void()> freeLammArrays;
  std::function<void()> freeExtrapolationArrays;
  std::function<void()> freeScanData;

  // Sounds by category.
  std::function<void()> countSoundFiles;
  std::function<void()> playSoundHi;
  std::function<void()> playSoundOk;
  std::function<void()> playSoundInfo;
  std::function<void()> playSoundBye;
  std::function<void()> playSoundBeer;

  // The data plot and the residual displays.
  std::function<void(float xMin, float xMax, float yMin, float yMax)> setDataPlotRanges;
  std::function<void(bool rescale)> redrawDataPlot;
  std::function<void(bool rescale)> updateResidualsPlot;
  std::function<void(bool rescale)> updateResidualBitmap;

  // Time-stamp check of the loaded scans; true when they are to be reloaded.
  std::function<bool(TXLAWindow&)> checkScanTimeStamps;
  std::function<void(TXLAWindow&)> loadListedScansAndSimulate;
  std::function<int()> loadedScanCount;
};

ShellServices& Services();
// The services of the layers below the window. Those that need the window
// itself or the plots, the unattended run and the commands above it are
// added by the program's start (ProgramShellServices); the others stay empty.
ShellServices DefaultShellServices();

// Calls a service when it is installed.
template <typename F, typename... A>
void CallService(const F& f, A&&... args) {
  if (f) f(std::forward<A>(args)...);
}
