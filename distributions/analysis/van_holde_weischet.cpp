#include "distributions/analysis/van_holde_weischet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/straight_line.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/rmsd.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kCaption = "Van Holde Weischet Analysis";
// The ends of a boundary: points within this distance (cm) of the inner end
// give the baseline, of the outer end the plateau.
constexpr float kEndWidth = 0.05f;
// Below this many fractions the analysis gives up instead of coarsening.
constexpr int kFewestFractions = 5;
// A scan whose loading by mass balance falls this far below that of the
// early scans has lost material beyond the fit range: its fractions would
// divide a plateau without the fastest species. Wide enough for the offset
// of a scan's baseline (the loading moves by it) of noisy raw data.
constexpr double kLostLoading = 0.07;

VhwAnalysis& Last() {
  static VhwAnalysis a;
  return a;
}

// First and last point inside the fit limits of scan j, clipped to its points.
void FitRange(const ScanSet& s, int j, int& first, int& last) {
  first = std::max(1, s.firstFitPoint[j]);
  last = std::min(s.points[j], s.lastFitPoint[j]);
}

// Inner end: the first fit point for sedimentation, the last for flotation.
int InnerEnd(const ScanSet& s, const VhwAnalysis& a, int j) {
  int first, last;
  FitRange(s, j, first, last);
  return a.options.flotation ? last : first;
}
int OuterEnd(const ScanSet& s, const VhwAnalysis& a, int j) {
  int first, last;
  FitRange(s, j, first, last);
  return a.options.flotation ? first : last;
}

// Mean signal of the points from `end` towards `direction` within width of it.
float MeanNearEnd(const ScanSet& s, int j, int end, int direction, float width) {
  const float* r = s.radii[j];
  const float* y = s.signals[j];
  double sum = 0.0;
  int count = 0;
  for (int p = end; p >= 1 && p <= s.points[j] && std::fabs(r[p] - r[end]) <= width; p += direction) {
    sum += y[p];
    ++count;
  }
  return count > 0 ? static_cast<float>(sum / count) : 0.0f;
}

void Allocate(VhwAnalysis& a) {
  const size_t cells = static_cast<size_t>(a.scans) * a.fractions;
  a.fractionRadii.assign(cells, 0.0f);
  a.apparentS.assign(cells, 0.0f);
  a.modelRadii.assign(cells, 0.0f);
  a.observed.assign(cells, 0);
  a.intercepts.assign(static_cast<size_t>(a.fractions) + 1, 0.0f);
  a.slopes.assign(static_cast<size_t>(a.fractions) + 1, 0.0f);
}

// The inputs a result needs, each refused with its reason.
bool CheckInputs(const ScanSet& s, VhwAnalysis& a) {
  char text[200];
  if (s.count < 1) {
    a.failure = "load data first";
    return false;
  }
  if (a.options.meniscus == 0.0f || a.options.bottom == 0.0f) {
    a.failure = "set Meniscus and Bottom first";
    return false;
  }
  const ScanRecord& first = s.records[s.order[1]];
  if (!(first.rpm > 0.0f)) {
    a.failure = "the rotor speed of the first scan is 0: no s-values can be calculated";
    return false;
  }
  float tMin = 0, tMax = 0;
  for (int i = 1; i <= s.count; ++i) {
    const double t = s.records[s.order[i]].timeRead;
    if (!(t > 0.0)) {
      std::snprintf(text, sizeof text, "scan %d has the time %g s: every scan needs a positive time", i, t);
      a.failure = text;
      return false;
    }
    tMin = i == 1 ? static_cast<float>(t) : std::min(tMin, static_cast<float>(t));
    tMax = i == 1 ? static_cast<float>(t) : std::max(tMax, static_cast<float>(t));
  }
  if (!(tMax > tMin)) {
    a.failure = "the extrapolation to infinite time needs scans taken at two or more different times";
    return false;
  }
  return true;
}

