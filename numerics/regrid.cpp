#include "numerics/regrid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "numerics/arrays.h"

namespace {

// y(x) = y_a + t (y_b - y_a): the segment (a, b) = (j-1, j) of an inner
// point, with t = (x - x_{j-1}) / (x_j - x_{j-1}); a point on an old
// abscissa (or on a segment of no length) takes y_j itself (a = b). Double
// carries the eight digits a float target keeps with room to spare; each
// value rounds the same on every processor.
struct Segment {
  int a, b;
  double t;
};

template <typename XO>
Segment SegmentAt(double x, const XO* xOld, int j) {
  const double x0 = xOld[j - 1], x1 = xOld[j];
  if (x == x1) return {j, j, 0.0};
  const double dx = x1 - x0;
  if (dx == 0) return {j, j, 0.0};
  return {j - 1, j, (x - x0) / dx};
}

template <typename YO>
inline double SegmentValue(const Segment& s, const YO* yOld) {
  if (s.a == s.b) return yOld[s.a];
  const double y0 = yOld[s.a];
  return y0 + s.t * (static_cast<double>(yOld[s.b]) - y0);
}

// Where every new point takes its value from: the end rules of the header
// as ranges of new points, the others as segments. Points 1..leftConstant
// get the left constant, points rightConstant..nNew the right one.
struct Layout {
  bool written = false;
  int leftConstant = 0, rightConstant = 0;
  double leftValue = 0, rightValue = 0;
};

template <typename YO>
double MeanOfTen(const YO* yOld, int from) {
  double sum = 0;
  for (int k = from; k < from + 10; ++k) sum += yOld[k];
  return sum * 0.1;
}

// Walks the new points once, handing each one's segment to `use(i, s)`.
template <typename XN, typename XO, typename Use>
Layout Locate(int nNew, const XN* xNew, int nOld, const XO* xOld, Use&& use) {
  Layout l;
  if (nNew < 5 || nOld < 5) return l;
  if (xNew[nNew] < xOld[1] || xOld[nOld] < xNew[1] || xNew[5] > xOld[nOld - 4]) return l;
  l.written = true;
  int i = 1;
  if (xNew[1] < xOld[1]) {
    // The first new point chooses the rule for all points left of the old grid.
    const bool linear = static_cast<double>(xNew[1]) >=
                        2 * static_cast<double>(xOld[1]) - static_cast<double>(xOld[2]);
    for (; i <= nNew && xNew[i] < xOld[1]; ++i)
      if (linear) use(i, SegmentAt<XO>(xNew[i], xOld, 2));
    if (!linear) l.leftConstant = i - 1;
  }
  int j = 2;
  for (; i <= nNew && xNew[i] <= xOld[nOld]; ++i) {
    while (j < nOld && xOld[j] <= xNew[i]) ++j;
    use(i, SegmentAt<XO>(xNew[i], xOld, j));
  }
  l.rightConstant = nNew + 1;
  if (i <= nNew) {
    const double limit = 2 * static_cast<double>(xOld[nOld]) - static_cast<double>(xOld[nOld - 1]);
    if (static_cast<double>(xNew[nNew]) <= limit) {
      // A point exactly one old spacing beyond the end is extrapolated too, so
      // that no target point is left without a value.
      for (; i <= nNew; ++i) use(i, SegmentAt<XO>(xNew[i], xOld, nOld));
    } else {
      l.rightConstant = i;
    }
  }
  return l;
}

template <typename YO>
void EndValues(Layout& l, int nOld, const YO* yOld) {
  l.leftValue = nOld >= 11 ? MeanOfTen(yOld, 1) : static_cast<double>(yOld[1]);
  l.rightValue = nOld >= 11 ? MeanOfTen(yOld, nOld - 9) : static_cast<double>(yOld[nOld]);
}

// Linear interpolation y(x) = yOld[j-1] + (x - xOld[j-1]) (yOld[j] - yOld[j-1]) / (xOld[j] - xOld[j-1]),
// with xOld[j] the first old abscissa beyond x, and the end rules of the header.
// True when the target was written.
template <bool Add, typename XN, typename YN, typename XO, typename YO>
bool Regrid(int nNew, const XN* xNew, YN* yNew, int nOld, const XO* xOld, const YO* yOld) {
  auto put = [&](int i, double v) {
    if constexpr (Add) {
      yNew[i] = static_cast<YN>(yNew[i] + v);
    } else {
      yNew[i] = static_cast<YN>(v);
    }
  };
  Layout l = Locate(nNew, xNew, nOld, xOld,
                    [&](int i, const Segment& s) { put(i, SegmentValue(s, yOld)); });
  if (!l.written) return false;
  EndValues(l, nOld, yOld);
  for (int i = 1; i <= l.leftConstant; ++i) put(i, l.leftValue);
  for (int i = l.rightConstant; i <= nNew; ++i) put(i, l.rightValue);
  return true;
}

// Radii 1..air lie above the meniscus, compared in single precision, so that
// a scan radius stored as the meniscus itself keeps the profile's first value.
int AirPoints(int nNew, const float* xNew, double meniscus) {
  const float m = static_cast<float>(meniscus);
  int air = 0;
  while (air < nNew && xNew[air + 1] < m) ++air;
  return air;
}

// Left of the old grid the end rules invent a value; above the meniscus is
// air and holds no solute.
template <bool Add>
void CellProfile(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                 const double* yOld) {
  const int air = nNew >= 1 && nOld >= 1 ? AirPoints(nNew, xNew, xOld[1]) : 0;
  auto put = [&](int i, double v) {
    if (i <= air) return;
    if constexpr (Add) {
      yNew[i] = static_cast<float>(yNew[i] + v);
    } else {
      yNew[i] = static_cast<float>(v);
    }
  };
  Layout l = Locate(nNew, xNew, nOld, xOld,
                    [&](int i, const Segment& s) { put(i, SegmentValue(s, yOld)); });
  if (!l.written) return;
  if (!Add)
    for (int i = 1; i <= air; ++i) yNew[i] = 0.0f;
  EndValues(l, nOld, yOld);
  for (int i = 1; i <= l.leftConstant; ++i) put(i, l.leftValue);
  for (int i = l.rightConstant; i <= nNew; ++i) put(i, l.rightValue);
}

}  // namespace

