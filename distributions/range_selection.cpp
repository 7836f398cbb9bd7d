#include "distributions/range_selection.h"

#include <algorithm>
#include <cmath>

#include "data/data_messages.h"
#include "data/scan_set.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_run_hooks.h"
#include "distributions/distribution_arrays.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/integrate_distribution.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"

namespace {

using data_messages::Format;

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

// c at a inside [x[i], x[i+1]]; the left value on a segment of zero width.
float ValueAt(const float* x, const float* c, int i, float a) {
  const double w = static_cast<double>(x[i + 1]) - x[i];
  if (w == 0.0) return c[i];
  return static_cast<float>(c[i] + (static_cast<double>(c[i + 1]) - c[i]) * (a - x[i]) / w);
}

// The first i in 1..n-1 with x[i] <= a < x[i+1]; 0 when there is none.
int Bracket(const float* x, int n, float a) {
  for (int i = 1; i <= n - 1; ++i)
    if (x[i] <= a && a < x[i + 1]) return i;
  return 0;
}

// The distributions whose report is the c(s) one.
bool SedimentationReport() {
  const ModelSelectorFlags& m = F();
  return m.AnyLsgModel() || m.ElectrophoresisCVModel || m.SedTransformModel || m.LsgExtrapolationModel ||
         m.AnyCsFamilyModel() || ContiHooks().bufferCorrection;
}

}  // namespace

RangePolyline IntegrationRangePolyline(const float* x, const float* c, int n, float a, float b) {
  RangePolyline p;
  if (!x || !c || n < 1 || a == b) return p;
  const float lo = std::min(a, b), hi = std::max(a, b);
  int start = 1, end = n;
  float startX = x[1], startY = c[1], endX = x[n], endY = c[n];
  if (lo > x[1]) {
    start = Bracket(x, n, lo);
    if (start == 0) return p;
    startX = lo;
    startY = ValueAt(x, c, start, lo);
  }
  if (hi < x[n]) {
    end = Bracket(x, n, hi);
    if (end == 0) return p;
    endX = hi;
    endY = ValueAt(x, c, end, hi);
  }
  if (end < start) return p;
  p.x.reserve(static_cast<size_t>(end - start + 2));
  p.y.reserve(p.x.capacity());
  p.x.push_back(startX);
  p.y.push_back(startY);
  for (int i = start + 1; i <= end; ++i) {
    p.x.push_back(x[i]);
    p.y.push_back(c[i]);
  }
  p.x.push_back(endX);
  p.y.push_back(endY);
  return p;
}

const float* RangeSelectionAxis() {
  // The range is drawn over the curve the plot shows, on that curve's axis
  // (ls-g*(s) and the hybrid model keep no molar masses).
  const bool mass = gModelSelectorFlags.AxisShownIsMass(CurrentDataTypeFlags().dls != 0, Conti().transformedToCM != 0);
  return mass ? Conti().molarMasses : Conti().sValues;
}

RangePolyline DistributionRangePolyline(float a, float b) {
  const ContiSettings& cs = Conti();
  const float* x = RangeSelectionAxis();
  if (!x || !cs.distribution) return {};
  // A term at point 1 is drawn apart from the distribution: its abscissa
  // need not even lie on the grid.
  const int skip = LeadingTermModel() ? 1 : 0;
  return IntegrationRangePolyline(x + skip, cs.distribution + skip, cs.gridSize - skip, a, b);
}

ZoomRange DistributionZoomRange(const CCurve* curve, float x1, float x2) {
  ZoomRange z;
  z.x1 = std::min(x1, x2);
  z.x2 = std::max(x1, x2);
  const int n = curve ? curve->Count() : 0;
  for (int i = 0; i < n; ++i) {
    const float x = curve->x->data[i];
    if (x >= z.x1 && x <= z.x2) z.yMax = std::max(z.yMax, curve->y->data[i]);
  }
  return z;
}

ZoomRange DistributionFullRange(const CCurve* curve) {
  ZoomRange z;
  const int n = curve ? curve->Count() : 0;
  if (n < 1) return z;
  z.x1 = curve->x->data[0];
  z.x2 = curve->x->data[n - 1];
  for (int i = 0; i < n; ++i) z.yMax = std::max(z.yMax, curve->y->data[i]);
  return z;
}

