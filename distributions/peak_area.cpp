#include "distributions/peak_area.h"

#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"

namespace {

constexpr float kFloor = 0.01f;  // a flank ends below 1 % of the peak

// Continue past point j (the next one outwards from `here`) while it is
// above the shoulder or the curve still falls towards it.
bool Continues(const float* c, int j, int here, float shoulder) { return c[j] > shoulder || c[j] < c[here]; }

int WalkLeft(const float* c, int i, float f) {
  const float p = c[i];
  for (int k = 0;; ++k) {
    const int here = i - k;
    // Grid point 1 ends the walk before anything left of it is read.
    if (here == 1) return 1;
    if (!Continues(c, here - 1, here, f * p)) return here;
    if (c[here] / p < kFloor) return here;
    if (k >= 2 && c[here] > c[here + 1]) return here + 1;
  }
}

int WalkRight(const float* c, int n, int i, float f) {
  const float p = c[i];
  for (int m = 0;; ++m) {
    const int here = i + m;
    if (!Continues(c, here + 1, here, f * p)) return here;
    if (c[here] / p < kFloor) return here;
    if (here + 1 == n) return n;
    if (m >= 2 && c[here] > c[here - 1]) return here - 1;
  }
}

}  // namespace

PeakBounds WalkPeakFlanks(const float* c, int n, int i, float f) {
  PeakBounds b;
  if (!c || i < 3 || i > n - 2 || !(c[i] > c[i - 1])) return b;
  b.accepted = true;
  b.lo = b.hi = i;
  if (c[i] == 0.0f) return b;
  b.lo = WalkLeft(c, i, f);
  b.hi = WalkRight(c, n, i, f);
  return b;
}

PeakArea IntegratePeakAt(int i, float f) {
  PeakArea a;
  const ContiSettings& cs = Conti();
  const float* x = DistributionIntegrationAxis();
  if (!x || !cs.distribution || cs.gridSize < 1) return a;
  const PeakBounds b = WalkPeakFlanks(cs.distribution, cs.gridSize, i, f);
  if (b.accepted) {
    a.iLo = b.lo;
    a.iHi = b.hi;
    a.sLo = x[b.lo];
    a.sHi = x[b.hi];
  } else if (i >= 1 && i <= cs.gridSize) {
    a.sLo = a.sHi = x[i];
  }
  float total = 0.0f;
  IntegrateDistribution(a.sLo, a.sHi, &a.area, &a.sw, &total);
  a.fraction = total > 0.0f ? a.area / total : 0.0f;
  return a;
}
