#include "distributions/distribution_transforms.h"

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_detection.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/cvector.h"
#include "platform/paths.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

// Divides by the local grid width from index k0 on; absolute widths or signed.
void DivideByWidth(float* c, const float* x, int k0, int n, bool absolute) {
  if (n - k0 < 1) return;
  auto w = [absolute](float d) { return absolute ? std::fabs(d) : d; };
  c[k0] = 2.0f * c[k0] / w(x[k0 + 1] - x[k0]);
  for (int i = k0 + 1; i <= n - 1; ++i) c[i] = c[i] / (w(x[i + 1] - x[i - 1]) / 2.0f);
  c[n] = 2.0f * c[n] / w(x[n] - x[n - 1]);
}

// Area under c over x[k0..n] by the trapezoid rule.
double Area(const float* c, const float* x, int k0, int n) {
  if (n - k0 < 1) return 0.0;
  double a = 0.5 * c[k0] * (x[k0 + 1] - x[k0]) + 0.5 * c[n] * (x[n] - x[n - 1]);
  for (int i = k0 + 1; i <= n - 1; ++i) a += 0.5 * (x[i + 1] - x[i - 1]) * c[i];
  return a;
}

// The first grid point that belongs to the distribution.
int FirstDistributionPoint() { return LeadingTermModel() ? 2 : 1; }

// Amplitude of grid point i in a solution vector v of the block. With a
// fixed buffer concentration the solve ran over kernels 2..n only, so its
// element i - 1 belongs to point i, and point 1 is the fixed concentration.
double GridAmplitude(const NormalEquationBlock& b, const double* v, int i) {
  if (!b.fixedComponent) return v[i];
  if (i > 1) return v[i - 1];
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  return hooks.bufferSignal ? hooks.bufferSignal() : 1.0;
}

void Redraw(const char* xTitle = nullptr, const char* yTitle = nullptr) {
  DistributionArrays& a = DistArrays();
  if (xTitle) a.lastSpec.xTitle = xTitle;
  if (yTitle) a.lastSpec.yTitle = yTitle;
  if (a.plotExists && GetDistributionPlotHost()) {
    if (xTitle || yTitle) GetDistributionPlotHost()->Build(a.lastSpec);
    GetDistributionPlotHost()->Redraw();
  }
}

}  // namespace

void ConvertAmplitudesToDensity() {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (n <= 1 || !cs.distribution) return;
  const ScanSet& sc = CurrentScanSet();
  if (F().LsgStarModel || F().LsgStarWith1DiscreteModel) {
    if (sc.count >= 1 && sc.lastGridPoint >= 1 && sc.grid && gModelParams.meniscus > 0) {
      // The fastest species whose boundary the first scan still shows; in
      // the linear geometry of electrophoresis a velocity in um/s.
      const ScanRecord& first = sc.records[sc.order[1]];
      const double r = sc.grid[sc.lastGridPoint], m = gModelParams.meniscus;
      const double sCut = F().ElectrophoresisLsgModel ? (r - m) / (1e-4 * first.timeRead)
                                                       : 1e13 * std::log(r / m) / first.w2t;
      for (int i = 1; i <= n; ++i)
        if (cs.sValues[i] > sCut) cs.distribution[i] = cs.companionDistribution[i] = 0.0f;
    }
  }
  double total = 0.0;
  for (int i = 1; i <= n; ++i) total += cs.distribution[i];
  cs.totalAmplitude = static_cast<float>(total);
  const bool dls = CurrentDataTypeFlags().dls != 0;
  const float* x = cs.sValues;
  bool absolute = true;
  int k0 = FirstDistributionPoint();
  std::vector<float> axis;
  if (dls) {
    absolute = false;
    k0 = 1;
    const bool byD = F().DlsIDModel != 0;
    const float* src = byD ? cs.molarMasses : cs.sValues;
    if (cs.dlsLinearAxis) {
      axis.assign(static_cast<size_t>(n) + 1, 0.0f);
      for (int i = 1; i <= n; ++i) axis[i] = std::pow(10.0f, src[i] + (byD ? 7.0f : 9.0f));
      x = axis.data();
    } else {
      x = src;
    }
  } else if (MassGridModel()) {
    x = cs.molarMasses;
    absolute = false;
  }
  DivideByWidth(cs.distribution, x, k0, n, absolute);
  if (cs.showBothRegularizations) {
    double t2 = 0.0;
    for (int i = 1; i <= n; ++i) t2 += cs.companionDistribution[i];
    cs.totalAmplitude = static_cast<float>(t2);
    DivideByWidth(cs.companionDistribution, x, k0, n, absolute);
  }
}

bool CopySolutionToDistribution() {
  ContiSettings& cs = Conti();
  const NormalEquationBlock& b = NeqBlock();
  const int n = cs.gridSize;
  if (!b.solution || !cs.distribution) return false;
  if (TwoDimensionalModel() && cs.grid2DAmplitude) {
    for (int j = 1; j <= cs.grid2DSize && j <= b.gridPoints; ++j)
      cs.grid2DAmplitude[j] = static_cast<float>(b.solution[j]);
    for (int i = 1; i <= n; ++i) {
      double sum = 0.0;
      for (int k = 1; k <= cs.ffCount; ++k) sum += cs.grid2DAmplitude[(k - 1) * n + i];
      cs.distribution[i] = static_cast<float>(sum);
    }
  } else {
    for (int i = 1; i <= n && i <= b.gridPoints; ++i)
      cs.distribution[i] = static_cast<float>(GridAmplitude(b, b.solution, i));
  }
  return true;
}

