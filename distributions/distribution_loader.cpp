#include "distributions/distribution_loader.h"

#include <cmath>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"

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
                    CurrentScanSet().dataChanged || !a.kernelsWhole;
  return a.kernelRebuild;
}