void InterpolateOntoGrid(int nNew, const float* xNew, float* yNew, int nOld, const float* xOld,
                         const float* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                          const double* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridFD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                           const double* yOld) {
  Regrid<true>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridDF(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                           const float* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridMixed(int nNew, const double* xNew, double* yNew, int nOld,
                              const double* xOld, const double* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}

void InterpolateCellProfile(int nNew, const float* xNew, float* yNew, int nOld,
                            const double* xOld, const double* yOld) {
  CellProfile<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateCellProfileAdd(int nNew, const float* xNew, float* yNew, int nOld,
                               const double* xOld, const double* yOld) {
  CellProfile<true>(nNew, xNew, yNew, nOld, xOld, yOld);
}

namespace {

// Linear interpolation of c(x) at radius v, the end values beyond the ends.
// `j` is where the search for the segment starts and is left where it
// ended: the radii of a scan rise, so one pass serves them all.
template <typename X, typename C>
double LinearAt(double v, int m, const X* x, const C* c, int& j) {
  if (m == 1 || v <= static_cast<double>(x[1])) return static_cast<double>(c[1]);
  if (v >= static_cast<double>(x[m])) return static_cast<double>(c[m]);
  if (j < 2 || static_cast<double>(x[j - 1]) >= v) j = 2;
  while (j < m && static_cast<double>(x[j]) < v) ++j;
  const double x0 = x[j - 1], x1 = x[j];
  const double t = x1 > x0 ? (v - x0) / (x1 - x0) : 1.0;
  return static_cast<double>(c[j - 1]) + t * (static_cast<double>(c[j]) - static_cast<double>(c[j - 1]));
}

// Whether the rules of the InterpolateOntoGrid family write the new grid.
template <typename XO>
bool RegridWrites(int n, const float* r, int m, const XO* x) {
  if (n < kRegridLeastPoints || m < kRegridLeastPoints) return false;
  return !(r[n] < x[1] || x[m] < r[1] || r[5] > x[m - 4]);
}

}  // namespace

void CellProfileOntoRadii(int n, const float* r, float* y, int nodes, const double* x, const double* c) {
  if (n < 1 || nodes < 1) return;
  if (RegridWrites(n, r, nodes, x)) {
    InterpolateCellProfile(n, r, y, nodes, x, c);
    return;
  }
  const float meniscus = static_cast<float>(x[1]);
  int j = 2;
  for (int i = 1; i <= n; ++i) y[i] = r[i] < meniscus ? 0.0f : static_cast<float>(LinearAt(r[i], nodes, x, c, j));
}

void CurveOntoRadii(int n, const float* r, float* y, int m, const float* x, const float* c) {
  if (n < 1 || m < 1) return;
  if (RegridWrites(n, r, m, x)) {
    InterpolateOntoGrid(n, r, y, m, x, c);
    return;
  }
  int j = 2;
  for (int i = 1; i <= n; ++i) y[i] = static_cast<float>(LinearAt(r[i], m, x, c, j));
}

bool CCellProfilePlan::MadeFor(int nNew, const float* xNew, int nOld, const double* xOld) const {
  if (nNew != nNew_ || nOld != nOld_) return false;
  if (nNew < 1 || nOld < 1) return true;
  return std::memcmp(xNew + 1, xNew_.data(), sizeof(float) * static_cast<std::size_t>(nNew)) == 0 &&
         std::memcmp(xOld + 1, xOld_.data(), sizeof(double) * static_cast<std::size_t>(nOld)) == 0;
}

void CCellProfilePlan::Make(int nNew, const float* xNew, int nOld, const double* xOld) {
  nNew_ = nNew;
  nOld_ = nOld;
  xNew_.assign(nNew > 0 ? xNew + 1 : xNew, nNew > 0 ? xNew + 1 + nNew : xNew);
  xOld_.assign(nOld > 0 ? xOld + 1 : xOld, nOld > 0 ? xOld + 1 + nOld : xOld);
  points_.clear();
  air_ = nNew >= 1 && nOld >= 1 ? AirPoints(nNew, xNew, xOld[1]) : 0;
  const Layout l = Locate(nNew, xNew, nOld, xOld, [&](int, const Segment& s) {
    points_.push_back(Point{s.a, s.b, s.t});
  });
  written_ = l.written;
  leftConstant_ = l.leftConstant;
  rightConstant_ = l.rightConstant;
}

template <bool Add>
void CCellProfilePlan::Write(const double* yOld, float* yNew) const {
  if (!written_) return;
  const int air = air_, nNew = nNew_;
  auto put = [&](int i, double v) {
    if constexpr (Add) {
      yNew[i] = static_cast<float>(yNew[i] + v);
    } else {
      yNew[i] = static_cast<float>(v);
    }
  };
  if (!Add)
    for (int i = 1; i <= air; ++i) yNew[i] = 0.0f;
  if (leftConstant_ > air || rightConstant_ <= nNew) {
    Layout l;
    EndValues(l, nOld_, yOld);
    for (int i = air + 1; i <= leftConstant_; ++i) put(i, l.leftValue);
    for (int i = std::max(rightConstant_, air + 1); i <= nNew; ++i) put(i, l.rightValue);
  }
  const int first = leftConstant_ + 1;
  const Point* p = points_.data();
  for (int i = std::max(first, air + 1); i < rightConstant_; ++i) {
    const Point& q = p[i - first];
    put(i, SegmentValue(Segment{q.a, q.b, q.t}, yOld));
  }
}

void CCellProfilePlan::Apply(const double* yOld, float* yNew) const { Write<false>(yOld, yNew); }
void CCellProfilePlan::ApplyAdd(const double* yOld, float* yNew) const { Write<true>(yOld, yNew); }

void InterpolateOntoGridDD(int nNew, const double* xNew, double* yNew, int nOld,
                           const double* xOld, const double* yOld) {
  if (nNew < 1 || nOld < 1) return;
  if (xNew[nNew] < xOld[1] || xOld[nOld] < xNew[1]) return;
  int j = 2;
  for (int i = 1; i <= nNew; ++i) {
    if (xNew[i] < xOld[1] || xNew[i] > xOld[nOld]) continue;
    if (nOld == 1) {
      yNew[i] = yOld[1];
      continue;
    }
    while (j < nOld && xOld[j] <= xNew[i]) ++j;
    yNew[i] = SegmentValue(SegmentAt<double>(xNew[i], xOld, j), yOld);
  }
}

void polint(float* xa, float* ya, int n, float x, float* y, float* dy) {
  FloatVec c(1, n), d(1, n);
  int ns = 1;
  float dif = std::fabs(x - xa[1]);
  for (int i = 1; i <= n; ++i) {
    const float dift = std::fabs(x - xa[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = ya[i];
    d[i] = ya[i];
  }
  *y = ya[ns--];
  *dy = 0.0f;
  // Neville's tableau: c and d are the corrections up and down one column.
  for (int m = 1; m < n; ++m) {
    for (int i = 1; i <= n - m; ++i) {
      const float ho = xa[i] - x;
      const float hp = xa[i + m] - x;
      const float w = c[i + 1] - d[i];
      float den = ho - hp;
      if (den == 0.0f) nrfail("Error in routine polint");
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    *dy = (2 * ns < (n - m)) ? c[ns + 1] : d[ns--];
    *y += *dy;
  }
}

namespace {

double HatWeight(double r, bool sector) { return sector ? r : 1.0; }

// The integral of each hat function times the weight (the lumped mass).
std::vector<double> HatIntegrals(int n, const double* x, bool sector) {
  std::vector<double> w(static_cast<std::size_t>(n) + 1, 0.0);
  for (int k = 1; k < n; ++k) {
    const double h = x[k + 1] - x[k], mid = HatWeight(0.5 * (x[k] + x[k + 1]), sector);
    w[k] += h / 6 * (HatWeight(x[k], sector) + 2 * mid);
    w[k + 1] += h / 6 * (HatWeight(x[k + 1], sector) + 2 * mid);
  }
  return w;
}

}  // namespace

bool ProjectOntoHatFunctions(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                             const float* yOld, bool sectorWeight) {
  if (nNew < 2) return false;
  const std::size_t size = static_cast<std::size_t>(nNew) + 1;
  // The profile at the nodes, with the end rules where the data stop short.
  std::vector<double> atNode(size, std::nan(""));
  InterpolateOntoGridDF(nNew, xNew, atNode.data(), nOld, xOld, yOld);
  if (std::isnan(atNode[1])) return false;
  std::vector<double> rhs(size, 0.0), diag(size, 0.0), off(size, 0.0);
  int q = 1;
  for (int k = 1; k < nNew; ++k) {
    const double x0 = xNew[k], x1 = xNew[k + 1], h = x1 - x0;
    if (!(h > 0)) continue;
    // Hats, profile and weight are straight on each piece between the nodes
    // and the data points: Simpson's rule is exact for their cubic products.
    double a = x0, fa = atNode[k];
    while (q <= nOld && xOld[q] <= x0) ++q;
    auto piece = [&](double b, double fb) {
      if (b <= a) return;
      const double m = 0.5 * (a + b), fm = 0.5 * (fa + fb), len = (b - a) / 6;
      const double ga = fa * HatWeight(a, sectorWeight), gm = fm * HatWeight(m, sectorWeight),
                   gb = fb * HatWeight(b, sectorWeight);
      rhs[k] += len * ((x1 - a) * ga + 4 * (x1 - m) * gm + (x1 - b) * gb) / h;
      rhs[k + 1] += len * ((a - x0) * ga + 4 * (m - x0) * gm + (b - x0) * gb) / h;
      a = b;
      fa = fb;
    };
    for (; q <= nOld && xOld[q] < x1; ++q) piece(xOld[q], yOld[q]);
    piece(x1, atNode[k + 1]);
    const double wm = HatWeight(0.5 * (x0 + x1), sectorWeight);
    diag[k] += h / 6 * (HatWeight(x0, sectorWeight) + wm);
    diag[k + 1] += h / 6 * (HatWeight(x1, sectorWeight) + wm);
    off[k] = h / 6 * wm;  // between nodes k and k + 1
  }
  const std::vector<double> lumped = HatIntegrals(nNew, xNew, sectorWeight);
  // The consistent projection: the tridiagonal mass system, by elimination.
  std::vector<double> pivot(size, 0.0), z(size, 0.0);
  pivot[1] = diag[1];
  z[1] = rhs[1];
  for (int k = 2; k <= nNew; ++k) {
    const double l = pivot[k - 1] != 0 ? off[k - 1] / pivot[k - 1] : 0;
    pivot[k] = diag[k] - l * off[k - 1];
    z[k] = rhs[k] - l * z[k - 1];
  }
  std::vector<double> consistent(size, 0.0);
  for (int k = nNew; k >= 1; --k) {
    const double next = k < nNew ? off[k] * consistent[k + 1] : 0;
    consistent[k] = pivot[k] != 0 ? (z[k] - next) / pivot[k] : atNode[k];
  }
  // The lumped projection is the hat's weighted mean of the profile: off by
  // the slope times the hat's first moment where the hat is lopsided (at
  // the ends, on uneven nodes, under the radial weight). The slope of the
  // consistent projection, which takes straight lines exactly, corrects it.
  std::vector<double> moment(size, 0.0);
  for (int k = 1; k < nNew; ++k) {
    const double h = xNew[k + 1] - xNew[k], wm = HatWeight(0.5 * (xNew[k] + xNew[k + 1]), sectorWeight);
    moment[k] += h * h * wm / 6;
    moment[k + 1] -= h * h * wm / 6;
  }
  std::vector<double> taken(size, 0.0);
  double amount = 0, kept = 0, moved = 0;
  for (int k = 1; k <= nNew; ++k) {
    const int lo = k > 1 ? k - 1 : k, hi = k < nNew ? k + 1 : k;
    const double slope = xNew[hi] > xNew[lo] ? (consistent[hi] - consistent[lo]) / (xNew[hi] - xNew[lo]) : 0;
    taken[k] = lumped[k] > 0 ? std::fabs(slope * moment[k]) : 0;
    const double lump = lumped[k] > 0 ? (rhs[k] - slope * moment[k]) / lumped[k] : atNode[k];
    yNew[k] = 0.5 * (consistent[k] + lump);
    amount += rhs[k];
    kept += yNew[k] * lumped[k];
    moved += taken[k];
  }
  // The corrections do not quite cancel (a few 1e-6 of the amount): the
  // rest goes back where they were made, in proportion to them.
  if (moved > 0)
    for (int k = 1; k <= nNew; ++k)
      if (taken[k] > 0) yNew[k] += (amount - kept) * taken[k] / (moved * lumped[k]);
  return true;
}

void ClearNegativesKeepingAmount(int n, const double* x, double* y, bool sectorWeight) {
  if (n < 1) return;
  const std::vector<double> w = HatIntegrals(n, x, sectorWeight);
  // The amount of a negative node goes half to either neighbour, sweep after
  // sweep, as diffusion would spread it: the noise about zero of a depleted
  // region ends near zero where it was, not piled up to one side.
  const int bound = 200;
  bool negative = true;
  for (int sweep = 0; sweep < bound && negative && n > 1; ++sweep) {
    negative = false;
    for (int i = 1; i <= n; ++i) {
      if (!(y[i] < 0)) continue;
      const double owed = y[i] * w[i];
      y[i] = 0;
      const int left = i > 1 ? i - 1 : 0, right = i < n ? i + 1 : 0;
      const double share = left && right ? 0.5 * owed : owed;
      if (left) y[left] += share / w[left];
      if (right) y[right] += share / w[right];
      negative = negative || (left && y[left] < 0) || (right && y[right] < 0);
    }
  }
  // What is still owed after the bound: from the next nodes on, then back.
  double carry = 0;
  auto visit = [&](int i) {
    const double v = y[i] * w[i] + carry;
    if (v < 0 || !(w[i] > 0)) {
      y[i] = 0;
      carry = v;
    } else {
      y[i] = v / w[i];
      carry = 0;
    }
  };
  for (int i = 1; i <= n; ++i) visit(i);
  for (int i = n; i >= 1 && carry < 0; --i) visit(i);
  if (carry < 0)
    for (int i = 1; i <= n; ++i) y[i] = 0;
}
