#include "distributions/prior_assembly.h"

#include <cmath>

#include "distributions/brent_roots.h"
#include "distributions/conti_context.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/integrate_distribution.h"
#include "distributions/prior_knowledge.h"
#include "numerics/arrays.h"
#include "numerics/matrix_files.h"
#include "numerics/regrid.h"

namespace {

bool PeakUsable(const PriorPeak& p) {
  return p.location != 0.0 && p.width != -1.0 && p.amplitude != 0.0;
}

// The prior lies over the array the distribution is drawn and integrated
// over: its peaks are entered in S for every model with an s grid (also the
// variants that are selected without the c(s) switch, and ls-g*(s)), and in
// molar mass for c(M) and f(M). The prior of discrete species is made from
// the peaks of a c(s) and always lies over s.
const float* PriorAxis() {
  return Priors().discreteSpecies ? Conti().sValues : DistributionIntegrationAxis();
}

}  // namespace

int AssemblePriorProbability() {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (n < 1 || !cs.prior || !cs.priorCompanion) return 1;
  double* x = cs.priorCompanion;  // the prior's abscissa
  const float* axis = PriorAxis();
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
