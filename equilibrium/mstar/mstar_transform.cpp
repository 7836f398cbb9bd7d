#include "equilibrium/mstar/mstar_transform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "equilibrium/mstar/polyfit.h"
#include "fit/model_params.h"
#include "numerics/constants.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/user_interface.h"

namespace {

constexpr double kGasConstant = 8.31451e7;  // erg/(mol K)
constexpr double kExtensionStep = 0.001;    // cm
// Radii are floats: an extension point this close to a or b counts as reaching it.
constexpr double kRadiusTolerance = 1e-6;   // cm
constexpr float kMarginToEnds = 0.01f;      // cm, fit limits and ranges keep off a and b

const char* const kOrderTooHigh = "Error: extrapolation order higher than number of data points";

template <typename T>
T* At(std::vector<T*>& table, int i) {
  return i >= 0 && static_cast<size_t>(i) < table.size() ? table[static_cast<size_t>(i)] : nullptr;
}

void Zeroed(std::vector<float>& v, int n) { v.assign(static_cast<size_t>(n) + 1, 0.0f); }

// 1-based index of the radius nearest to x0.
int NearestIndex(const std::vector<float>& r, int n, float x0) {
  int best = 1;
  for (int i = 2; i <= n; ++i)
    if (std::fabs(r[static_cast<size_t>(i)] - x0) < std::fabs(r[static_cast<size_t>(best)] - x0)) best = i;
  return best;
}

// First index with r >= lo and last with r <= hi (last < first: none).
void IndexWindow(const std::vector<float>& r, int n, float lo, float hi, int& first, int& last) {
  first = n + 1;
  for (int i = 1; i <= n; ++i)
    if (r[static_cast<size_t>(i)] >= lo) {
      first = i;
      break;
    }
  last = 0;
  for (int i = n; i >= 1; --i)
    if (r[static_cast<size_t>(i)] <= hi) {
      last = i;
      break;
    }
}

// Polynomial of the given order through (r, v) over first..last, evaluated
// on grid[1..100]; false (with the box) when the range holds too few points.
bool Extrapolate(int order, const std::vector<float>& r, const std::vector<float>& v, int first, int last,
                 const std::vector<float>& grid, std::vector<float>& out) {
  const int count = last - first + 1;
  if (count <= order || count < 1) {
    ErrorBox(kOrderTooHigh);
    return false;
  }
  std::vector<double> x(static_cast<size_t>(count) + 1), y(static_cast<size_t>(count) + 1);
  for (int i = 1; i <= count; ++i) {
    x[static_cast<size_t>(i)] = r[static_cast<size_t>(first + i - 1)];
    y[static_cast<size_t>(i)] = v[static_cast<size_t>(first + i - 1)];
  }
  polyfit(order, x.data(), y.data(), count, grid.data(), out.data(), kMStarGridPoints, nullptr, nullptr, 0, 0, 0);
  return true;
}

float FitLimitLeft() { return CurrentScanSet().leftFitLimit; }
float FitLimitRight() { return CurrentScanSet().rightFitLimit; }

void OrderRange(float* range, float a, float b, float left, float right) {
  if (range[2] < range[1]) std::swap(range[1], range[2]);
  if (range[1] < a) range[1] = a + kMarginToEnds;
  if (range[1] < left) range[1] = left;
  if (range[2] > b) range[2] = b - kMarginToEnds;
  if (range[2] > right) range[2] = right;
}

// The masked signal near the meniscus: 0 below a, the straight line from
// (a, c_a + b_d) to the first point inside the fit limits up to the left
// fit limit, the signal up to b, 0 beyond; never negative.
void MaskWithStraightLine(MStarDataSet& set, float a, float b, float left, float ca, float bd) {
  const double r1 = set.r[static_cast<size_t>(set.iFirst)], y1 = set.y[static_cast<size_t>(set.iFirst)];
  const double y0 = ca + bd;
  for (int i = 1; i <= set.n; ++i) {
    const float r = set.r[static_cast<size_t>(i)];
    double v;
    if (r < a) {
      v = 0;
    } else if (r <= left) {
      v = r1 > a ? y0 + (y1 - y0) * (r - a) / (r1 - a) : y0;
    } else if (r <= b) {
      v = set.y[static_cast<size_t>(i)];
    } else {
      v = 0;
    }
    set.s[static_cast<size_t>(i)] = v > 0 ? static_cast<float>(v) : 0.0f;
  }
}

// M* over the points inside the fit limits (kDa) from the signal v.
// Sets the negative-M* flag for negative values and vanishing denominators.
void MStarFrom(const std::vector<float>& r, const std::vector<float>& v, int n, float a, double k, double ca,
               double bd, float lo, float hi, bool openInterval, std::vector<float>& out, bool& negative) {
  std::fill(out.begin(), out.end(), 0.0f);
  if (n < 2) return;
  int j = 1;
  while (j < n - 1 && !(r[static_cast<size_t>(j + 1)] > a)) ++j;
  std::vector<double> u(static_cast<size_t>(n) + 1, 0.0), I(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) u[static_cast<size_t>(i)] = v[static_cast<size_t>(i)] - bd - ca;
  {
    const double rr = r[static_cast<size_t>(j + 1)];
    I[static_cast<size_t>(j + 1)] = u[static_cast<size_t>(j + 1)] * rr * (rr - a);
  }
  for (int i = j + 1; i <= n - 1; ++i) {
    const double r0 = r[static_cast<size_t>(i)], r1 = r[static_cast<size_t>(i + 1)];
    I[static_cast<size_t>(i + 1)] =
        I[static_cast<size_t>(i)] + 0.5 * (u[static_cast<size_t>(i + 1)] * r1 + u[static_cast<size_t>(i)] * r0) * (r1 - r0);
  }
  for (int i = j + 1; i <= n; ++i) {
    const float ri = r[static_cast<size_t>(i)];
    const bool inside = openInterval ? (ri > lo && ri < hi) : (ri >= lo && ri <= hi);
    if (!inside) continue;
    const double Ii = I[static_cast<size_t>(i)];
    if (Ii == 0.0 && ca == 0.0) continue;
    const double den = 2.0 * k * Ii + k * ca * (static_cast<double>(ri) * ri - static_cast<double>(a) * a);
    const double m = den != 0.0 ? u[static_cast<size_t>(i)] / den : 0.0;
    if (den == 0.0 || !std::isfinite(m)) {
      negative = true;
      continue;
    }
    if (m < 0) negative = true;
    out[static_cast<size_t>(i)] = static_cast<float>(m * 0.001);
  }
}

void ComputeLnC(MStarDataSet& set, const MStarSettings& st, double bd) {
  const int n = set.n;
  for (int i = 1; i <= n; ++i) {
    const size_t u = static_cast<size_t>(i);
    set.r2[u] = set.r[u] * set.r[u];
    set.rCopy[u] = set.r[u];
    set.lncRaw[u] = set.cRaw[u] = 0.0f;
    if (i < set.iFirst || i > set.iLast) continue;
    const double c = set.s[u] - bd;
    if (c > 0) {
      set.cRaw[u] = static_cast<float>(c);
      set.lncRaw[u] = static_cast<float>(std::log(c));
    }
  }
  set.lncSmooth = set.lncRaw;
  set.cSmooth = set.cRaw;
  CVector x2, x, lnc, c;
  x2.Attach(set.r2.data(), n, 1);
  x.Attach(set.rCopy.data(), n, 1);
  lnc.Attach(set.lncSmooth.data(), n, 1);
  c.Attach(set.cSmooth.data(), n, 1);
  lnc.ResampleSmooth(kMStarResamplePoints, x2, st.sgHalfWidth, st.sgHalfWidth, st.sgOrder);
  c.ResampleSmooth(kMStarResamplePoints, x, st.sgHalfWidth, st.sgHalfWidth, st.sgOrder);
  std::fill(set.lnf.begin(), set.lnf.end(), 0.0f);
  if (st.cmSmoothing)
    for (int i = 1; i <= n; ++i) {
      const double v = set.f[static_cast<size_t>(i)] - bd;
      if (v > 0) set.lnf[static_cast<size_t>(i)] = static_cast<float>(std::log(v));
    }
}

// Ordinary least squares of ln c on r^2 over iFirst .. iLast - 1; Mw_lin in kDa.
float LinearFit(MStarDataSet& set, double k) {
  std::fill(set.lncLine.begin(), set.lncLine.end(), 0.0f);
  const int first = set.iFirst, last = set.iLast - 1;
  const int count = last - first + 1;
  if (count < 2 || k == 0.0) return 0.0f;
  double xm = 0, ym = 0;
  for (int i = first; i <= last; ++i) {
    xm += set.r2[static_cast<size_t>(i)];
    ym += set.lncRaw[static_cast<size_t>(i)];
  }
  xm /= count;
  ym /= count;
  double sxy = 0, sxx = 0;
  for (int i = first; i <= last; ++i) {
    const double dx = set.r2[static_cast<size_t>(i)] - xm;
    sxy += dx * (set.lncRaw[static_cast<size_t>(i)] - ym);
    sxx += dx * dx;
  }
  if (!(sxx > 0)) return 0.0f;
  const double slope = sxy / sxx, intercept = ym - slope * xm;
  for (int i = 1; i <= set.n; ++i)
    set.lncLine[static_cast<size_t>(i)] = static_cast<float>(intercept + slope * set.r2[static_cast<size_t>(i)]);
  return static_cast<float>(slope * 0.001 / k);
}

void ApparentMolarMass(MStarDataSet& set, const MStarSettings& st, double k) {
  const int n = set.n;
  std::fill(set.mwappDlnc.begin(), set.mwappDlnc.end(), 0.0f);
  std::fill(set.mwappDcdr.begin(), set.mwappDcdr.end(), 0.0f);
  std::fill(set.mwappFit.begin(), set.mwappFit.end(), 0.0f);
  if (n < 2 || k == 0.0) return;
  const double scale = 0.001 / k;
  for (int i = 1; i <= n - 1; ++i) {
    const size_t a = static_cast<size_t>(i), b = a + 1;
    const double dr2 = static_cast<double>(set.r2[b]) - set.r2[a];
    const double dr = static_cast<double>(set.r[b]) - set.r[a];
    if (dr2 != 0.0) {
      set.mwappDlnc[a] = static_cast<float>(scale * (set.lncSmooth[b] - set.lncSmooth[a]) / dr2);
      if (st.cmSmoothing) set.mwappFit[a] = static_cast<float>(scale * (set.lnf[b] - set.lnf[a]) / dr2);
    }
    const double csum = static_cast<double>(set.cSmooth[b]) + set.cSmooth[a];
    const double den = dr * 0.25 * (static_cast<double>(set.r[b]) + set.r[a]) * csum;
    if (csum != 0.0 && den != 0.0)
      set.mwappDcdr[a] = static_cast<float>(scale * 0.5 * (set.cSmooth[b] - set.cSmooth[a]) / den);
  }
  const size_t last = static_cast<size_t>(n);
  set.mwappDlnc[last] = set.mwappDlnc[last - 1];
  set.mwappDcdr[last] = set.mwappDcdr[last - 1];
  set.mwappFit[last] = set.mwappFit[last - 1];
  std::vector<float>& shown = st.dlncForm ? set.mwappDlnc : set.mwappDcdr;
  // The moving mean needs a full window somewhere in the profile.
  if (st.mwappHalfWidth > 0 && n >= 2 * st.mwappHalfWidth + 1) {
    CVector view;
    view.Attach(shown.data(), n, 1);
    view.Smooth(st.mwappHalfWidth, st.mwappHalfWidth, 1);
  }
}

void WeightAverage(MStarState& st, int d) {
  MStarDataSet& set = st.sets[static_cast<size_t>(d)];
  const float b = gModelParams.bottom;
  float& mwavg = st.mwavg[static_cast<size_t>(d)];
  if (st.settings.cmSmoothing) {
    const int j = NearestIndex(set.r, set.n, b);
    if (j < 3) return;  // the line needs the two points before the bottom
    const double r1 = set.r[static_cast<size_t>(j - 2)], r2 = set.r[static_cast<size_t>(j - 1)];
    const double m1 = set.mstarFit[static_cast<size_t>(j - 2)], m2 = set.mstarFit[static_cast<size_t>(j - 1)];
    if (r2 == r1) return;
    mwavg = static_cast<float>(m1 + (m2 - m1) * (b - r1) / (r2 - r1));
  } else {
    int first, last;
    IndexWindow(set.r, set.n, st.bottomRange[1], st.bottomRange[2], first, last);
    if (!Extrapolate(st.settings.mstarOrder, set.r, set.mstar, first, last, set.bottomGrid, set.bottomMStar))
      return;
    mwavg = set.bottomMStar[kMStarGridPoints];
  }
}

void Fill(std::vector<float>& v, int n, float value) { v.assign(static_cast<size_t>(n) + 1, value); }

// lo + (hi - lo)(j - 1)/99, j = 1..100.
void Grid(std::vector<float>& g, double lo, double hi) {
  g.assign(kMStarGridPoints + 1, 0.0f);
  for (int j = 1; j <= kMStarGridPoints; ++j)
    g[static_cast<size_t>(j)] = static_cast<float>(lo + (hi - lo) * (j - 1) / (kMStarGridPoints - 1));
}

void SetFitWindow(MStarDataSet& set) {
  int first, last;
  IndexWindow(set.r, set.n, FitLimitLeft(), FitLimitRight(), first, last);
  // Limits outside the profile leave the whole profile.
  if (first > set.n) first = 1;
  if (last < 1) last = set.n;
  if (last < first) last = first;
  set.iFirst = first;
  set.iLast = last;
}

}  // namespace

