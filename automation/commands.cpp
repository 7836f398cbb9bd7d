#include "automation/commands.h"

#include <cmath>

#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"

const char* CommandStatusText(CommandStatus status) {
  switch (status) {
    case CommandStatus::Done: return "done";
    case CommandStatus::Refused: return "refused";
    case CommandStatus::NotAvailable: return "not available";
    case CommandStatus::Failed: return "failed";
  }
  return "failed";
}

CommandStatus LoadListedScansAndSimulate() {
  if (!LoadListedScans()) return CommandStatus::Failed;
  ScanSet& s = CurrentScanSet();
  // The analysis files (grid and distribution files) belong in the data folder.
  if (s.dataFolder.empty()) s.dataFolder = CurrentDataPaths().dataFolder;
  return s.count > 0 ? CommandStatus::Done : CommandStatus::Failed;
}

namespace {
bool DiscreteInSecondSlots() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  return f.CSff0With1DiscreteModel || f.BimodalFF0With1DiscreteCSModel || f.HybridCSLsgModel;
}
}  // namespace

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
      case 201: return std::trunc(c.minimumSValue);
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
      // Only the models that keep their discrete species in slots 16 and 17
      // take them there; every other model keeps the file's own extra
      // values (lines 9 and 18), which a Run of it may read.
      case 90:
        c.discreteM = v;
        if (DiscreteInSecondSlots()) mp.extra[1] = pv.P[16] = v;
        break;
      case 91:
        c.discreteS = v;
        if (DiscreteInSecondSlots()) mp.extra[2] = pv.P[17] = v;
        break;
      case 200: c.logSpacedGrid = v == 1.0f; break;
      case 201: c.minimumSValue = static_cast<float>(static_cast<int>(v)); break;
      case 202: c.useMinimumS = v == 1.0f; break;
      case 203: c.gridFromFile = v == 1.0f; break;
      default: break;
    }
  };
}
