#pragma once
// The unattended analysis: `tarnel [HANDSHAKE] params.xml` reads the
// parameter file, loads the numbered scans, applies the parameters, runs,
// subtracts systematic noise and fits as the file's switches say, writes the
// result set and the all-done flag file, and ends. Nobody watches such a run:
// every box and question is logged (stderr and "automation.log" in the output
// folder) and answered with its default button, and every failure ends the
// program with a non-zero exit status and its reason on stderr.
//
// The main window's constructor calls TakeAutomationCommandLine with the
// arguments after the program path and, when it answers true, builds the
// automation menu and calls RunAutomationAtStartup as its last step.
#include <functional>
#include <string>
#include <vector>

#include "automation/automation_state.h"
#include "fit/model_ids.h"
#include "platform/bitmap.h"

struct CIniCustomPars;

// Menu commands the run sends, as the menu would.
enum AutomationCommand : int {
  kCmdContinuousCS = kCmContinuousCSModel,  // "Continuous c(s) Distribution"
  kCmdLsgStar = kCmLsgStarModel,            // "ls-g*(s)"
  kCmdRun = 213,
  kCmdFit = 215,
  kCmdSubtractTINoise = 508,
  kCmdSubtractRINoise = 509,
};

// What the run needs from the main window: its menu commands (the same
// paths a person takes) and a few window chores.
class IAutomationWindow {
 public:
  virtual ~IAutomationWindow() = default;
  // Dispatches a menu command as the menu or an accelerator would.
  virtual void Command(int id) = 0;
  virtual void SetCaption(const std::string& text) = 0;
  virtual void RequestRepaint() = 0;
  virtual void CheckMenuItem(int id, bool checked) = 0;
  // "Info and Wizard Messages" off (menu item 610).
  virtual void SwitchOffHelpMessages() = 0;
  // Display switch of the residual histogram.
  virtual void SetShowResidualsHistogram(bool show) = 0;
  // Thread count of the Lamm-equation lists.
  virtual void SetLammThreadCount(int threads) = 0;
  virtual void RelayoutAndRedrawPlots() = 0;
  // Data zoom (TXLAWindow::CmDataRange) and the fit report shown again
  // (TXLAWindow::CmShowLastFitInfo), before the screenshot.
  virtual void ShowDataRange() = 0;
  virtual void ShowLastFitInfo() = 0;
  // What the window says after a Fit: the lines of its fit report (values
  // on their fit limits marked) and, as "[Help Wizard] " and the text, the
  // wizard's notes on the state reached, which it shows as boxes only while
  // "Info and Wizard Messages" is on (an unattended run switches it off).
  virtual std::vector<std::string> FitNotes() = 0;
  // Paints the client area and hands its pixels over; false when the window
  // cannot be painted (out stays empty).
  virtual bool CaptureClientArea(platform::Bitmap& out) = 0;
  // TXLAWindow::CmExit.
  virtual void Exit() = 0;
};

// The program-wide record; null outside automation mode.
CIniCustomPars* CurrentIniCustomPars();

// Command-line intake: with one argument it is the parameter file; with two
// the first is the handshake text and the second the file; any other count
// starts the interactive program (false). True when the file was accepted;
// a rejected file (also one whose flag file or output folder names one of
// the run's inputs) is reported ("sorry, input from %s could not be
// processed properly", caption "command line parameters found") and the
// program's end requested with kAutomationRejectedFile. An accepted run
// removes the flag file it is going to write, so that a flag always belongs
// to the result files beside it.
bool TakeAutomationCommandLine(int argCount, char** argCopies);

// From here on every box and question is logged and answered with its
// default button. The start-up installs it as soon as the command line asks
// for an unattended run, so that nothing before the intake can wait for a
// person either.
void InstallUnattendedUserInterface();

// The whole run, inside the window's constructor; false only without a record.
bool RunAutomationAtStartup(IAutomationWindow& window);
// Builds the numbered file names and loads them; false when the scan range
// is not usable or the scans could not be loaded.
bool LoadAutomationScanList(const CIniCustomPars& record, IAutomationWindow& window);
// Copies the record into the analysis settings.
bool ApplyAutomationParameters(const CIniCustomPars& record, IAutomationWindow& window);
// "Done" (command 1113) and the first step of Exit in automation mode:
// writes the result set once; with exitAfter, then Exit with the run's status.
void FinishAutomation(IAutomationWindow& window, bool exitAfter);

// The numbered scan paths of the record: FirstScan, FirstScan +
// ScanInterval, ... up to LastScan, "%05d" + "." + Channel in DataDirectory.
// Empty when the range is not usable (also when it holds more scans than
// a set can).
std::vector<std::string> AutomationScanPaths(const CIniCustomPars& record);

// The end of a run that an exception cut short (the memory ran out, or a
// fatal error outside a menu command reached the program's top): the state
// is not known to be whole, so no result set and no flag are written; the
// status (kAutomationOutOfMemory or kAutomationStepFailed) replaces any
// earlier one and the reason goes to stderr and the log. Returns the
// status; outside automation mode it does nothing and returns 0.
int AutomationCutShort(bool outOfMemory);

// Pauses of the run (1 s before Exit and after the results); tests replace it.
void SetAutomationWait(std::function<void(int milliseconds)> wait);

// Points the loaders' upper-layer fields at the model records (meniscus,
// bottom, noise switches, solution temperature, Lamm and distribution
// settings), so that what a load sets is what the analysis uses.
void ConnectLoadTargetsToModelRecords();

// Ends automation mode and forgets the record (tests, and the next intake).
void ResetAutomation();