std::string MStarInputProblem() {
  const ScanSet& s = CurrentScanSet();
  const float a = gModelParams.meniscus, b = gModelParams.bottom;
  char text[300];
  if (s.count < 1) return "equilibrium data set must be loaded for MSTAR";
  if (a <= 0 || b <= 0) return "meniscus and bottom must be set for the M* transformation";
  if (a >= b) {
    std::snprintf(text, sizeof text, "meniscus (%.3f cm) must lie below the bottom (%.3f cm)", a, b);
    return text;
  }
  if (!(1.0f - gSolutionConditions.vbarRho > 0)) {
    std::snprintf(text, sizeof text, "1 - vbar*density = %.4f: no M* transformation of buoyant masses <= 0",
                  1.0 - gSolutionConditions.vbarRho);
    return text;
  }
  for (int d = 1; d <= s.count; ++d) {
    const std::string name =
        static_cast<size_t>(d) < s.fileNames.size() ? s.fileNames[static_cast<size_t>(d)] : std::string();
    const int points = static_cast<size_t>(d) < s.points.size() ? s.points[static_cast<size_t>(d)] : 0;
    const ScanSet& cs = s;
    const bool hasArrays = static_cast<size_t>(d) < cs.radii.size() && cs.radii[static_cast<size_t>(d)] &&
                           static_cast<size_t>(d) < cs.signals.size() && cs.signals[static_cast<size_t>(d)];
    if (points < 2 || !hasArrays) {
      std::snprintf(text, sizeof text, "data set %d (%s) holds no profile", d, name.c_str());
      return text;
    }
    const float rpm = static_cast<size_t>(d) < s.records.size() ? s.records[static_cast<size_t>(d)].rpm : 0.0f;
    if (!(rpm > 0)) {
      std::snprintf(text, sizeof text, "data set %d (%s) was taken at %.0f rpm: no M* transformation", d,
                    name.c_str(), rpm);
      return text;
    }
  }
  return std::string();
}