// Least-squares slope of the signal of scan j over the points within width
// of `end` (walking in `direction`), and its standard error from the
// scatter about the line. False with fewer than three points.
bool SlopeNearEnd(const ScanSet& s, int j, int end, int direction, float width, double& slope, double& error) {
  const float* r = s.radii[j];
  const float* y = s.signals[j];
  double sr = 0, sy = 0;
  int n = 0;
  for (int p = end; p >= 1 && p <= s.points[j] && std::fabs(r[p] - r[end]) <= width; p += direction) {
    sr += r[p];
    sy += y[p];
    ++n;
  }
  if (n < 3) return false;
  const double rm = sr / n, ym = sy / n;
  double srr = 0, sry = 0;
  for (int k = 0, p = end; k < n; ++k, p += direction) {
    srr += (r[p] - rm) * (r[p] - rm);
    sry += (r[p] - rm) * (y[p] - ym);
  }
  if (!(srr > 0.0)) return false;
  slope = sry / srr;
  double rss = 0;
  for (int k = 0, p = end; k < n; ++k, p += direction) {
    const double e = y[p] - ym - slope * (r[p] - rm);
    rss += e * e;
  }
  error = std::sqrt(rss / (n - 2) / srr);
  return true;
}

// Positions (time order) of the scans whose plateau still holds the whole
// loading: the loading of each scan against the median of the first third,
// which the fastest species cannot yet have left; and whose outer end is
// still flat. Once the fastest boundary nears the end of the fit range its
// rising foot lies under the plateau window: the mean there falls short of
// the plateau and every fraction level of the scan with it, long before
// the loading shows it. The rise across the window, beyond that of the
// earliest scan (a fixed radial pattern rises alike in every scan), may be
// a tenth of a band, or three standard errors where noise hides less.
std::vector<int> ScansWithWholeLoading(const ScanSet& s, const VhwAnalysis& a) {
  std::vector<double> loading(static_cast<size_t>(a.scans) + 1, 0.0);
  std::vector<float> plateau(loading.size(), 0.0f);
  for (int i = 1; i <= a.scans; ++i) {
    const int j = a.scanIndex[i];
    plateau[i] = MeanNearEnd(s, j, OuterEnd(s, a, j), -1, kEndWidth) - a.baseline;
    loading[i] = VhwScanLoading(s, j, a.options.meniscus, a.baseline, plateau[i]);
  }
  std::vector<double> early(loading.begin() + 1, loading.begin() + 1 + std::max(1, a.scans / 3));
  std::sort(early.begin(), early.end());
  const double reference = early[early.size() / 2];
  double slope0 = 0.0, error0 = 0.0;
  const int first = a.scanIndex[1];
  const bool flatReference = SlopeNearEnd(s, first, OuterEnd(s, a, first), -1, kEndWidth, slope0, error0);
  std::vector<int> kept;
  for (int i = 1; i <= a.scans; ++i) {
    if (reference > 0.0 && loading[i] < (1.0 - kLostLoading) * reference) continue;
    const int j = a.scanIndex[i];
    double slope = 0.0, error = 0.0;
    if (i > 1 && flatReference && SlopeNearEnd(s, j, OuterEnd(s, a, j), -1, kEndWidth, slope, error)) {
      const double rise = (slope - slope0) * kEndWidth;
      const double band = plateau[i] / (a.resolution + 1.0);
      const double allowed = std::max(0.1 * band, 3.0 * kEndWidth * std::sqrt(error * error + error0 * error0));
      if (rise > allowed) continue;
    }
    kept.push_back(i);
  }
  return kept;
}

