#include "distributions/integrate_distribution.h"

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

// One segment of the piecewise-linear c(x), clipped to [lo, hi]. False when
// nothing of it lies inside. c = a x + b on the segment.
struct Segment {
  double x1, x2, c1, c2, a, b;
};

bool ClipSegment(double x1, double x2, double c1, double c2, double lo, double hi, Segment& s) {
  s.a = (c2 - c1) / (x2 - x1);
  s.b = c1 - s.a * x1;
  if (x1 >= hi || x2 <= lo) return false;
  if (x1 < lo) {
    x1 = lo;
    c1 = s.a * lo + s.b;
  }
  if (x2 > hi) {
    x2 = hi;
    c2 = s.a * hi + s.b;
  }
  s.x1 = x1;
  s.x2 = x2;
  s.c1 = c1;
  s.c2 = c2;
  return true;
}

}  // namespace

DistributionMoments IntegratePiecewiseLinear(const float* x, const float* c, int first, int n,
                                             double lo, double hi, bool wantSecond,
                                             bool wantInverse) {
  DistributionMoments m;
  if (!x || !c) return m;
  Segment s{};
  for (int i = first; i < n; ++i) {
    const double x1 = x[i], x2 = x[i + 1];
    if (x1 == x2) continue;
    const double c1 = c[i], c2 = c[i + 1];
    m.total += (x2 - x1) * (c1 + c2) / 2.0;
    if (!ClipSegment(x1, x2, c1, c2, lo, hi, s)) continue;
    const double p1 = s.x1, p2 = s.x2;
    m.area += (p2 - p1) * (s.c1 + s.c2) / 2.0;
    m.first += s.b * (p2 * p2 - p1 * p1) / 2.0 + s.a * (p2 * p2 * p2 - p1 * p1 * p1) / 3.0;
    if (wantSecond)
      m.second += s.b * (p2 * p2 * p2 - p1 * p1 * p1) / 3.0 +
                  s.a * (p2 * p2 * p2 * p2 - p1 * p1 * p1 * p1) / 4.0;
    if (wantInverse) m.inverse += s.a * (p2 - p1) + s.b * (std::log(p2) - std::log(p1));
  }
  return m;
}

void IntegrateDistribution2D(float lo, float hi, float r1, float r2) {
  ContiSettings& cs = Conti();
  const float* z = cs.grid2DAmplitude;
  if (!z || !cs.grid2DS || !cs.grid2DM || !cs.grid2DD || !cs.grid2DStokes || !cs.grid2DFf) return;
  const uint8_t* sw = cs.display2DSwitch;
  const float* first = cs.grid2DS;
  const float* second = cs.grid2DFf;
  if (sw[0]) {
    second = cs.grid2DM;
  } else if (sw[1]) {
    second = cs.grid2DStokes;
  } else if (sw[2]) {
    second = cs.grid2DD;
  } else if (sw[3]) {
    first = cs.grid2DM;
  }
  // The discrete component or the buffer's signal at point 1 has no place
  // on the s-f/f0 plane.
  const int k0 = LeadingTermModel() ? 2 : 1;
  double sc = 0, sm = 0, sd = 0, ss = 0, sr = 0, sf = 0;
  auto inside = [&](int i) {
    return first[i] >= lo && first[i] <= hi && second[i] >= r1 && second[i] <= r2;
  };
  for (int i = k0; i <= cs.grid2DSize; ++i) {
    if (!inside(i)) continue;
    const double c = z[i];
    sc += c;
    sm += cs.grid2DM[i] * c;
    sd += cs.grid2DD[i] * c;
    ss += cs.grid2DS[i] * c;
    sr += cs.grid2DStokes[i] * c;
    sf += cs.grid2DFf[i] * c;
  }
  cs.csffWeightAverageM = cs.csffStokesRadius = cs.csffFf = cs.csffMFromSD = 0.0;
  cs.csffStokesRadiusSD = cs.csffMSD = 0.0;
  if (sc <= 0.0) return;
  cs.csffWeightAverageM = sm / sc;
  cs.csffStokesRadius = sr / sc;
  cs.csffFf = sf / sc;
  // M of the weight-average s and D by the Svedberg relation.
  if (sd > 0.0)
    cs.csffMFromSD = DFromSM(static_cast<float>(ss / sc), static_cast<float>(sd / sc),
                             gSolutionConditions.temperature - kAbsoluteZero);
  double vr = 0, vm = 0;
  for (int i = k0; i <= cs.grid2DSize; ++i) {
    if (!inside(i)) continue;
    const double c = z[i];
    vr += c * std::pow(cs.grid2DStokes[i] - cs.csffStokesRadius, 2);
    vm += c * std::pow(cs.grid2DM[i] - cs.csffWeightAverageM, 2);
  }
  cs.csffStokesRadiusSD = std::sqrt(vr / sc);
  cs.csffMSD = std::sqrt(vm / sc);
}

