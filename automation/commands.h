#pragma once
// The analysis commands as plain functions, without window chrome (cursor,
// menu marks, help test): the main window's handlers and the unattended run
// call the same paths. Computations that live in subsystems not wired in yet
// are reached through hooks whose default says "not available", so a
// caller can tell a finished step from a missing one.
#include <functional>
#include <string>

enum class CommandStatus {
  Done,          // the step ran
  Refused,       // its preconditions were not met (nothing loaded, a question answered No)
  NotAvailable,  // the computation is not part of this build yet
  Failed,        // it ran and reported a failure
};
const char* CommandStatusText(CommandStatus status);

struct AnalysisCommandHooks {
  // Model menu: "Continuous c(s) Distribution" and "ls-g*(s)".
  std::function<CommandStatus()> selectContinuousCS;
  std::function<CommandStatus()> selectLsgStar;
  // Run: the continuous-distribution runner and the Lamm-model evaluation.
  std::function<CommandStatus()> runContiSed;
  std::function<CommandStatus()> simulateModel;
  // Fit: the nonlinear fit of the distribution models and of all others.
  std::function<CommandStatus()> contiFit;
  std::function<CommandStatus()> fitCurrentModel;
  // Composes and shows the fit report after a fit.
  std::function<void()> composeFitInfo;
  // Saves the analysis next to the data after a fit ("~tmppars").
  std::function<void()> saveBestParams;
};

// The hooks in use; every member is callable.
AnalysisCommandHooks& CurrentAnalysisCommandHooks();
// Back to the defaults of this build.
void ResetAnalysisCommandHooks();

// The default answer of a computation that is missing: a box
// ("NOT AVAILABLE", "<what> is not available yet.") and NotAvailable.
CommandStatus ReportNotAvailable(const std::string& what);

// Loads FileNameList as the current scan set and computes the model once.
CommandStatus LoadListedScansAndSimulate();
CommandStatus SelectContinuousCSModel();
CommandStatus SelectLsgStarModel();
// Computes the selected model once with the current parameters.
CommandStatus RunCommand();
// Fits the selected model: checks the fit limits against the meniscus and
// bottom bounds (questions "PROBLEM WITH FITTING"), fits, reports.
CommandStatus FitCommand();
// Subtract the fitted RI or TI noise from the loaded data; Refused when
// nothing is loaded or that noise is not fitted.
CommandStatus SubtractRINoiseCommand();
CommandStatus SubtractTINoiseCommand();

// Lets the saved analysis ("~tmppars") carry the distribution settings it
// holds (f/f0 grid, discrete start values, grid kind and minimum s).
void ConnectSavedParamsToDistributions();