// The boundary of scan j inside its fit limits as the closest profile that
// never falls from the inner end outward (least squares, pooling adjacent
// violators): a sedimenting boundary rises from the baseline to the plateau
// (a floating one from the bottom inward). Noise on a plateau or baseline
// cannot then reach into a band it does not belong to; the profile stays
// contiguous, so each band holds one run of points. Indexed by point.
std::vector<double> MonotoneBoundary(const ScanSet& s, const VhwAnalysis& a, int j) {
  int first, last;
  FitRange(s, j, first, last);
  std::vector<double> fitted(static_cast<size_t>(std::max(s.points[j], 0)) + 1, 0.0);
  if (last < first) return fitted;
  const int step = a.options.flotation ? -1 : 1;
  const int start = a.options.flotation ? last : first;
  const int count = last - first + 1;
  // Blocks of pooled points: mean and size.
  std::vector<double> mean;
  std::vector<int> size;
  mean.reserve(static_cast<size_t>(count));
  size.reserve(static_cast<size_t>(count));
  for (int k = 0, p = start; k < count; ++k, p += step) {
    mean.push_back(s.signals[j][p]);
    size.push_back(1);
    while (mean.size() > 1 && mean[mean.size() - 2] > mean.back()) {
      const double m = mean.back();
      const int n = size.back();
      mean.pop_back();
      size.pop_back();
      mean.back() = (mean.back() * size.back() + m * n) / (size.back() + n);
      size.back() += n;
    }
  }
  int p = start;
  for (size_t b = 0; b < mean.size(); ++b)
    for (int k = 0; k < size[b]; ++k, p += step) fitted[static_cast<size_t>(p)] = mean[b];
  return fitted;
}

// The plateau of the whole loading at the times of the scans that lack it,
// from the plateaus of the complete scans (positions `kept`): ln plateau
// against t, a parabola from six scans on while it stays convex and falling
// (a sum of decaying exponentials), else a line. Empty when the complete
// scans cannot give it (fewer than three, a non-positive plateau, one
// time) or it does not fall with time.
std::vector<float> PredictPlateaus(const ScanSet& s, const VhwAnalysis& a, const std::vector<int>& kept) {
  if (kept.size() < 3) return {};
  std::vector<double> u, v;
  double t0 = 0.0, span = 0.0;
  for (int i : kept) t0 += a.times[i] / static_cast<double>(kept.size());
  for (int i : kept) span = std::max(span, std::fabs(a.times[i] - t0));
  if (!(span > 0.0)) return {};
  for (int i : kept) {
    const int j = a.scanIndex[i];
    const double p = MeanNearEnd(s, j, OuterEnd(s, a, j), -1, kEndWidth) - a.baseline;
    if (!(p > 0.0)) return {};
    u.push_back((a.times[i] - t0) / span);
    v.push_back(std::log(p));
  }
  std::vector<bool> missing(static_cast<size_t>(a.scans) + 1, true);
  for (int i : kept) missing[static_cast<size_t>(i)] = false;
  double latest = -1e300;
  for (int i = 1; i <= a.scans; ++i)
    if (missing[static_cast<size_t>(i)]) latest = std::max(latest, (a.times[i] - t0) / span);
  // Least squares of v = c0 + c1 u (+ c2 u^2) by the normal equations.
  auto fit = [&](int terms, double c[3]) {
    double A[3][4] = {};
    for (size_t k = 0; k < u.size(); ++k) {
      const double f[3] = {1.0, u[k], u[k] * u[k]};
      for (int r = 0; r < terms; ++r) {
        for (int q = 0; q < terms; ++q) A[r][q] += f[r] * f[q];
        A[r][3] += f[r] * v[k];
      }
    }
    for (int r = 0; r < terms; ++r) {
      if (!(std::fabs(A[r][r]) > 1e-12)) return false;
      for (int q = r + 1; q < terms; ++q) {
        const double m = A[q][r] / A[r][r];
        for (int k = r; k <= 3; ++k) A[q][k] -= m * A[r][k];
      }
    }
    for (int r = terms - 1; r >= 0; --r) {
      double sum = A[r][3];
      for (int q = r + 1; q < terms; ++q) sum -= A[r][q] * c[q];
      c[r] = sum / A[r][r];
    }
    return true;
  };
  double c[3] = {0.0, 0.0, 0.0};
  const bool parabola = u.size() >= 6 && fit(3, c) && c[2] >= 0.0 && c[1] + 2.0 * c[2] * latest <= 0.0;
  if (!parabola) {
    c[2] = 0.0;
    if (!fit(2, c) || !(c[1] < 0.0)) return {};
  }
  std::vector<float> predicted(static_cast<size_t>(a.scans) + 1, 0.0f);
  for (int i = 1; i <= a.scans; ++i) {
    if (!missing[static_cast<size_t>(i)]) continue;
    const double x = (a.times[i] - t0) / span;
    predicted[static_cast<size_t>(i)] = static_cast<float>(std::exp(c[0] + c[1] * x + c[2] * x * x));
  }
  return predicted;
}

}  // namespace

