#include "fit/simulation_errors.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_switches.h"
#include "lamm/amount_kept.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/sounds.h"

namespace {

const char* const kSwitchToW2t =
    "--> please switch to \"times from wwt\" in Lamm equation parameters (Options menu)\n(this is suboptimal "
    "and prohibits simulating of the rotor acceleration phase, but is a fix to analyze this data)";

// Nobody is there to answer: an unattended run or a serial fit.
bool NobodyAnswers() {
  const LoadTargets& t = CurrentLoadTargets();
  return (t.automationRun && *t.automationRun) || (t.serialFitRunning && *t.serialFitRunning);
}

// The low-speed phase before full acceleration: offers a two-step rotor-speed
// profile that explains the first scan's time and w^2 t.
void LowSpeedPhaseDialogue(FitHost* host) {
  // The default answers would write a profile guessed from default speeds
  // into the data folder, where every later run of the scans reads it (and
  // replace one the user made). Without a person nothing is written there:
  // the simulation has failed, and the message says what to do.
  if (NobodyAnswers()) {
    host->MessageBox("ERROR in simulation",
                     "possible error: initial low-speed phase before full acceleration? - no speedsteps.txt is "
                     "written without a person: create it in the window, or\n" +
                         std::string(kSwitchToW2t),
                     platform::BoxIcon::Warning);
    return;
  }
  if (!host->AskYesNo("ERROR", "possible error: initial low-speed phase before full acceleration?")) return;
  if (!host->AskYesNo("ERROR", "was the low-speed phase already temperature equilibrated?")) {
    host->MessageBox("ERROR in simulation",
                     std::string("possible error in setup: SV requires temperature equilibration at 0 rpm in "
                                 "RUN mode (please refer to experimental protocol)\n ") +
                         kSwitchToW2t,
                     platform::BoxIcon::Warning);
    host->OpenLammEquationParameters();
    return;
  }
  float rpm = 3000.0f, acceleration = 280.0f;
  host->InputFloat(&rpm, 3000.0f, "rotor speed of low-speed phase (rpm)", "timing correction");
  host->InputFloat(&acceleration, 280.0f, "acceleration (rpm/sec) (usually 280)", "timing correction");
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1) return;
  const ScanRecord& first = ss.records[ss.order[1]];
  const float t = EstimateSpeedStepStartTime(rpm, acceleration, first);
  char text[400];
  std::snprintf(text, sizeof text,
                "found low speed %.0f rpm phase had to be %.0f sec, to account for t and w^2t entries of file "
                "headers\n\n --> want to account for it by creating and loading speedsteps.txt file "
                "(recommended)?",
                rpm, t);
  if (!host->AskYesNo("ERROR", text)) {
    host->MessageBox("ERROR in data", kSwitchToW2t, platform::BoxIcon::Warning);
    host->OpenLammEquationParameters();
    return;
  }
  // A speedsteps.txt already beside the scans may be the user's own: it is
  // replaced only when the user says so.
  const std::string path = DataFolderSpeedStepsPath();
  struct stat st {};
  if (lstat(platform::ToNative(path).c_str(), &st) == 0 &&
      !host->AskYesNo("ERROR", path + " already exists - replace it by the two-step profile?")) {
    host->MessageBox("ERROR in data", kSwitchToW2t, platform::BoxIcon::Warning);
    host->OpenLammEquationParameters();
    return;
  }
  CreateLowSpeedPhaseSpeedSteps(t, rpm, first, acceleration);
}

