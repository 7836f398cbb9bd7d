#include "distributions/direct_boundary.h"

#include <cmath>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/rmsd.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/user_interface.h"

DirectBoundaryHooks& DirectBoundary() {
  static DirectBoundaryHooks hooks;
  return hooks;
}

namespace {

// The g(s*) curve takes the place of the distribution: every array of the
// distribution's length follows its new length, so nothing that walks the
// grid (a mass axis, the companion curve, the prior) reads past its end.
void ReallocateDistribution(int n) {
  ContiSettings& cs = Conti();
  DistributionArrays& a = DistArrays();
  const int old = cs.gridSize;
  auto renew = [&](float*& p) {
    if (p) free_vector(p, 1, old);
    p = vector(1, n);
    for (int i = 1; i <= n; ++i) p[i] = 0.0f;
  };
  renew(cs.sValues);
  renew(cs.unitWeights);
  renew(cs.distribution);
  renew(cs.molarMasses);
  renew(cs.companionDistribution);
  auto renewD = [&](double*& p, double value) {
    if (p) free_dvector(p, 1, a.allocatedPrior);
    p = dvector(1, n);
    for (int i = 1; i <= n; ++i) p[i] = value;
  };
  renewD(cs.prior, 0.01);
  renewD(cs.priorCompanion, 0.0);
  a.allocatedN = n;
  a.allocatedPrior = n;
  cs.gridSize = n;
}

}  // namespace

void MakeDirectBoundaryModelFromGss(const CCurve& curve, int /*flag*/, int n) {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1 || n < 1 || curve.Count() < n) return;
  ModelParams& mp = gModelParams;
  if (mp.meniscus == 0.0f || mp.bottom == 0.0f) {
    platform::Tell("", "set Meniscus and Bottom first");
    return;
  }
  SetUnsetFitLimits(mp.meniscus, mp.bottom);
  UnpackModelParameters();
  // The noise of the fixed model is computed on the common grid: loaded
  // scans get their model there with it (it goes with the grid).
  if (s.gridLength > 0 && s.grid && static_cast<int>(s.gridModel.size()) > s.count)
    for (int j = 1; j <= s.count; ++j)
      if (!s.gridModel[j]) s.gridModel[j] = vector(1, s.gridLength);
  for (int j = 1; j <= s.count; ++j) {
    if (s.model[j])
      for (int i = 1; i <= s.points[j]; ++i) s.model[j][i] = 0.0f;
    if (static_cast<size_t>(j) < s.gridModel.size() && s.gridModel[j])
      for (int r = 1; r <= s.gridLength; ++r) s.gridModel[j][r] = 0.0f;
  }
  const float* sx = curve.x->data;  // points 1..n at data[0..n-1]
  const float* gy = curve.y->data;
  const double ds = n > 1 ? static_cast<double>(sx[1]) - sx[0] : 0.0;
  const double meniscus = mp.meniscus;
  for (int k = 1; k <= n; ++k) {
    const double sk = sx[k - 1];
    const double amount = ds * gy[k - 1];
    if (!(amount > 0.0)) continue;
    for (int j = 1; j <= s.count; ++j) {
      const double w2t = s.records[j].w2t;
      const double dilution = std::exp(-2.0 * w2t * sk * 1e-13);
      const double boundary = meniscus * std::exp(w2t * sk * 1e-13);
      const float add = static_cast<float>(amount * dilution);
      if (static_cast<size_t>(j) < s.gridModel.size() && s.gridModel[j])
        for (int r = s.firstGridPoint; r <= s.lastGridPoint; ++r)
          if (s.grid[r] >= boundary) s.gridModel[j][r] += add;
      if (s.model[j] && s.radii[j])
        for (int i = s.firstFitPoint[j]; i <= s.lastFitPoint[j]; ++i)
          if (s.radii[j][i] >= boundary) s.model[j][i] += add;
    }
  }
  if (DirectBoundary().computeFixedNoise) DirectBoundary().computeFixedNoise();
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if ((m.LsgStarModel || m.LsgStarWith1DiscreteModel) && DirectBoundary().distributionPlotPresent) {
    ReallocateDistribution(n);
    ContiSettings& cs = Conti();
    for (int k = 1; k <= n; ++k) {
      cs.sValues[k] = sx[k - 1];
      cs.unitWeights[k] = 1.0f;
      cs.distribution[k] = gy[k - 1];
      if (DirectBoundary().redrawDistribution) DirectBoundary().redrawDistribution();
    }
  }
  CalcRmsd();
}