SelectedRangeIntegral IntegrateRange(float x1, float x2, float y1, float y2) {
  SelectedRangeIntegral r;
  r.x1 = x1;
  r.x2 = x2;
  r.y1 = y1;
  r.y2 = y2;
  IntegrateDistribution(x1, x2, &r.c, &r.average, &r.total, &r.sd, &r.mn, &r.mz);
  if (r.total == 0.0f) r.total = 1.0f;
  return r;
}

std::string SelectedRangeReport(const SelectedRangeIntegral& r) {
  const ModelSelectorFlags& m = F();
  const double c = r.c, pct = r.Percent(), a = r.average, d = r.sd;
  if (CurrentDataTypeFlags().dls) {
    const bool byD = m.DlsIDModel != 0;
    const double e = byD ? 7.0 : 9.0;
    return Format(byD ? "Integral from %f to %f F:\nTotal Signal = %f (%.3f%% of total)\nSignal Average D = %f F"
                      : "Integral from %f to %f nm:\nTotal Signal = %f (%.3f%% of total)\nSignal Average R = %f nm",
                  std::pow(10.0, r.x1 + e), std::pow(10.0, r.x2 + e), c, pct, a);
  }
  if (m.AnyCsff0Model()) {
    const ContiSettings& cs = Conti();
    return Format(
        "Integral from %f to %f (x) and %f to %f (y):\nLoading Concentration [Signal] = %f (%.3f%% of total)\n"
        "Weight (Signal) Average sw = %f\nWeight (Signal) Average ff0w = %f\nestimated M from (sw,ff0w): = %f\n"
        "D-average M = %f\nZ (Signal) Average M = %f\n (Signal) Average Rs = %f\n Std. deviation[as sqrt(second "
        "central moment)] ds = %.3f (best done without regularization)\n Std. deviation[as sqrt(second central "
        "moment)] dM = %.3f\n Std. deviation[as sqrt(second central moment)] dR = %.3f",
        static_cast<double>(r.x1), static_cast<double>(r.x2), static_cast<double>(r.y1),
        static_cast<double>(r.y2), c, pct, a, cs.csffFf,
        static_cast<double>(CalculateMff02(r.average, static_cast<float>(cs.csffFf))), cs.csffMFromSD,
        cs.csffWeightAverageM, cs.csffStokesRadius, d, cs.csffMSD, cs.csffStokesRadiusSD);
  }
  if (SedimentationReport())
    return Format(
        "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%% of total)\nWeight (Signal) Average = "
        "%f\n Std. deviation[as sqrt(second central moment)] = %.3f (best done without regularization)\nsw "
        "transformed to 20,w conditions = %f",
        static_cast<double>(r.x1), static_cast<double>(r.x2), c, pct, a, d,
        static_cast<double>(SToS20wCurrent(r.average)));
  if (m.FMScalingLawModel)
    return Format(
        "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%% of total)\nWeight (Signal) Average = "
        "%f\nz-Average = %f\nMz/Mw = %f\n Std. deviation[as sqrt(second central moment)] = %.3f (best done "
        "without regularization)",
        static_cast<double>(r.x1), static_cast<double>(r.x2), c, pct, a, static_cast<double>(r.mz),
        r.average > 0.0f ? static_cast<double>(r.mz) / a : 0.0, d);
  return Format(
      "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%% of total)\nWeight (Signal) Average = "
      "%f\n Std. deviation[as sqrt(second central moment)] = %.3f (best done without regularization)",
      static_cast<double>(r.x1), static_cast<double>(r.x2), c, pct, a, d);
}

SwErrorEstimate EstimateSwError(const std::vector<double>& R, const std::vector<double>& t, double c) {
  SwErrorEstimate e;
  const size_t n = std::min(R.size(), t.size());
  double sum = 0.0;
  for (size_t j = 0; j + 1 < n; ++j) {
    // Scans taken at the same time say nothing about transport.
    if (!(R[j] > 0.0 && R[j + 1] > 0.0) || t[j + 1] == t[j]) continue;
    sum += (R[j + 1] - R[j]) / (c * (t[j + 1] - t[j]));
    ++e.pairs;
  }
  if (e.pairs > 0) e.error = std::fabs(1e13 * sum / e.pairs);
  return e;
}

std::string SwErrorLine(const SwErrorEstimate& e) {
  if (e.pairs <= 3) return {};
  return Format("\nbased on residuals (shaded bitmap) via transport method, estimated error in sw is %.1e S",
                e.error);
}