double VhwScanLoading(const ScanSet& s, int scan, float meniscus, float baseline, float plateau) {
  int first, last;
  FitRange(s, scan, first, last);
  const float* r = s.radii[scan];
  const float* c = s.signals[scan];
  while (first < last && r[first] < meniscus) ++first;
  if (first >= last) return 0.0;
  // From the meniscus to the first point the signal of that point.
  double I = (c[first] - baseline) * 0.5 * (static_cast<double>(r[first]) * r[first] - static_cast<double>(meniscus) * meniscus);
  for (int p = first + 1; p <= last; ++p)
    I += 0.5 * (c[p] + c[p - 1] - 2.0 * baseline) * 0.5 * (r[p] + r[p - 1]) * (r[p] - r[p - 1]);
  const double R = r[last];
  return (plateau * R * R - 2.0 * I) / (static_cast<double>(meniscus) * meniscus);
}

float EstimateVhwBaseline(const ScanSet& s, const VhwAnalysis& a, float tolerance) {
  const int j = a.scanIndex[a.scans];
  return MeanNearEnd(s, j, InnerEnd(s, a, j), a.options.flotation ? -1 : 1, tolerance);
}

void EstimateVhwPlateaus(const ScanSet& s, VhwAnalysis& a, float tolerance) {
  a.plateaus.assign(static_cast<size_t>(a.scans) + 1, 0.0f);
  const bool predicted = a.predictedPlateaus.size() == a.plateaus.size();
  for (int i = 1; i <= a.scans; ++i) {
    const int j = a.scanIndex[i];
    a.plateaus[i] = predicted && a.predictedPlateaus[i] > 0.0f
                        ? a.predictedPlateaus[i]
                        : MeanNearEnd(s, j, OuterEnd(s, a, j), a.options.flotation ? 1 : -1, tolerance) - a.baseline;
  }
}