// During a fit: which parameter left the linear nonideality's range, and
// the range, taken at the loading concentration (the cell's concentration
// rises above it toward the bottom, so the range there is narrower still).
// 1 + ks c must stay positive for an attractive ks, and ks c at or below 1
// for a repulsive one: both keep 10^log10(ks) c below 1, as for kd when it
// is attractive.
std::string NonidealityRangeNotice() {
  const char* const kRejected = "\nthe fit rejects such steps and keeps the best parameters found";
  const AssociationModelParams& as = gAssociationModelParams;
  const double scale = CurrentScanSet().signalPerConcentration > 0 ? CurrentScanSet().signalPerConcentration : 1.0;
  const double c = as.nonidealConcentration / scale;
  if (!gModelSelectorFlags.NonidealSingleSpeciesModel || gModelSelectorFlags.NonidealVariantModel ||
      as.hardSphere || as.polynomialSD || as.csClSD || !(c > 0))
    return std::string("nonideality out of range") + kRejected;
  const double limit = -std::log10(c);
  // A repulsive kd never leaves it; of two attractive ones the larger does first.
  const bool kd = !as.repulsive && as.logKd > as.logKs;
  char text[400];
  std::snprintf(text, sizeof text,
                "nonideality out of range: %s = %.4g, but %s times the loading concentration (%.3g mg/ml) "
                "must stay below 1, so %s must stay below %.4g",
                kd ? "log10(kd)" : "log10(ks)", kd ? as.logKd : as.logKs, kd ? "kd" : "ks", c,
                kd ? "log10(kd)" : "log10(ks)", limit);
  return std::string(text) + kRejected;
}

}  // namespace

void ReportSimulationError(FitHost* host, int code) {
  LammSolverSettings& lamm = LammSettings();
  switch (code) {
    case kLammNoWorkMemory:
      if (!platform::ShowCountedFailure()) break;
      host->PlaySoundError();
      host->MessageBox("ERROR in simulation", "could not allocate Lamm simulation arrays",
                       platform::BoxIcon::None);
      SoundStub();
      break;
    case kLammDiscretization: {
      lamm.discretizationError = 1;
      // Inside a Fit's evaluation a solve that did not converge is a trial
      // the model could not be computed at: the fit rejects it (its step
      // shortens), and the box is the Fit's one solver box at most.
      if (platform::CurrentErrorBoxGate().counting) {
        if (!platform::ShowCountedFailure()) break;
      } else if (gFitEngineState.fitRunning) {
        // Elsewhere during a fit the message comes once, not at every evaluation.
        if (gSimulationSwitches.discretizationWarningShown) break;
        gSimulationSwitches.discretizationWarningShown = 1;
      }
      host->PlaySoundInfo();
      host->MessageBox("DISCRETIZATION ERROR", "change grid size and readjust max dc/c",
                       platform::BoxIcon::Warning);
      break;
    }
    case kLammSingularMatrix:
      lamm.singularMatrixError = 1;
      if (!platform::ShowCountedFailure()) break;
      host->PlaySoundError();
      host->MessageBox("ERROR in simulation", "singular tridiagonal matrix!", platform::BoxIcon::None);
      SoundStub();
      break;
    case kLammAmountNotKept:
      // A failed solve, as a discretization error: the fits reject the step.
      lamm.discretizationError = 1;
      if (!platform::ShowCountedFailure()) {
        TakeAmountNotKept();
        break;
      }
      host->PlaySoundError();
      host->MessageBox("ERROR in simulation", AmountNotKeptText(TakeAmountNotKept()), platform::BoxIcon::Warning);
      break;
    case kLammSlowAcceleration:
      host->PlaySoundError();
      LowSpeedPhaseDialogue(host);
      break;
    case kLammInvalidSettings:
      // The solver refused with its own box (or, on a worker, silently):
      // during a fit the trial is rejected all the same.
      platform::CountFailure();
      break;
    case kLammNonidealSetup:
      if (!platform::ShowCountedFailure()) break;
      host->PlaySoundError();
      host->MessageBox("ERROR in simulation", "possible error in setupof Lamm eq. solution, nonideal parameters",
                       platform::BoxIcon::Warning);
      break;
    case kLammNonidealOutOfRange:
      lamm.nonidealityOutOfRange = 1;
      if (!platform::ShowCountedFailure()) break;
      host->PlaySoundError();
      host->MessageBox("ERROR in simulation",
                       platform::CurrentErrorBoxGate().counting ? NonidealityRangeNotice() : "nonideality out of range",
                       platform::BoxIcon::None);
      SoundStub();
      break;
    default:
      break;
  }
}