float MStarBaseline(int d) {
  ScanSet& s = CurrentScanSet();
  if (gModelParams.riNoiseFit && s.riNoise && d >= 1 && d <= s.count) return s.riNoise[d];
  return gModelParams.baseline;
}

double MStarBuoyancyFactor(int d) {
  const ScanSet& s = CurrentScanSet();
  if (d < 1 || static_cast<size_t>(d) >= s.records.size()) return 0.0;
  const double omega = 2.0 * kPi * s.records[static_cast<size_t>(d)].rpm / 60.0;
  const double RT = kGasConstant * gSolutionConditions.temperature;
  if (!(RT > 0)) return 0.0;
  return (1.0 - gSolutionConditions.vbarRho) * omega * omega / (2.0 * RT);
}

bool CheckMStarSmoothingRange(MStarState& st) {
  ScanSet& sc = CurrentScanSet();
  const int N = sc.count;
  const float a = gModelParams.meniscus, b = gModelParams.bottom;
  const bool smoothing = st.settings.cmSmoothing;
  if (st.count != N || static_cast<int>(st.sets.size()) != N + 1) {
    st.count = N;
    st.k.assign(static_cast<size_t>(N) + 1, 0.0f);
    st.ca.assign(static_cast<size_t>(N) + 1, 0.0f);
    st.mwavg.assign(static_cast<size_t>(N) + 1, 0.0f);
    st.mwLin.assign(static_cast<size_t>(N) + 1, 0.0f);
    st.sets.assign(static_cast<size_t>(N) + 1, MStarDataSet{});
    st.hinge.assign(static_cast<size_t>(N) + 1, MStarHinge{});
  } else {
    st.arraysExisted = true;
  }
  bool missing = false;
  for (int d = 1; d <= N; ++d) {
    MStarDataSet& set = st.sets[static_cast<size_t>(d)];
    const int points = sc.points[static_cast<size_t>(d)];
    const float* radii = At(sc.radii, d);
    const float* signal = At(sc.signals, d);
    const float* model = At(sc.model, d);
    const double r1 = radii[1], rn = radii[points];
    int left = 0, right = 0;
    if (r1 > a)
      while (true) {
        ++left;
        if (r1 - left * kExtensionStep <= a + kRadiusTolerance) break;
      }
    if (rn < b)
      while (true) {
        ++right;
        if (rn + right * kExtensionStep >= b - kRadiusTolerance) break;
      }
    if (left > 0 || right > 0) missing = true;
    const int n = points + left + right;
    set.n = n;
    set.leftExtension = left;
    set.rightExtension = right;
    for (std::vector<float>* v : {&set.s, &set.r, &set.y, &set.f, &set.r2, &set.rCopy, &set.lncRaw, &set.lncSmooth,
                                  &set.cRaw, &set.cSmooth, &set.lncLine, &set.lnf, &set.mstar, &set.mstarFit,
                                  &set.mwappDlnc, &set.mwappDcdr, &set.mwappFit})
      Zeroed(*v, n);
    for (int j = 1; j <= left; ++j)
      set.r[static_cast<size_t>(j)] = static_cast<float>(r1 - (left - j + 1) * kExtensionStep);
    for (int i = 1; i <= points; ++i) {
      const size_t u = static_cast<size_t>(left + i);
      set.r[u] = radii[i];
      set.y[u] = signal[i];
      if (smoothing && model && radii[i] >= a && radii[i] <= b) set.f[u] = model[i];
    }
    for (int j = 1; j <= right; ++j) {
      const size_t u = static_cast<size_t>(left + points + j);
      set.r[u] = static_cast<float>(rn + j * kExtensionStep);
      set.f[u] = 1.0f;
    }
    for (int i = 1; i <= n; ++i) {
      const size_t u = static_cast<size_t>(i);
      set.s[u] = (set.r[u] > a && set.r[u] < b) ? set.y[u] : 0.0f;
    }
    SetFitWindow(set);
    set.ma = NearestIndex(set.r, n, a);
    set.mb = NearestIndex(set.r, n, b);
  }
  if (smoothing && missing) {
    platform::Tell("MISSING DATA",
                   "ERROR:  Data Range Must Include Meniscus and Bottom for c(M) smoothing of MSTAR\n"
                   "(manually edit the data file and append a few 'data points' beyond the desired "
                   "bottom radius)",
                   platform::BoxIcon::Error);
    st.settings.cmSmoothing = false;
    return false;
  }
  return true;
}