bool DivideIntoBoundaryFractions(const ScanSet& s, VhwAnalysis& a) {
  const int n = a.fractions;
  std::vector<double> sum(static_cast<size_t>(n) + 1);
  std::vector<int> count(static_cast<size_t>(n) + 1);
  a.observed.assign(static_cast<size_t>(a.scans) * n, 0);
  for (int i = 1; i <= a.scans; ++i) {
    const int j = a.scanIndex[i];
    const double w = a.plateaus[i] / (a.resolution + 1.0);
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0);
    int first, last;
    FitRange(s, j, first, last);
    // Band of the profile at the inner and outer end; a fraction is seen
    // whole only when its band lies between them. Otherwise part of it lies
    // beyond an end of the fit range (early scans of a slow species, a
    // scan's offset lifting its baseline into band 1), and the mean radius
    // of what is left would bias the fraction's s(app).
    double qInner = 0.0, qOuter = 0.0;
    if (w != 0.0) {
      const std::vector<double> boundary = MonotoneBoundary(s, a, j);
      // Points beyond the cell (inside the meniscus, or the bottom for
      // flotation) hold no solution: the boundary is seen from the first
      // point in it. Otherwise a boundary still attached to the meniscus
      // would look whole above the empty points before it.
      int inner = InnerEnd(s, a, j);
      const float* r = s.radii[j];
      if (!a.options.flotation) {
        while (inner < last && r[inner] < a.options.meniscus) ++inner;
      } else if (a.options.bottom > a.options.meniscus) {
        while (inner > first && r[inner] > a.options.bottom) --inner;
      }
      qInner = (boundary[static_cast<size_t>(inner)] - a.baseline) / w;
      qOuter = (boundary[static_cast<size_t>(OuterEnd(s, a, j))] - a.baseline) / w;
      for (int p = first; p <= last; ++p) {
        // Band k holds q in [k - 1/2, k + 1/2]; a point on a shared edge goes
        // to the lower band.
        const double q = (boundary[static_cast<size_t>(p)] - a.baseline) / w;
        const double k = std::ceil(q - 0.5);
        if (!(k >= 1.0 && k <= n)) continue;
        const int f = static_cast<int>(k);
        sum[f] += s.radii[j][p];
        ++count[f];
      }
    }
    for (int f = 1; f <= n; ++f) {
      const bool whole = qInner < f - 0.5 && qOuter > f + 0.5;
      a.At(a.observed, i, f) = whole ? 1 : 0;
      if (count[f] > 0) {
        a.At(a.fractionRadii, i, f) = static_cast<float>(sum[f] / count[f]);
      } else if (!whole) {
        // Not reached within the fit range: shown at the nearer end.
        const int end = qOuter <= f + 0.5 && qInner < f - 0.5 ? OuterEnd(s, a, j) : InnerEnd(s, a, j);
        a.At(a.fractionRadii, i, f) = s.radii[j][end];
      } else {
        return false;  // a band the boundary skipped: noise, or too few points
      }
    }
  }
  // Each fraction's line needs two scans, at two times, that saw it whole.
  for (int f = 1; f <= n; ++f) {
    float tMin = 0.0f, tMax = 0.0f;
    bool any = false;
    for (int i = 1; i <= a.scans; ++i) {
      if (!a.At(a.observed, i, f)) continue;
      tMin = any ? std::min(tMin, a.times[i]) : a.times[i];
      tMax = any ? std::max(tMax, a.times[i]) : a.times[i];
      any = true;
    }
    if (!any || !(tMax > tMin)) return false;
  }
  return true;
}

void ComputeApparentS(VhwAnalysis& a) {
  const VhwOptions& o = a.options;
  const double ref = o.flotation ? o.bottom : o.meniscus;
  const double w2 = a.omega * a.omega;
  const bool delay = o.timeResolution && o.scanVelocity > 0.0f;
  for (int i = 1; i <= a.scans; ++i)
    for (int j = 1; j <= a.fractions; ++j) {
      const double r = a.At(a.fractionRadii, i, j);
      const double dt = delay ? (r - o.meniscus) * 60.0 / o.scanVelocity : 0.0;
      a.At(a.apparentS, i, j) = static_cast<float>(std::log(r / ref) * 1e13 / (w2 * (a.times[i] + dt)));
    }
}

