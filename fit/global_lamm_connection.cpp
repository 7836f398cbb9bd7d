#include "fit/global_lamm_connection.h"

#include <optional>

#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/global_lamm_hooks.h"

void ConnectGlobalLammSolvers() {
  GlobalLammHooks h;
  h.meniscus = [] { return static_cast<double>(gModelParams.meniscus); };
  h.bottom = [] { return static_cast<double>(gModelParams.bottom); };
  h.electrophoresis = [] { return gModelSelectorFlags.ElectrophoresisLammModel != 0; };
  h.zoneCentrifugation = [] { return gModelSelectorFlags.ZoneCentrifugationModel != 0; };
  h.planarGeometry = []() -> std::optional<PlanarGeometry> {
    const ModelSelectorFlags& m = gModelSelectorFlags;
    if (m.ElectrophoresisLammModel) return PlanarGeometry::Electrophoresis;
    if (m.LinearLammModel) return PlanarGeometry::Linear;
    if (m.ExternalLoadingCellModel) return PlanarGeometry::ExternalLoading;
    if (m.Model282) return PlanarGeometry::UnitWeight;
    return std::nullopt;
  };
  h.stepDone = ShowSimulationProgress;
  h.lastScanTime = LastScanTime;
  h.bufferSedimentation = BufferSedimentationCoefficient;
  h.bufferDiffusion = BufferDiffusionCoefficient;
  h.initFrameSolventFactors = InitLocalSDFactorsRelativeToBuffer;
  h.initCosolute = InitCosoluteGradient;
  h.setCosoluteTime = SetCosoluteTime;
  h.stepCosolute = StepCosoluteGradient;
  h.updateFrameSolventFactors = [](const double* r, const double* xi, int n, double half) {
    CurrentLocalSolventFactors().UpdateFrom(CurrentSolventGradientSettings(), gSolutionConditions.vbar,
                                            CurrentCosolute(), r, xi, n, half);
  };
  ConnectGlobalLammHooks(h);
}
