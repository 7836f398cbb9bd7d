#include "distributions/distribution_loader.h"

#include <cmath>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/prior_knowledge.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/matrix_files.h"
#include "numerics/regrid.h"

namespace {

bool PeakUsable(const PriorPeak& p) {
  return p.location != 0.0 && p.width != -1.0 && p.amplitude != 0.0;
}

// The loader's list of s-based models, as the prior abscissa reads it.
bool PriorOverS() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  return f.CSModel || f.ConformationalChangeCSModel || f.FixFF0FloatingVbarCSModel ||
         f.GeneralScalingLawCSModel || f.WormlikeChainCSModel || f.BimodalFF0CSModel ||
         f.BimodalFF0With1DiscreteCSModel || f.CSWith1DiscreteModel ||
         f.CSWith1DiscreteComponent || f.CSWithMsTableModel || f.CSInvariantDModel ||
         f.NonidealCSModel || f.AnyCsff0Model() || f.DlsIRhModel ||
         Priors().discreteSpecies;
}

}  // namespace

bool LoadDistributionFromFile(const std::string& path) {
  if (TwoDimensionalModel()) return false;
  FreeDistributionArrays();
  CCurve c;
  if (!c.ReadFromFile(path.c_str(), 1, 2) || c.Count() < 1) return false;
  const int n = c.Count();
  AllocDistributionArrays(n, 0, 0);
  ContiSettings& cs = Conti();
  const bool sBased = SBasedModel() && !LsgModel() && !gModelSelectorFlags.ZoneCentrifugationLsgModel;
  for (int i = 1; i <= n; ++i) {
    const float x = (*c.x)[i - 1], y = (*c.y)[i - 1];
    cs.distribution[i] = y;
    cs.companionDistribution[i] = 0.0f;
    cs.sValues[i] = sBased ? x : 0.0f;
    cs.molarMasses[i] = sBased ? 0.0f : x;
  }
  DistributionArrays& a = DistArrays();
  if (a.normaliseOnLoad) {
    // A term at point 1 that is no part of the distribution is an amplitude
    // of its own: it neither enters the sum and area nor is rescaled.
    const int k0 = LeadingTermModel() ? 2 : 1;
    const float* x = sBased ? cs.sValues : cs.molarMasses;
    double sum = 0.0, area = 0.0;
    for (int i = k0; i <= n; ++i) sum += cs.distribution[i];
    for (int i = k0; i < n; ++i)
      area += (cs.distribution[i + 1] + cs.distribution[i]) * (x[i + 1] - x[i]) / 2.0;
    if (area > 0.0) a.normalisationFactor = static_cast<float>(sum / area);
    for (int i = k0; i <= n; ++i) cs.distribution[i] /= a.normalisationFactor;
  }
  BuildDistributionPlot();
  const ScanSet& s = CurrentScanSet();
  const int points = s.count >= 1 ? s.points[1] : 0;
  if (!AllocDistributionWorkArrays(n, s.count, points)) return false;
  if (!AllocNormalEquationBlock(n, s.count, points)) {
    FreeDistributionWorkArrays(n);
    return false;
  }
  return true;
}

bool ContiFF0GridChanged() {
  DistributionArrays& a = DistArrays();
  const ContiSettings& cs = Conti();
  if (cs.silent) return true;
  if (!TwoDimensionalModel()) {
    a.kernelRebuild = true;
    return true;
  }
  a.kernelRebuild = !cs.grid2DAmplitude || !cs.grid2DS || !WorkBlock().lammSolutions ||
                    cs.resolution != a.lastResolution || cs.ffResolution != a.lastFfResolution ||
                    cs.sMin != a.lastSMin || cs.sMax != a.lastSMax || cs.ffMin != a.lastFfMin ||
                    cs.ffMax != a.lastFfMax ||
                    static_cast<int>(std::floor(cs.resolution)) * static_cast<int>(cs.ffResolution) !=
                        a.lastGrid2DSize ||
                    CurrentScanSet().dataChanged;
  return a.kernelRebuild;
}