void ExtrapolateToInfiniteTime(VhwAnalysis& a) {
  const int n = a.fractions;
  std::vector<float> x(static_cast<size_t>(a.scans) + 1), y(x.size());
  const bool masked = a.observed.size() == a.apparentS.size();
  // Per line its sums over the scans it took, for the refit below.
  struct Line {
    double m = 0, sx = 0, sxx = 0, sxy = 0;
  };
  std::vector<Line> lines(static_cast<size_t>(n) + 1);
  std::vector<double> intercept(static_cast<size_t>(n)), weight(static_cast<size_t>(n)),
      lever(static_cast<size_t>(n)), variance(static_cast<size_t>(n));
  // Lower fractions lie further from the moving front at every time (for
  // flotation further towards the bottom): their s-values at infinite time
  // cannot exceed those of higher fractions.
  const double sign = a.options.flotation ? -1.0 : 1.0;
  for (int j = 1; j <= n; ++j) {
    // Through the scans that saw the fraction whole (all without a record).
    int m = 0;
    Line& l = lines[j];
    for (int i = 1; i <= a.scans; ++i) {
      if (masked && !a.At(a.observed, i, j)) continue;
      ++m;
      x[m] = 1.0f / std::sqrt(a.times[i]);
      y[m] = a.At(a.apparentS, i, j);
      l.sx += x[m];
      l.sxx += static_cast<double>(x[m]) * x[m];
      l.sxy += static_cast<double>(x[m]) * y[m];
    }
    l.m = m;
    FitStraightLine(&a.intercepts[j], &a.slopes[j], x.data(), y.data(), m);
    intercept[j - 1] = sign * a.intercepts[j];
    // The residual sum of a line held at intercept c (slope refitted) rises
    // as (m Sxx - Sx^2) / Sxx (c - intercept)^2, little for a line through
    // few scans close in time; over the scatter of its points about it.
    lever[j - 1] = l.sxx > 0.0 ? std::max((l.m * l.sxx - l.sx * l.sx) / l.sxx, 0.0) : 0.0;
    double rss = 0.0;
    for (int k = 1; k <= m; ++k) {
      const double e = y[k] - a.intercepts[j] - a.slopes[j] * x[k];
      rss += e * e;
    }
    variance[j - 1] = m > 2 ? rss / (m - 2) : -1.0;
  }
  // A line's scatter, never taken below the median of all (a line through
  // two scans, or a few that happen to align, says little about it).
  std::vector<double> known;
  for (double v : variance)
    if (v >= 0.0) known.push_back(v);
  double floor = 0.0;
  if (!known.empty()) {
    std::nth_element(known.begin(), known.begin() + known.size() / 2, known.end());
    floor = known[known.size() / 2];
  }
  for (int j = 0; j < n; ++j) {
    const double v = std::max(variance[j], floor);
    weight[j] = v > 0.0 ? lever[j] / v : lever[j];
  }
  // The least-squares lines whose intercepts keep the fractions' order:
  // adjacent fractions out of order share the mean of their intercepts
  // weighted by how well each line fixes its own (pooling adjacent
  // violators), their slopes refitted to it. A line bent by a fraction
  // whose place in the boundary moves with time (its share of the plateau
  // dilutes at a different rate) or by noise gives way to straight ones.
  std::vector<double> mean;
  std::vector<double> mass;
  std::vector<int> size;
  for (int j = 0; j < n; ++j) {
    mean.push_back(intercept[j]);
    mass.push_back(std::max(weight[j], 1e-12));
    size.push_back(1);
    while (mean.size() > 1 && mean[mean.size() - 2] > mean.back()) {
      const double v = mean.back(), w = mass.back();
      const int k = size.back();
      mean.pop_back();
      mass.pop_back();
      size.pop_back();
      mean.back() = (mean.back() * mass.back() + v * w) / (mass.back() + w);
      mass.back() += w;
      size.back() += k;
    }
  }
  int j = 1;
  for (size_t b = 0; b < mean.size(); ++b)
    for (int k = 0; k < size[b]; ++k, ++j) {
      if (size[b] == 1) continue;
      const Line& l = lines[j];
      const double c = sign * mean[b];
      a.intercepts[j] = static_cast<float>(c);
      // sum of x (y - c) over sum of x^2
      a.slopes[j] = l.sxx > 0.0 ? static_cast<float>((l.sxy - c * l.sx) / l.sxx) : 0.0f;
    }
}

