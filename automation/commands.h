#pragma once
// How the unattended run tells a finished step from a missing or failed
// one: the window's commands answer nothing, so the run judges each step by
// what it left behind (a "not available" box, a distribution, the model
// switches). Also the data-level loading path that the run shares with the
// list-file loaders, and the link between the saved analysis and the
// distribution settings.
#include <string>

enum class CommandStatus {
  Done,          // the step ran
  Refused,       // its preconditions were not met
  NotAvailable,  // the computation is not part of this build yet
  Failed,        // it ran and reported a failure
};
const char* CommandStatusText(CommandStatus status);

// Loads FileNameList as the current scan set (and computes the model once,
// through the loader's run hook).
CommandStatus LoadListedScansAndSimulate();

// Lets the saved analysis ("~tmppars") carry the distribution settings it
// holds (f/f0 grid, discrete start values, grid kind and minimum s).
void ConnectSavedParamsToDistributions();