int AssemblePriorProbability() {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (n < 1 || !cs.prior || !cs.priorCompanion) return 1;
  double* x = cs.priorCompanion;  // the prior's abscissa
  const float* axis = PriorOverS() ? cs.sValues : cs.molarMasses;
  for (int i = 1; i <= n; ++i) x[i] = axis ? axis[i] : 0.0;
  PriorKnowledge& src = Priors();
  if (src.use) {
    if (!src.priorFile.empty()) {
      int rows = 0;
      float** m = ReadMatrixFile(src.priorFile.c_str(), 2, &rows);
      if (!m || rows < 1) {
        if (!SerialFitRunning()) ContiErrorOrCode("Could Not Open MaxEnt Prior File", 0);
        src.use = false;
        if (m) free_matrix(m, 1, 2, 1, rows);
      } else {
        InterpolateOntoGridDF(n, x, cs.prior, rows, m[1], m[2]);
        free_matrix(m, 1, 2, 1, rows);
      }
    } else if ((src.imported || src.discreteSpecies) && src.importedX.size() > 1) {
      const int count = static_cast<int>(src.importedX.size()) - 1;
      InterpolateOntoGridMixed(n, x, cs.prior, count, src.importedX.data(), src.importedY.data());
    } else {
      for (int i = 1; i <= n; ++i) cs.prior[i] = 0.001;
      for (int k = 1; k <= 10; ++k) {
        const PriorPeak& p = src.peaks[k];
        if (!PeakUsable(p)) continue;
        if (p.width == 0.0) {
          int j = 0;
          for (int i = 1; i <= n - 2; ++i)
            if (x[i] <= p.location && p.location < x[i + 1]) {
              j = i;
              break;
            }
          if (j <= 1) continue;
          const double A = p.amplitude / (x[j + 1] - x[j]);
          if (x[j] == p.location) {
            cs.prior[j] += 2.0 * A;
            continue;
          }
          PriorBoundaryProfile bp;
          bp.x0 = x[j - 1];
          bp.x1 = x[j];
          bp.x2 = x[j + 1];
          bp.x3 = x[j + 2];
          bp.h = A;
          bp.target = p.location;
          const double d =
              zbrentRoot([&bp](double w) { return PriorBoundaryObjective(bp, w); }, -A, A, 1e-4);
          cs.prior[j] += A + d;
          cs.prior[j + 1] += A - d;
        } else if (p.width > 0.0) {
          for (int i = 1; i <= n; ++i) {
            const double dx = p.location - x[i];
            cs.prior[i] += p.amplitude * std::exp(-dx * dx / (p.width * p.width)) / (1.772 * p.width);
          }
        }
      }
    }
  }
  const DistributionArrays& a = DistArrays();
  if (TwoDimensionalModel() && cs.secondPeakTable && cs.grid2DS && a.allocated2D > 0 &&
      cs.prior && a.allocatedPrior >= a.allocated2D) {
    const int n2 = a.allocated2D;
    for (int j = 1; j <= n2; ++j) cs.prior[j] = 0.001;
    for (int k = 1; k <= 10; ++k) {
      const PriorPeak& p = src.secondPeaks[k];
      if (p.location == 0.0 || p.width == 0.0 || p.amplitude == 0.0) continue;
      for (int j = 1; j <= n2; ++j) {
        const double dx = p.location - cs.grid2DS[j];
        cs.prior[j] += p.amplitude * std::exp(-dx * dx / (p.width * p.width)) / (1.772 * p.width);
      }
    }
  }
  return 1;
}

int GrowGridFrom(float* x, int nmax, int m, float smin, float smax, float sm, int* first) {
  for (int i = 1; i <= nmax; ++i) x[i] = smin + (i - 1) * (smax - smin) / (m - 1);
  int j = 1;
  while (j < nmax && !(x[j + 1] >= sm)) ++j;
  if (j >= nmax) return -1;
  const float h = (smax - smin) / (m - 1);
  float v = x[j] + h;
  int i = j + 1;
  while (v <= smax && i < m && i < nmax) {
    const float d = (v / sm) * h;
    x[i] = x[i - 1] + d;
    v = x[i] + d;
    x[i + 1] = v;
    ++i;
  }
  if (first) *first = j;
  return i;
}

void MakeMixedLogGrid(float* out, float smin, float smax, float sm, int n) {
  const int nmax = 2 * n;
  float* x = vector(1, nmax + 1);
  for (int i = 1; i <= n; ++i) x[i] = smin + (i - 1) * (smax - smin) / (n - 1);
  if (smin < sm && sm < smax && n >= 11) {
    int first = 0;
    int k = GrowGridFrom(x, nmax, n, smin, smax, sm, &first);
    int m = n;
    while (k >= 0 && k < n && m < 100 * n) {
      ++m;
      k = GrowGridFrom(x, nmax, m, smin, smax, sm, &first);
    }
    if (k > n) k = GrowGridFrom(x, nmax, m - 1, smin, smax, sm, &first);
    if (k < 0) {
      for (int i = 1; i <= n; ++i) x[i] = smin + (i - 1) * (smax - smin) / (n - 1);
      ContiErrorOrCode(
          "problem in log-spaced grid - turn off minimum s-value for log-spaced grid "
          "(Size-Distribution Options)",
          0);
    } else if (k < n) {
      for (int i = k + 1; i <= n; ++i) x[i] = 2.0f * x[i] - x[i - 1];
    }
  }
  for (int i = 1; i <= n; ++i) out[i] = x[i];
  free_vector(x, 1, nmax + 1);
}
