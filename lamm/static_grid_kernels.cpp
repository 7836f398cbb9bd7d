#include "lamm/static_grid_kernels.h"

#include <cmath>
#include <cstring>

#include "numerics/vector_kernel.h"

namespace {
// The step loop runs these for every node of every step; they work on four
// nodes at once. Maxima keep the scalar rule acc = acc < v ? v : acc, so a
// NaN never enters and the result is the one of a loop over the nodes.
typedef double Quad __attribute__((vector_size(32)));
typedef long long QuadMask __attribute__((vector_size(32)));

inline void LoadQuad(const double* p, Quad& v) { std::memcpy(&v, p, sizeof v); }

inline double LargestLane(const Quad& m, double acc) {
  for (int l = 0; l < 4; ++l) acc = acc < m[l] ? m[l] : acc;
  return acc;
}

// Largest of acc and c_i over i = from..to.
__attribute__((always_inline)) inline double LargestValueBody(const double* c, int from, int to,
                                                              double acc) {
  Quad m = {acc, acc, acc, acc};
  int i = from;
  for (; i + 3 <= to; i += 4) {
    Quad v;
    LoadQuad(c + i, v);
    m = m < v ? v : m;
  }
  acc = LargestLane(m, acc);
  for (; i <= to; ++i) acc = acc < c[i] ? c[i] : acc;
  return acc;
}

// True when every c_i, i = from..to, lies strictly within +-1e100 (NaN does not).
__attribute__((always_inline)) inline bool AllWithinRangeBody(const double* c, int from, int to) {
  const Quad hi = {1e100, 1e100, 1e100, 1e100}, lo = -hi;
  QuadMask ok = {-1, -1, -1, -1};
  int i = from;
  for (; i + 3 <= to; i += 4) {
    Quad v;
    LoadQuad(c + i, v);
    ok &= (v < hi) & (v > lo);
  }
  bool all = true;
  for (int l = 0; l < 4; ++l) all = all && ok[l] != 0;
  for (; i <= to; ++i) all = all && c[i] < 1e100 && c[i] > -1e100;
  return all;
}

// Relative change |c_i - p_i| / q of node i (p the profile before the step):
// q = p_i above the floor; below it, for a rise above the floor, the first
// of p_{i+1}, p_{i-1} above the floor; else the node does not count (0).
inline double NodeChange(const double* c, const double* p, int i, double floor) {
  const double d = c[i] - p[i];
  if (p[i] > floor) return std::fabs(d / p[i]);
  if (d > floor) {
    if (p[i + 1] > floor) return std::fabs(d / p[i + 1]);
    if (i > 1 && p[i - 1] > floor) return std::fabs(d / p[i - 1]);
  }
  return 0;
}

// Largest of acc and the node changes over i = from..to (p_{to+1} exists).
// A node that does not count divides by infinity, giving 0 or NaN, neither
// of which can raise the maximum.
__attribute__((always_inline)) inline double LargestChangeBody(const double* c, const double* p,
                                                               int from, int to, double floor,
                                                               double acc) {
  int i = from;
  if (i == 1 && i <= to) {
    const double v = NodeChange(c, p, 1, floor);
    acc = acc < v ? v : acc;
    ++i;
  }
  const double inf = HUGE_VAL;
  const Quad fl = {floor, floor, floor, floor}, never = {inf, inf, inf, inf};
  const QuadMask magnitude = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL, 0x7fffffffffffffffLL,
                              0x7fffffffffffffffLL};
  Quad m = {acc, acc, acc, acc};
  for (; i + 3 <= to; i += 4) {
    Quad ci, pi, pn, pp;
    LoadQuad(c + i, ci);
    LoadQuad(p + i, pi);
    LoadQuad(p + i + 1, pn);
    LoadQuad(p + i - 1, pp);
    const Quad d = ci - pi;
    const Quad neighbour = pn > fl ? pn : (pp > fl ? pp : never);
    const Quad q = pi > fl ? pi : (d > fl ? neighbour : never);
    const Quad rel = (Quad)((QuadMask)(d / q) & magnitude);
    m = m < rel ? rel : m;
  }
  acc = LargestLane(m, acc);
  for (; i <= to; ++i) {
    const double v = NodeChange(c, p, i, floor);
    acc = acc < v ? v : acc;
  }
  return acc;
}

// Each a generic copy and one for AVX2 (which every AVX-512 processor has),
// chosen by the active vector kernel. Maxima and comparisons round nothing,
// so every copy gives the same result.
double LargestValueGeneric(const double* c, int from, int to, double acc) {
  return LargestValueBody(c, from, to, acc);
}
TARNEL_TARGET_AVX2 double LargestValueAvx2(const double* c, int from, int to, double acc) {
  return LargestValueBody(c, from, to, acc);
}

bool AllWithinRangeGeneric(const double* c, int from, int to) {
  return AllWithinRangeBody(c, from, to);
}
TARNEL_TARGET_AVX2 bool AllWithinRangeAvx2(const double* c, int from, int to) {
  return AllWithinRangeBody(c, from, to);
}

double LargestChangeGeneric(const double* c, const double* p, int from, int to, double floor,
                            double acc) {
  return LargestChangeBody(c, p, from, to, floor, acc);
}
TARNEL_TARGET_AVX2 double LargestChangeAvx2(const double* c, const double* p, int from, int to,
                                            double floor, double acc) {
  return LargestChangeBody(c, p, from, to, floor, acc);
}
}  // namespace

double LargestValue(const double* c, int from, int to, double acc) {
  return ForActiveKernel(LargestValueGeneric, LargestValueAvx2, LargestValueAvx2)(c, from, to, acc);
}

bool AllWithinRange(const double* c, int from, int to) {
  return ForActiveKernel(AllWithinRangeGeneric, AllWithinRangeAvx2, AllWithinRangeAvx2)(c, from, to);
}

double LargestChange(const double* c, const double* p, int from, int to, double floor,
                     double acc) {
  return ForActiveKernel(LargestChangeGeneric, LargestChangeAvx2, LargestChangeAvx2)(c, p, from, to,
                                                                                   floor, acc);
}