void ShowContiSolution() {
  ContiSettings& cs = Conti();
  NormalEquationBlock& b = NeqBlock();
  const NoiseFill fill = CalculateppAFit();
  RestoreScanChoice();
  gModelParams.baseline = fill.baseline;
  gModelParameterVector.P[15] = fill.baseline;
  const int n = cs.gridSize;
  if (TwoDimensionalModel() && cs.grid2DAmplitude) {
    const int n2 = cs.grid2DSize;
    for (int j = 1; j <= n2; ++j) cs.grid2DAmplitude[j] = static_cast<float>(b.solution[j]);
    for (int i = 1; i <= n; ++i) cs.distribution[i] = 0.0f;
    for (int k = 1; k <= cs.ffCount; ++k)
      for (int i = 1; i <= n; ++i) cs.distribution[i] += cs.grid2DAmplitude[(k - 1) * n + i];
  } else if (b.solution && cs.distribution) {
    for (int i = 1; i <= n; ++i) {
      cs.distribution[i] = static_cast<float>(GridAmplitude(b, b.solution, i));
      cs.companionDistribution[i] = b.savedSolution ? static_cast<float>(GridAmplitude(b, b.savedSolution, i)) : 0.0f;
    }
  }
  // Beside the exported normal equations: the amplitudes they solved for.
  if (cs.exportMatrices && cs.distribution) {
    const bool map = TwoDimensionalModel() && cs.grid2DAmplitude;
    DumpDistributionValues(platform::Combine(platform::SystemTempFolder(), kDistributionValuesFile),
                           map ? cs.grid2DAmplitude : cs.distribution, map ? cs.grid2DSize : n);
  }
  ConvertAmplitudesToDensity();
  if (!TwoDimensionalModel()) {
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
  }
  Redraw();
  if (cs.runCommand && GetDistributionPlotHost()) GetDistributionPlotHost()->RequestRepaint();
  if (F().WormlikeChainCSModel) WriteWormChainMofS();
}

bool TransformDistributionToS20(float eta, float rho, float vbar, float vbar20) {
  if (MassGridModel()) return false;
  ContiSettings& cs = Conti();
  const float f = SToS20w(1.0f, eta, rho, vbar, vbar20);
  const int k0 = FirstDistributionPoint();
  for (int i = 1; i <= cs.gridSize; ++i) {
    cs.sValues[i] *= f;
    // A density per S grows by 1/f; the term of point 1 is an amplitude.
    if (i < k0) continue;
    cs.distribution[i] /= f;
    cs.companionDistribution[i] /= f;
  }
  DistArrays().transformedToS20 = true;
  Redraw("s20 [S]");
  return true;
}

bool TransformDistributionToStokesRadius(float vbar20) {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (n < 2) return false;
  const bool both = cs.showBothRegularizations;
  const int k0 = FirstDistributionPoint();
  const double a1 = Area(cs.distribution, cs.sValues, k0, n);
  const double a2 = both ? Area(cs.companionDistribution, cs.sValues, k0, n) : 0.0;
  for (int i = 1; i <= n; ++i) cs.sValues[i] = S20ToStokesRadius(cs.sValues[i], vbar20) * 1e9f;
  auto rescale = [&](float* c, double before) {
    for (int i = k0; i <= n; ++i) c[i] = 2.0f * cs.sValues[i] * c[i];
    const double after = Area(c, cs.sValues, k0, n);
    if (after != 0.0)
      for (int i = k0; i <= n; ++i) c[i] = static_cast<float>(c[i] * before / after);
  };
  rescale(cs.distribution, a1);
  if (both) rescale(cs.companionDistribution, a2);
  DistArrays().transformedToR = true;
  Redraw("Rh [nm]");
  return true;
}

bool CorrectDistributionForSignal(const std::string& file) {
  ContiSettings& cs = Conti();
  CVector coefficients;
  coefficients.ReadFromFile(file.c_str());
  const int m = static_cast<int>(coefficients.Count());
  // Without coefficients there is no signal to correct for: the caller says so.
  if (m < 1) return false;
  for (int i = FirstDistributionPoint(); i <= cs.gridSize; ++i) {
    const double R = cs.sValues[i];
    double a = m > 0 ? coefficients[0] : 0.0, p = 1.0;
    for (int k = 1; k < m; ++k) {
      p *= R;
      a += coefficients[k] * p;
    }
    if (a == 0.0) continue;
    cs.distribution[i] = static_cast<float>(cs.distribution[i] / a);
    if (cs.showBothRegularizations)
      cs.companionDistribution[i] = static_cast<float>(cs.companionDistribution[i] / a);
  }
  Redraw();
  return true;
}

void DifferentialToIntegralDistribution() {
  if (CurrentDataTypeFlags().dls) return;
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  const int k0 = FirstDistributionPoint();
  if (n < k0) return;
  const float* x = MassGridModel() ? cs.molarMasses : cs.sValues;
  float* c = cs.distribution;
  double G = 0.0;
  float previous = c[k0];
  c[k0] = 0.0f;
  for (int i = k0 + 1; i <= n; ++i) {
    const float ci = c[i];
    G += 0.5 * (previous + ci) * (x[i] - x[i - 1]);
    previous = ci;
    c[i] = static_cast<float>(G);
  }
  // The curve is the running integral now, no longer the density.
  const std::string below = DistArrays().lastSpec.yTitle;
  Redraw(nullptr, below.empty() ? nullptr : ("integral of " + below).c_str());
}