bool AnalyseVanHoldeWeischet(const ScanSet& s, const VhwOptions& o, VhwAnalysis& a) {
  a = VhwAnalysis{};
  a.options = o;
  if (!CheckInputs(s, a)) return false;
  a.scans = s.count;
  a.scanIndex.assign(static_cast<size_t>(a.scans) + 1, 0);
  a.times.assign(static_cast<size_t>(a.scans) + 1, 0.0f);
  int fewestPoints = 0;
  for (int i = 1; i <= a.scans; ++i) {
    const int j = s.order[i];
    a.scanIndex[i] = j;
    a.times[i] = static_cast<float>(s.records[j].timeRead);
    int first, last;
    FitRange(s, j, first, last);
    const int points = std::max(0, last - first + 1);
    fewestPoints = i == 1 ? points : std::min(fewestPoints, points);
  }
  if (fewestPoints < 1) {
    a.failure = "no data points inside the fit limits";
    return false;
  }
  a.omega = s.records[a.scanIndex[1]].rpm * kOmegaPerRpm;
  // More fractions than points could never all be filled.
  a.resolution = std::clamp(std::floor(o.resolution), 1.0f, static_cast<float>(fewestPoints));
  a.fractions = static_cast<int>(a.resolution);
  a.baseline = EstimateVhwBaseline(s, a, kEndWidth);
  if (!o.flotation && a.scans > 2) {
    const std::vector<int> kept = ScansWithWholeLoading(s, a);
    std::vector<float> predicted;
    if (static_cast<int>(kept.size()) < a.scans) predicted = PredictPlateaus(s, a, kept);
    if (!predicted.empty()) {
      a.predictedPlateaus = std::move(predicted);
      a.predicted = a.scans - static_cast<int>(kept.size());
    } else if (static_cast<int>(kept.size()) < a.scans) {
      std::vector<int> index(1, 0);
      std::vector<float> times(1, 0.0f);
      size_t next = 0;
      for (int i = 1; i <= a.scans; ++i) {
        if (next < kept.size() && kept[next] == i) {
          index.push_back(a.scanIndex[i]);
          times.push_back(a.times[i]);
          ++next;
        } else {
          a.leftOutScans.push_back(a.scanIndex[i]);
        }
      }
      a.leftOut = static_cast<int>(a.leftOutScans.size());
      a.scans = static_cast<int>(kept.size());
      a.scanIndex = std::move(index);
      a.times = std::move(times);
      if (a.scans < 2 || !(*std::max_element(a.times.begin() + 1, a.times.end()) >
                           *std::min_element(a.times.begin() + 1, a.times.end()))) {
        a.failure =
            "the material has left the fit range in all scans but one: there is no set of boundaries with a "
            "plateau of the whole loading";
        return false;
      }
    }
  }
  Allocate(a);
  EstimateVhwPlateaus(s, a, kEndWidth);
  while (!DivideIntoBoundaryFractions(s, a)) {
    if (a.fractions < kFewestFractions) {
      char text[240];
      std::snprintf(text, sizeof text,
                    "some boundary fractions stay empty even at a resolution of %d: the boundaries are too "
                    "noisy or incomplete for the van Holde-Weischet analysis",
                    a.fractions);
      a.failure = text;
      return false;
    }
    a.resolution -= 1.0f;
    a.fractions -= 1;
    a.reduced = true;
    Allocate(a);
    EstimateVhwPlateaus(s, a, kEndWidth);
  }
  ComputeApparentS(a);
  ExtrapolateToInfiniteTime(a);
  return true;
}

void ComputeVhwModel(ScanSet& s, VhwAnalysis& a) {
  const VhwOptions& o = a.options;
  const double ref = o.flotation ? o.bottom : o.meniscus;
  const double w2 = a.omega * a.omega;
  std::vector<float> radii(static_cast<size_t>(a.fractions) + 1);
  // The step model of loaded scan sc at time t with its plateau; radii[j]
  // the boundary of fraction j from the extrapolated lines.
  auto stepModel = [&](int sc, double t, float plateau) {
    for (int j = 1; j <= a.fractions; ++j)
      radii[j] = static_cast<float>(ref * std::exp(1e-13 * w2 * t * (a.intercepts[j] + a.slopes[j] / std::sqrt(t))));
    float* model = s.model[sc];
    const float* r = s.radii[sc];
    const int P = s.points[sc];
    if (!model) return;
    const float w = plateau / (a.resolution + 1.0f);
    auto level = [&](int j) { return a.baseline + (j - 0.5f) * w; };
    int first, last;
    FitRange(s, sc, first, last);
    if (!o.flotation) {
      int p = 1;
      while (p <= P && (p <= first || r[p] <= radii[1])) model[p++] = a.baseline;
      for (int j = 2; j <= a.fractions; ++j)
        while (p <= P && r[p] <= radii[j]) model[p++] = level(j);
      while (p <= P) model[p++] = a.baseline + plateau;
    } else {
      int p = P;
      while (p >= 1 && (p >= last || r[p] >= radii[1])) model[p--] = a.baseline;
      for (int j = 2; j <= a.fractions; ++j)
        while (p >= 1 && r[p] >= radii[j]) model[p--] = level(j);
      while (p >= 1) model[p--] = a.baseline + plateau;
    }
  };
  for (int i = 1; i <= a.scans; ++i) {
    stepModel(a.scanIndex[i], a.times[i], a.plateaus[i]);
    for (int j = 1; j <= a.fractions; ++j) a.At(a.modelRadii, i, j) = radii[j];
  }
  // Scans left out of the analysis show the same lines with their own plateau.
  for (int sc : a.leftOutScans) {
    const float plateau = MeanNearEnd(s, sc, OuterEnd(s, a, sc), o.flotation ? 1 : -1, kEndWidth) - a.baseline;
    stepModel(sc, s.records[sc].timeRead, plateau);
  }
}

