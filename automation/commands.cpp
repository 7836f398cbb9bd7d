#include "automation/commands.h"

#include "data/load_hooks.h"
#include "data/noise_subtraction.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "platform/user_interface.h"

namespace {

// Command ids of the noise commands of the Display menu.
constexpr int kSubtractTINoise = 508;
constexpr int kSubtractRINoise = 509;

AnalysisCommandHooks DefaultHooks() {
  AnalysisCommandHooks h;
  // Until the Model menu's c(s) command is built, the run chooses the model
  // by its switches alone; the distribution settings follow from the caller.
  h.selectContinuousCS = [] {
    ModelSelectorFlags& sel = gModelSelectorFlags;
    sel.ClearSwitches();
    sel.DistributionModel = 1;
    sel.CSModel = 1;
    return CommandStatus::Done;
  };
  h.selectLsgStar = [] { return ReportNotAvailable("\"ls-g*(s)\""); };
  h.runContiSed = [] {
    // The run reports its own refusals; only a finished run has timed its end.
    RunContiSed();
    return LastContiRunTimings().total > 0 && Conti().distribution ? CommandStatus::Done
                                                                   : CommandStatus::Failed;
  };
  h.simulateModel = [] { return ReportNotAvailable("the model evaluation"); };
  h.contiFit = [] { return ReportNotAvailable("the fit of the continuous distribution"); };
  h.fitCurrentModel = [] { return ReportNotAvailable("the fit of the current model"); };
  h.composeFitInfo = [] {};
  h.saveBestParams = [] { TmpSaveBestParams(CurrentDataPaths().parameterFile, false); };
  return h;
}

AnalysisCommandHooks& Hooks() {
  static AnalysisCommandHooks hooks = DefaultHooks();
  return hooks;
}

bool Ask(const char* caption, const char* text) {
  return platform::UI().MessageBox(caption, text, platform::BoxButtons::YesNo,
                                   platform::BoxIcon::Question) == platform::IDYES;
}

}  // namespace

const char* CommandStatusText(CommandStatus status) {
  switch (status) {
    case CommandStatus::Done: return "done";
    case CommandStatus::Refused: return "refused";
    case CommandStatus::NotAvailable: return "not available";
    case CommandStatus::Failed: return "failed";
  }
  return "failed";
}

AnalysisCommandHooks& CurrentAnalysisCommandHooks() { return Hooks(); }
void ResetAnalysisCommandHooks() { Hooks() = DefaultHooks(); }

CommandStatus ReportNotAvailable(const std::string& what) {
  platform::UI().MessageBox("NOT AVAILABLE", what + " is not available yet.",
                            platform::BoxButtons::Ok, platform::BoxIcon::Information);
  return CommandStatus::NotAvailable;
}

CommandStatus LoadListedScansAndSimulate() {
  if (!LoadListedScans()) return CommandStatus::Failed;
  ScanSet& s = CurrentScanSet();
  // The analysis files (grid and distribution files) belong in the data folder.
  if (s.dataFolder.empty()) s.dataFolder = CurrentDataPaths().dataFolder;
  return s.count > 0 ? CommandStatus::Done : CommandStatus::Failed;
}

CommandStatus SelectContinuousCSModel() { return Hooks().selectContinuousCS(); }
CommandStatus SelectLsgStarModel() { return Hooks().selectLsgStar(); }

CommandStatus RunCommand() {
  if (CurrentScanSet().count <= 0) return CommandStatus::Refused;
  const CommandStatus status = gModelSelectorFlags.DistributionModel ? Hooks().runContiSed()
                                                                      : Hooks().simulateModel();
  if (status == CommandStatus::Done) {
    CurrentScanSet().dataChanged = 0;
    // What the next paint would show: the rmsd of the run.
    CalcRmsd();
  }
  return status;
}

CommandStatus FitCommand() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return CommandStatus::Refused;
  FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  if (mp.meniscusFit && s.leftFitLimit > 0 && fs.meniscusMax > 0 &&
      s.leftFitLimit < fs.meniscusMax) {
    if (!Ask("PROBLEM WITH FITTING",
             "Left fitting limit is at smaller radius than maximum potential meniscus value.\n"
             "This could cause problems during the fit.\nFix by repositioning maximum meniscus"))
      return CommandStatus::Refused;
    fs.meniscusMax = s.leftFitLimit - 0.001f;
  }
  if (mp.bottomFit && s.rightFitLimit > 0 && fs.bottomMin > 0 && s.rightFitLimit > fs.bottomMin) {
    if (!Ask("PROBLEM WITH FITTING",
             "Right fitting limit is at higher radius than minimum potential bottom value.\n"
             "This could cause problems during the fit.\nFix by repositioning minimum bottom?"))
      return CommandStatus::Refused;
    fs.bottomMin = s.rightFitLimit + 0.001f;
  }
  const CommandStatus status = gModelSelectorFlags.DistributionModel ? Hooks().contiFit()
                                                                      : Hooks().fitCurrentModel();
  if (status == CommandStatus::Done) {
    CurrentScanSet().dataChanged = 0;
    CalcRmsd();
    Hooks().saveBestParams();
    Hooks().composeFitInfo();
  }
  return status;
}

CommandStatus SubtractRINoiseCommand() {
  return RunNoiseCommand(kSubtractRINoise) ? CommandStatus::Done : CommandStatus::Refused;
}

CommandStatus SubtractTINoiseCommand() {
  return RunNoiseCommand(kSubtractTINoise) ? CommandStatus::Done : CommandStatus::Refused;
}

void ConnectSavedParamsToDistributions() {
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.getContiValue = [](int line) -> float {
    const ContiSettings& c = Conti();
    switch (line) {
      case 86: return c.ffMin;
      case 87: return c.ffMax;
      case 88: return c.ffResolution;
      case 89: return c.ffValue;
      case 90: return c.discreteM;
      case 91: return c.discreteS;
      case 200: return c.logSpacedGrid ? 1.0f : 0.0f;
      case 201: return static_cast<float>(static_cast<int>(c.minimumSValue));
      case 202: return c.useMinimumS ? 1.0f : 0.0f;
      case 203: return c.gridFromFile ? 1.0f : 0.0f;
      default: return 0.0f;
    }
  };
  h.setContiValue = [](int line, float v) {
    ContiSettings& c = Conti();
    ModelParams& mp = gModelParams;
    ModelParameterVector& pv = gModelParameterVector;
    switch (line) {
      case 86: c.ffMin = v; break;
      case 87: c.ffMax = v; break;
      case 88: c.ffResolution = v; break;
      case 89: c.ffValue = v; break;
      case 90: c.discreteM = mp.extra[1] = pv.P[16] = v; break;
      case 91: c.discreteS = mp.extra[2] = pv.P[17] = v; break;
      case 200: c.logSpacedGrid = v == 1.0f; break;
      case 201: c.minimumSValue = static_cast<float>(static_cast<int>(v)); break;
      case 202: c.useMinimumS = v == 1.0f; break;
      case 203: c.gridFromFile = v == 1.0f; break;
      default: break;
    }
  };
}