void SetInitialMStarRanges(MStarState& st) {
  const float left = FitLimitLeft(), right = FitLimitRight();
  st.meniscusRange[1] = left;
  st.meniscusRange[2] = left + 0.2f * (right - left);
  st.bottomRange[2] = right - 0.005f;
  st.bottomRange[1] = st.bottomRange[2] - 0.2f * (right - left);
}

void ComputeMeniscusSignal(MStarState& st, int d) {
  MStarDataSet& set = st.sets[static_cast<size_t>(d)];
  const float a = gModelParams.meniscus, b = gModelParams.bottom, left = FitLimitLeft();
  const float bd = MStarBaseline(d);
  float& ca = st.ca[static_cast<size_t>(d)];
  if (st.settings.cmSmoothing) {
    int j = 1;
    while (j <= set.n && !(set.f[static_cast<size_t>(j)] > 0)) ++j;
    if (j > set.n) j = 1;
    if (j >= set.n) j = set.n - 1;
    const double r0 = set.r[static_cast<size_t>(j)], r1 = set.r[static_cast<size_t>(j + 1)];
    const double f0 = set.f[static_cast<size_t>(j)], f1 = set.f[static_cast<size_t>(j + 1)];
    const double fa = r1 != r0 ? f0 + (f1 - f0) * (a - r0) / (r1 - r0) : f0;
    ca = static_cast<float>(std::max(0.0, fa - bd));
    for (int i = 1; i <= set.n; ++i) {
      const size_t u = static_cast<size_t>(i);
      const float r = set.r[u];
      float v = 0.0f;
      if (r >= a && r <= left)
        v = set.f[u];
      else if (r > left && r <= b)
        v = set.y[u];
      set.s[u] = v > 0 ? v : 0.0f;
    }
    return;
  }
  if (!st.settings.straightLineBasis) {
    if (!Extrapolate(st.settings.signalOrder, set.r, set.y, set.meniscusFirst, set.meniscusLast, set.meniscusGrid,
                     set.meniscusSignal))
      return;
    ca = std::max(0.0f, set.meniscusSignal[1] - bd);
  } else {
    ca = std::max(0.0f, ca);
    InterpolateOntoGrid(kMStarGridPoints, set.meniscusGrid.data(), set.meniscusSignal.data(), set.n, set.r.data(),
                        set.y.data());
    const double r1 = set.r[static_cast<size_t>(set.iFirst)], y1 = set.y[static_cast<size_t>(set.iFirst)];
    for (int j = 1; j <= kMStarGridPoints; ++j) {
      const float g = set.meniscusGrid[static_cast<size_t>(j)];
      if (g >= a && g <= left)
        set.meniscusSignal[static_cast<size_t>(j)] =
            static_cast<float>(r1 > a ? (ca + bd) + (y1 - ca - bd) * (g - a) / (r1 - a) : ca + bd);
    }
  }
  MaskWithStraightLine(set, a, b, left, ca, bd);
}