const VhwAnalysis& LastVhwAnalysis() { return Last(); }

bool RunVanHoldeWeischet() {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1) return false;
  VhwOptions o;
  o.resolution = Conti().resolution;
  o.flotation = gModelSelectorFlags.VanHoldeWeischetFlotation != 0;
  o.meniscus = gModelParams.meniscus;
  o.bottom = gModelParams.bottom;
  o.timeResolution = LammSettings().simulateTimeResolution != 0;
  o.scanVelocity = LammSettings().scanVelocity;
  DistributionPlotHost* host = GetDistributionPlotHost();
  if (host) {
    char text[80];
    std::snprintf(text, sizeof text, "dividing data in %d boundary fractions       ",
                  static_cast<int>(std::floor(o.resolution)));
    host->DrawText(10, 50, text);
  }
  VhwAnalysis& a = Last();
  if (!AnalyseVanHoldeWeischet(s, o, a)) {
    platform::Tell(kCaption, a.failure, platform::BoxIcon::Error);
    return false;
  }
  if (a.predicted > 0) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "%d of %d scans hold less than the loading or no plateau at the end of the fit range: the fastest "
                  "material has reached it. Their plateaus follow from the radial dilution in the other scans, and "
                  "they enter only the boundary fractions they hold whole.",
                  a.predicted, a.scans);
    platform::Tell(kCaption, text);
  }
  if (a.leftOut > 0) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "%d of %d scans hold less than the loading or no plateau at the end of the fit range: the fastest "
                  "material has reached it, and "
                  "their boundary fractions would miss it. The analysis uses the other %d scans.",
                  a.leftOut, a.leftOut + a.scans, a.scans);
    platform::Tell(kCaption, text);
  }
  if (a.reduced) {
    char text[120];
    std::snprintf(text, sizeof text, "to avoid empty fractions, resolution was reduced to %.0f", a.resolution);
    platform::Tell(kCaption, text);
  }
  gModelParams.baseline = a.baseline;

  // The distribution: extrapolated s against the boundary fraction.
  ContiSettings& cs = Conti();
  const int n = a.fractions;
  FreeDistributionArrays();
  AllocDistributionArrays(n, 0, 0);
  for (int j = 1; j <= n; ++j) {
    cs.sValues[j] = a.intercepts[j];
    cs.distribution[j] = static_cast<float>(j) / (a.resolution + 1.0f);
  }
  BuildDistributionPlot();
  RestyleDistributionPlot(6, 6, {});
  cs.distributionShown = 1;

  ComputeVhwModel(s, a);
  CalcRmsd();
  if (LsgExtrapolation().plotExtrapolation)
    ShowExtrapolationPlot(a.times.data(), a.apparentS, a.scans, n, a.intercepts.data(), a.slopes.data(),
                          &a.observed);
  RedrawDistributionPlot();
  if (host) host->RequestRepaint();
  return true;
}
