#pragma once
// What the steps of an unattended run and the writer of its result set
// share: the exit statuses, the record of the first failure, and the run's
// log (stderr and "automation.log" in the output folder).
#include <string>

// Exit statuses of an unattended run. The flag file is written, after a
// complete result set, only with statuses 0, 3 and 4.
enum AutomationExitCode : int {
  kAutomationOk = 0,
  kAutomationRejectedFile = 2,  // the parameter file was not accepted
  kAutomationNoScans = 3,       // unusable scan range, or the scans could not be loaded
  kAutomationStepFailed = 4,    // a model command, Run or Fit did not complete
  kAutomationWriteFailed = 5,   // a result file could not be written
  kAutomationOutOfMemory = 6,   // the memory ran out
};

struct AutomationState {
  bool automationMode = false;
  bool automationFinished = false;
  std::string parameterFile;
  int exitCode = kAutomationOk;  // the first failure's status
  std::string failedStep;        // the step of the first failure
  std::string failures;          // every reason, "; "-separated
};
AutomationState& CurrentAutomationState();

// Records a failure of the run: the first one decides the exit status and
// the failed step "ResultParameters.xml" names; the reason goes to stderr
// and the log.
void RecordAutomationFailure(int exitCode, const std::string& step, const std::string& reason);
// One line to stderr and the run's log file.
void AutomationLog(const std::string& line);

// Opens "automation.log" in folder (made when missing) for appending; an
// empty folder keeps the log on stderr. A named pipe or a folder at the
// log's name must not hold the run: the log then goes to stderr only, and
// says so.
void OpenAutomationLog(const std::string& folder);
// Closes the log file; lines go to stderr only.
void CloseAutomationLog();
