#include "fit/model_evaluation_hooks.h"

#include <cmath>

#include "data/fluorescence_corrections.h"
#include "data/nonlinear_detection.h"
#include "data/scan_set.h"
#include "fit/fluorescence_options.h"
#include "fit/model_params.h"
#include "fit/rmsd.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/solver_display.h"
#include "numerics/constants.h"

namespace {

constexpr double kGasConstant = 8.31451e7;  // erg / (mol K)
constexpr double kAvogadro = 6.02214e23;
constexpr double kWaterViscosity20 = 0.01002;  // poise

ModelEvaluationHooks MakeDefaultHooks() {
  ModelEvaluationHooks h;
  // While simulating, the data are shown transformed so the model is fitted
  // in the space of the power law; afterwards the user's choice returns.
  // The power is the entered (or floated) one, so that a fit of it moves
  // the data it is judged against.
  SetNonlinearDetectionScanSpan(RmsdScanSpan);
  h.nonlinearTransform = [](int mode) {
    const FdsSignalParams& fds = CurrentFdsSignalParams();
    NonlinearDetectionTransformGuarded(fds.detectionPower, fds.detectionBaseline,
                                       mode == 1 || fds.showTransformed != 0);
  };
  h.nonlinearInverse = [] { NonlinearDetectionInverse(); };
  h.bufferSedimentationOn = [] { return false; };
  h.bufferSignal = []() -> double& {
    static double signal = 0.0;
    return signal;
  };
  h.updateBufferSedimentation = [](FitHost*) {};
  h.applySolverOptions = ApplyFluorescenceCorrections;
  h.markPlotsForRefresh = [] {};
  h.drawScanModel = [](int j, int k) {
    const ScanSet& ss = CurrentScanSet();
    const LammSolverDisplay& display = CurrentLammSolverDisplay();
    if (display.plotFloats && j >= 1 && j <= ss.count && ss.model[j])
      display.plotFloats(ss.radii[j], ss.model[j], ss.points[j], EquationColour(k));
  };
  h.simulateStaticGridLamm = RunStaticGridLammSpecies;
  h.sharpBoundaryCurve = SharpBoundaryCurveSector;
  h.frictionalRatio = FrictionalRatioFromSD;
  return h;
}

}  // namespace

ModelEvaluationHooks& CurrentModelEvaluationHooks() {
  static ModelEvaluationHooks hooks = MakeDefaultHooks();
  return hooks;
}

void SharpBoundaryCurveSector(float c0, double t, double k, const float* r, float* out, int n) {
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double f = std::exp(k * t);
  const float plateau = static_cast<float>(c0 * std::exp(-2 * k * t));
  // Sedimentation leaves the meniscus, flotation leaves the bottom.
  const double boundary = k >= 0 ? m * f : b * f;
  for (int i = 1; i <= n; ++i) {
    const bool inside = k >= 0 ? (r[i] >= boundary && r[i] <= b) : (r[i] <= boundary && r[i] >= m);
    out[i] = inside ? plateau : 0.0f;
  }
}

double FrictionalRatioFromSD(double s, double D) {
  const SolutionConditions& sc = gSolutionConditions;
  if (D <= 0 || s == 0) return 0;
  const double RT = kGasConstant * sc.temperature;
  const double buoyancy = 1.0 - sc.vbarRho;
  const double M = s * 1e-13 * RT / (D * buoyancy);
  if (!(M > 0) || sc.vbar <= 0) return 0;
  const double f = M * buoyancy / kAvogadro / (1e-13 * s);
  const double R0 = std::cbrt(3.0 * M * sc.vbar / (4.0 * kPi * kAvogadro));
  const double f0 = 6.0 * kPi * kWaterViscosity20 * sc.viscosity * R0;
  return f0 > 0 ? f / f0 : 0;
}
