#pragma once
// Program-wide switches of the main window that loading, Run, Fit and
// painting share.
#include <cstdint>
#include <string>

#include "platform/bitmap.h"

struct MainWindowFlags {
  bool WindowPainted = false;     // set by every paint; direct drawing waits for it
  int ClientWidth = 1400;         // client size in pixels as of the last screen paint
  int ClientHeight = 1000;
  bool FileDialogOpen = false;    // a load command's file dialog or number prompt is open
  bool FitInfoPending = false;    // the next screen paint composes the fit report
  // The report of the last Run or Fit belongs to the data shown: every
  // screen paint draws it again (a new load clears it).
  bool FitInfoShown = false;
  bool ListFolder = false;        // the listed files lie in the list file's own folder
  bool Autocorrect = false;       // the multi-speed load corrects without asking
  bool ElectrophoresisLoad = false;  // the fluorescence tools reload as electrophoresis data
  bool DisclaimerTextPending = true;
  bool EraseRepaintPending = false;
  // A Lamm solver drew its profiles over the data plot since the last paint,
  // over the picture kept here (without the texts written in place).
  bool SolverCurvesOverData = false;
  platform::Bitmap UnderSolverCurves;
  // The mouse names the scan under the pointer (hidden command 210).
  std::uint8_t ScanNameHoverOn = 1;
  // The run planner's summary line, drawn by the next paint and then cleared.
  bool TimeToEqSummaryPending = false;
  // A fit ended after the fitted data or parameters were last saved: Exit
  // and closing the window ask before they leave it.
  bool UnsavedFit = false;
  std::string TimeToEqSummary;
};
MainWindowFlags& WindowFlags();

// Per-run switches of Run and Fit.
struct RunSwitches {
  bool KeepDistributionPlot = false;  // painting leaves the distribution plot alone
  bool TransformAwaitsRun = false;    // a boundary transform was chosen and not yet run: painting says so
  bool InFitEvaluation = false;       // a fit drives the distribution computation
  bool RunProgressDisplay = false;    // the solvers draw their profiles while running
  bool FaxenSimulation = false;       // the evaluation uses the Faxen approximation
  bool RealtimeUpdateRunning = false;
  bool DistributionQuietPass = false;
};
RunSwitches& RunState();

class TXLAWindow;
// A load command has chosen new files: once their scans are read (before a
// saved analysis of their folder is restored), the analysis of the earlier
// data leaves, and for data of another kind also the model and its settings.
struct PendingNewDataState {
  bool pending = false;
  bool otherKind = false;
};
PendingNewDataState& PendingNewData();
void ForgetPreviousAnalysisOfNewData(TXLAWindow& w);
// The models' side of new data, for every loader: data of another kind
// start without the model of the earlier kind, and the entries of the
// models follow the kind of data they were made for.
void NewDataForModels(bool otherKind);
// The loaders' hooks around a new set that no load command announced (the
// serial fits, the unattended run, a change of cell, an xp file, a list):
// the model in use is taken before, and recorded when the new data are of
// another kind.
void ModelsBeforeNewData();
void ModelsAfterNewData();

// The load with automatic corrections is under way (time stamps, rotor
// stretch and speed steps are corrected without asking).
std::uint8_t& AutocorrectLoad();