const float* DistributionIntegrationAxis() {
  const ContiSettings& cs = Conti();
  // The c(M) family integrates over its molar masses, I(D) over its log D;
  // no integration is offered while a c(s) is shown as c(M).
  return F().AxisShownIsMass(CurrentDataTypeFlags().dls != 0, false) ? cs.molarMasses : cs.sValues;
}

void IntegrateDistribution(float lo, float hi, float* area, float* mean, float* total, float* sd,
                           float* mn, float* mz) {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (area) *area = 0.0f;
  if (mean) *mean = 0.0f;
  if (total) *total = 0.0f;
  if (sd) *sd = 0.0f;
  if (mn) *mn = 0.0f;
  if (mz) *mz = 0.0f;

  if (F().AnyCsff0Model() && cs.grid2DAmplitude)
    IntegrateDistribution2D(lo, hi, cs.csffRangeFfMin, cs.csffRangeFfMax);

  const bool dls = DlsDistributionModel() || CurrentDataTypeFlags().dls;
  const float* x = DistributionIntegrationAxis();
  int first = LeadingTermModel() ? 2 : 1;
  double dlo = lo, dhi = hi;
  // Exponent that turns a log10 grid value of the DLS models into linear units.
  const double dlsOffset = F().DlsIDModel ? 7.0 : 9.0;
  std::vector<float> linear;
  if (dls) {
    first = 1;
    if (cs.dlsLinearAxis && x) {
      linear.assign(static_cast<size_t>(n) + 1, 0.0f);
      for (int i = 1; i <= n; ++i) linear[i] = static_cast<float>(std::pow(10.0, x[i] + dlsOffset));
      x = linear.data();
      dlo = std::pow(10.0, dlo + dlsOffset);
      dhi = std::pow(10.0, dhi + dlsOffset);
    }
  }
  const bool wantNZ = sd && mn && mz && !dls && dlo > 0.0 && dhi > 0.0;
  const DistributionMoments m =
      IntegratePiecewiseLinear(x, cs.distribution, first, n, dlo, dhi, sd != nullptr, wantNZ);
  if (m.area == 0.0) return;
  if (area) *area = static_cast<float>(m.area);
  if (total) *total = static_cast<float>(m.total);
  double w = m.first / m.area;
  if (dls && !cs.dlsLinearAxis) w = std::pow(10.0, w + dlsOffset);
  if (mean) *mean = static_cast<float>(w);
  if (sd && !dls) {
    const double mu = m.first / m.area;
    *sd = static_cast<float>(std::sqrt(std::fabs(m.second / m.area - mu * mu)));
  }
  if (wantNZ) {
    *mn = m.inverse != 0.0 ? static_cast<float>(m.area / m.inverse) : 0.0f;
    *mz = m.first != 0.0 ? static_cast<float>(m.second / m.first) : 0.0f;
  }
}
