#include "models/equilibrium_curves/equilibrium_curves.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/signal_shapes.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

int gModelCurveScan = 0;

namespace {

constexpr double kTwoR = 1.662902e8;  // 2R, erg/(mol K)
// Beyond |x D| = 1e6 the curve is zero at every radius but the cell end it
// piles up at; the bound keeps the value there finite in single precision.
constexpr double kMaxExponentRange = 1e6;

std::function<ModelCurveCorrections()>& CorrectionsSource() {
  static std::function<ModelCurveCorrections()> source;
  return source;
}

ModelCurveCorrections Corrections() {
  const auto& source = CorrectionsSource();
  return source ? source() : ModelCurveCorrections{};
}

// The detector's corrections on a computed curve, in the signal model's order.
void Correct(const ModelCurveCorrections& k, const float* r, float* y, int n) {
  const double m = gModelParams.meniscus;
  if (k.stretch)
    for (int i = 1; i <= n; ++i) y[i] *= static_cast<float>((k.stretchFactor - 1.0) * (r[i] - m) + 1.0);
  if (k.bottomEdge) RadialCorrection2(n, r, y, k.bottomEdgeRadius);
  const DataTypeFlags& data = CurrentDataTypeFlags();
  const LammSolverSettings& st = LammSettings();
  if (data.absorbance && !data.intensity && st.simulateRadialResolution)
    AverageAbsorbanceOverWindow(n, st.convolutionRange, r, y);
  else if (k.radialSmoothing)
    RadialCorrection1(n, r, y, k.smoothingWidth, k.smoothingExtent);
}

// A buffer that grows to the longest scan once.
float* Scratch(int n) {
  static std::vector<float> buffer;
  if (static_cast<int>(buffer.size()) < n + 1) buffer.resize(static_cast<size_t>(n) + 1);
  return buffer.data();
}

}  // namespace

void SetModelCurveCorrectionsSource(std::function<ModelCurveCorrections()> source) {
  CorrectionsSource() = std::move(source);
}

double EquilibriumSigma(double rpm, double celsius) {
  // Records keep temperatures in single precision: -273.15 read from a
  // header is absolute zero, not a few microkelvin above it.
  if (!(static_cast<float>(celsius) > -273.15f) || !std::isfinite(rpm)) return 0.0;
  const double T = celsius + 273.15;
  const double w = RpmToOmega(rpm);
  return w * w / (kTwoR * T);
}

void BoltzmannCurve(double Mb, double c0, double sigma, double meniscus, double bottom, const float* r,
                    float* out, int n) {
  const double m2 = meniscus * meniscus, b2 = bottom * bottom, D = b2 - m2;
  double x = Mb * sigma;
  if (std::isnan(x) || x == 0.0 || !(D > 0.0)) {
    for (int i = 1; i <= n; ++i) out[i] = static_cast<float>(c0);
    return;
  }
  // xD of the bound, for masses so large that nothing is left but the end.
  x = std::clamp(x, -kMaxExponentRange / D, kMaxExponentRange / D);
  const double xD = x * D;
  // Amplitude at the cell end the curve is referenced to: the bottom for
  // sedimentation, the meniscus for flotation; exp of a non-positive number.
  const double A = x > 0.0 ? c0 * xD / -std::expm1(-xD) : c0 * xD / std::expm1(xD);
  const double ref = x > 0.0 ? b2 : m2;
  for (int i = 1; i <= n; ++i) {
    const double u = static_cast<double>(r[i]) * r[i];
    out[i] = static_cast<float>(A * std::exp(x * (u - ref)));
  }
}

ModelCurveTarget& CurrentModelCurveTarget() {
  static ModelCurveTarget target;
  return target;
}

void ComputeModelCurves(double Mb, double c0) {
  ScanSet& ss = CurrentScanSet();
  const ModelCurveTarget& target = CurrentModelCurveTarget();
  const ModelCurveCorrections corrections = Corrections();
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const bool kernel = target.kernels != nullptr;
  const bool onGrid = !kernel && CurvesOnCommonGrid() && ss.gridLength > 0;
  if (onGrid) EnsureSpeciesCurves(target.species);
  for (int pos = 1; pos <= ss.count; ++pos) {
    gModelCurveScan = pos;
    if (KeyPressed()) platform::StopFlag() = true;
    const int j = ss.order[pos];
    const ScanRecord& rec = ss.records[j];
    const double sigma = EquilibriumSigma(rec.rpm, rec.temperature);
    const float* r = ss.grid;
    int n = ss.gridLength;
    float* out = nullptr;
    if (kernel) {
      // A kernel row holds as many values as the common grid.
      if (target.ownRadii) {
        r = ss.radii[j];
        n = std::min(ss.points[j], ss.gridLength);
      }
      out = target.kernels[target.gridPoint][j];
    } else if (onGrid) {
      out = ss.species[target.species].onGridPerScan[j];
    } else {
      r = ss.radii[j];
      n = ss.points[j];
      out = Scratch(n);
    }
    BoltzmannCurve(Mb, c0, sigma, m, b, r, out, n);
    Correct(corrections, r, out, n);
    if (!kernel && !onGrid) {
      float* model = ss.model[j];
      for (int p = 1; p <= n; ++p) model[p] += out[p];
    }
  }
  gModelCurveScan = 0;
}

void InstallEquilibriumCurveHooks() {
  CurrentModelEvaluationHooks().equilibriumCurves = [](int species, double Mb, double amplitude) {
    ModelCurveTarget& t = CurrentModelCurveTarget();
    t = ModelCurveTarget{};
    t.species = species;
    ComputeModelCurves(Mb, amplitude);
  };
  ContiHooks().equilibriumKernels = [](int gridPoint, double Mb) {
    ModelCurveTarget& t = CurrentModelCurveTarget();
    t = ModelCurveTarget{};
    t.kernels = WorkBlock().lammSolutions;
    t.gridPoint = gridPoint;
    t.ownRadii = Conti().ownEquilibriumRadii != 0;
    ComputeModelCurves(Mb, 1.0);
    t = ModelCurveTarget{};
  };
}