void ComputeMStarFit(MStarState& st) {
  if (!st.HasData()) return;
  ScanSet& sc = CurrentScanSet();
  const float a = gModelParams.meniscus, b = gModelParams.bottom;
  if (sc.leftFitLimit < a) sc.leftFitLimit = a + kMarginToEnds;
  if (sc.rightFitLimit > b) sc.rightFitLimit = b - kMarginToEnds;
  const float left = sc.leftFitLimit, right = sc.rightFitLimit;
  OrderRange(st.meniscusRange, a, b, left, right);
  OrderRange(st.bottomRange, a, b, left, right);
  st.negativeMStar = false;
  for (int d = 1; d <= st.count; ++d) {
    MStarDataSet& set = st.sets[static_cast<size_t>(d)];
    const float bd = MStarBaseline(d);
    Grid(set.baselineRadii, a, b);
    Fill(set.baselineValues, kMStarGridPoints, bd);
    SetFitWindow(set);
    IndexWindow(set.r, set.n, st.meniscusRange[1], st.meniscusRange[2], set.meniscusFirst, set.meniscusLast);
    Grid(set.meniscusGrid, a, st.meniscusRange[2]);
    if (set.meniscusSignal.size() != kMStarGridPoints + 1) Zeroed(set.meniscusSignal, kMStarGridPoints);
    ComputeMeniscusSignal(st, d);
    const float ca = st.ca[static_cast<size_t>(d)];
    set.meniscusMarkerX = {0.0f, a, 2.0f * b};
    set.meniscusMarkerY = {0.0f, ca + bd, 0.0f};
    const double k = MStarBuoyancyFactor(d);
    st.k[static_cast<size_t>(d)] = static_cast<float>(k);
    MStarFrom(set.r, set.s, set.n, a, k, ca, bd, left, right, false, set.mstar, st.negativeMStar);
    if (st.settings.cmSmoothing)
      MStarFrom(set.r, set.f, set.n, a, k, ca, bd, a, b, true, set.mstarFit, st.negativeMStar);
    else
      std::fill(set.mstarFit.begin(), set.mstarFit.end(), 0.0f);
    ComputeLnC(set, st.settings, bd);
    st.mwLin[static_cast<size_t>(d)] = LinearFit(set, k);
    ApparentMolarMass(set, st.settings, k);
    Grid(set.bottomGrid, st.bottomRange[1], b);
    if (set.bottomMStar.size() != kMStarGridPoints + 1) Zeroed(set.bottomMStar, kMStarGridPoints);
    WeightAverage(st, d);
    set.mwavgMarkerX = {0.0f, b};
    set.mwavgMarkerY = {0.0f, st.mwavg[static_cast<size_t>(d)]};
  }
}

bool PrepareMStarAnalysis(MStarState& st) {
  if (!CheckMStarSmoothingRange(st)) return false;
  SetInitialMStarRanges(st);
  ComputeMStarFit(st);
  return true;
}

MStarCurveRange MStarRange(const MStarDataSet& set, int first, int last) {
  MStarCurveRange r;
  r.first = std::max(1, first);
  r.last = std::min(set.n, last);
  return r;
}

namespace {

struct Extremes {
  float lo = 1e8f, hi = -1e8f;
  void Add(float v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool Empty() const { return lo > hi; }
};

// Over v[i] for from < i <= to; an empty window takes the full fit range.
void AddWindow(Extremes& e, const std::vector<float>& v, const MStarDataSet& set, int from, int to) {
  const int lo = std::max(1, from + 1), hi = std::min(set.n, to);
  if (lo <= hi) {
    for (int i = lo; i <= hi; ++i) e.Add(v[static_cast<size_t>(i)]);
    return;
  }
  for (int i = std::max(1, set.iFirst); i <= std::min(set.n, set.iLast); ++i) e.Add(v[static_cast<size_t>(i)]);
}

// top' = top + p (top - bottom), bottom' = bottom - p (top' - bottom).
void Widen(MStarAxisRange& r, const Extremes& e, float p) {
  if (e.Empty()) return;
  float top = e.hi, bottom = e.lo;
  top = top + p * (top - bottom);
  bottom = bottom - p * (top - bottom);
  r.yMin = bottom;
  r.yMax = top;
}

void KeepOpen(MStarAxisRange& r) {
  if (!std::isfinite(r.xMin) || !std::isfinite(r.xMax) || !(r.xMax > r.xMin)) {
    const float c = std::isfinite(r.xMin) ? r.xMin : 0.0f;
    r.xMin = c - 0.5f;
    r.xMax = c + 0.5f;
  }
  if (!std::isfinite(r.yMin) || !std::isfinite(r.yMax) || !(r.yMax - r.yMin > 1e-6f * std::fabs(r.yMax))) {
    const float c = std::isfinite(r.yMin) ? r.yMin : 0.0f;
    const float h = std::max(0.5f, std::fabs(c) * 0.05f);
    r.yMin = c - h;
    r.yMax = c + h;
  }
}

}  // namespace

MStarAxisRanges ComputeMStarAxisRanges(const MStarState& st) {
  MStarAxisRanges out;
  const float a = gModelParams.meniscus, b = gModelParams.bottom;
  const bool smoothing = st.settings.cmSmoothing;
  const int edge = st.settings.sgHalfWidth + st.settings.mwappHalfWidth;
  Extremes sig, ms, lnc, mw;
  float largestMwavg = 0.0f, largestSignal = 0.0f;
  for (int d = 1; d <= st.count && st.HasData(); ++d) {
    const MStarDataSet& set = st.sets[static_cast<size_t>(d)];
    if (set.n < 1) continue;
    AddWindow(sig, set.y, set, set.ma, set.mb - 1);
    if (smoothing) {
      AddWindow(sig, set.f, set, set.ma, set.iLast - 1);
    } else if (set.meniscusSignal.size() > kMStarGridPoints) {
      sig.Add(set.meniscusSignal[1]);
      sig.Add(set.meniscusSignal[kMStarGridPoints]);
    }
    AddWindow(ms, set.mstar, set, set.iFirst, set.iLast - 1);
    if (smoothing)
      AddWindow(ms, set.mstarFit, set, set.iFirst, set.mb - 1);
    else if (set.bottomMStar.size() > kMStarGridPoints)
      ms.Add(set.bottomMStar[kMStarGridPoints]);
    AddWindow(lnc, set.lncRaw, set, set.iFirst, set.iLast - 1);
    AddWindow(mw, set.mwappDlnc, set, set.iFirst + edge, set.iLast - edge - 1);
    const float m = st.mwavg[static_cast<size_t>(d)];
    if (std::isfinite(m)) largestMwavg = std::max(largestMwavg, m);
    const int at = std::clamp(set.iLast - edge - 1, 1, set.n);
    largestSignal = std::max(largestSignal, set.y[static_cast<size_t>(at)]);
  }
  out.signal.xMin = a - 0.01f;
  out.signal.xMax = b + 0.01f;
  Widen(out.signal, sig, 0.05f);

  out.mstar.xMin = a - 0.01f;
  out.mstar.xMax = b + 0.01f;
  if (!ms.Empty()) {
    float top = ms.hi, bottom = ms.lo;
    if (largestMwavg > 0) top = std::min(top, 1.5f * largestMwavg);
    if (bottom < 0) bottom = 0;
    if (top < bottom) top = bottom;
    top = top + 0.05f * (top - bottom);
    if (bottom > 0) bottom = bottom - 0.05f * (top - bottom);
    out.mstar.yMin = bottom;
    out.mstar.yMax = top;
  }

  out.lnc.xMin = a * a;
  out.lnc.xMax = b * b;
  Widen(out.lnc, lnc, 0.05f);

  Widen(out.mwapp, mw, 0.3f);
  if (st.settings.mwappAgainstRadius) {
    out.mwapp.xMin = a;
    out.mwapp.xMax = b;
  } else {
    out.mwapp.xMin = 0;
    out.mwapp.xMax = 1.1f * largestSignal;
  }
  for (MStarAxisRange* r : {&out.signal, &out.mstar, &out.lnc, &out.mwapp}) KeepOpen(*r);
  return out;
}

MStarResultTexts ComposeMStarResultTexts(const MStarState& st) {
  MStarResultTexts t;
  const bool interference = CurrentDataTypeFlags().interference != 0;
  char text[200];
  for (int d = 1; d <= st.count && st.HasData(); ++d) {
    const size_t u = static_cast<size_t>(d);
    std::snprintf(text, sizeof text, "Mwavg(%d) = %.1f (kDa)", d, st.mwavg[u]);
    t.mwavg.push_back(text);
    if (!st.settings.cmSmoothing) {
      std::snprintf(text, sizeof text, "linear fit to lnc(r^2)(%d) --> %.1f (kDa)", d, st.mwLin[u]);
      t.linearFit.push_back(text);
    }
    if (gModelParams.riNoiseFit)
      std::snprintf(text, sizeof text, "Baseline(%d) = %.4f", d, MStarBaseline(d));
    else
      std::snprintf(text, sizeof text, "Baseline = %.4f", gModelParams.baseline);
    t.baseline.push_back(text);
    std::snprintf(text, sizeof text, interference ? "Ja(%d) = %.4f" : "A0(%d) = %.4f", d, st.ca[u]);
    t.meniscusSignal.push_back(text);
  }
  return t;
}
