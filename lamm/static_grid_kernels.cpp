#include "lamm/static_grid_kernels.h"

#include <immintrin.h>

#include <cfloat>
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

// Largest of acc and c_i over i = from..to. Four running maxima, so that
// each waits on a quarter of the comparisons; the largest value of a set
// is the same in any order.
__attribute__((always_inline)) inline double LargestValueBody(const double* c, int from, int to,
                                                              double acc) {
  Quad m0 = {acc, acc, acc, acc}, m1 = m0, m2 = m0, m3 = m0;
  int i = from;
  for (; i + 15 <= to; i += 16) {
    Quad v0, v1, v2, v3;
    LoadQuad(c + i, v0);
    LoadQuad(c + i + 4, v1);
    LoadQuad(c + i + 8, v2);
    LoadQuad(c + i + 12, v3);
    m0 = m0 < v0 ? v0 : m0;
    m1 = m1 < v1 ? v1 : m1;
    m2 = m2 < v2 ? v2 : m2;
    m3 = m3 < v3 ? v3 : m3;
  }
  for (; i + 3 <= to; i += 4) {
    Quad v;
    LoadQuad(c + i, v);
    m0 = m0 < v ? v : m0;
  }
  acc = LargestLane(m3, LargestLane(m2, LargestLane(m1, LargestLane(m0, acc))));
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

// Each a generic copy, one for AVX2 and one for AVX-512, chosen by the
// active vector kernel. Maxima and comparisons round nothing,
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
// The AVX-512 copies take eight nodes at once. The change's divisions are
// what its scan costs, and few nodes can raise the maximum found so far:
// |d| <= m' q, with m' the maximum m lessened by 2^-50 and the product at
// least the least normal number, bounds the exact quotient below m, so that
// its rounded value cannot exceed m either. Eight nodes are divided only
// when one of them passes that bound; the result is the one of dividing
// them all.
// m < v ? v : m in each lane.
TARNEL_TARGET_AVX512 inline __m512d Larger(__m512d m, __m512d v) {
  return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(m, v, _CMP_LT_OQ), m, v);
}

TARNEL_TARGET_AVX512 double LargestValueAvx512(const double* c, int from, int to, double acc) {
  __m512d m0 = _mm512_set1_pd(acc), m1 = m0;
  int i = from;
  for (; i + 15 <= to; i += 16) {
    m0 = Larger(m0, _mm512_loadu_pd(c + i));
    m1 = Larger(m1, _mm512_loadu_pd(c + i + 8));
  }
  for (; i + 7 <= to; i += 8) m0 = Larger(m0, _mm512_loadu_pd(c + i));
  // The last few nodes in the low lanes, the others keeping what they hold.
  if (i <= to) m1 = Larger(m1, _mm512_mask_loadu_pd(m1, static_cast<__mmask8>((1u << (to - i + 1)) - 1), c + i));
  m0 = Larger(m0, m1);
  // Each lane against the lane in the other half, quarter, eighth.
  m0 = Larger(m0, _mm512_mask_shuffle_f64x2(m0, 0xff, m0, m0, 0x4e));
  m0 = Larger(m0, _mm512_mask_shuffle_f64x2(m0, 0xff, m0, m0, 0xb1));
  m0 = Larger(m0, _mm512_mask_permute_pd(m0, 0xff, m0, 0x55));
  return _mm512_cvtsd_f64(m0);
}

TARNEL_TARGET_AVX512 bool AllWithinRangeAvx512(const double* c, int from, int to) {
  const __m512d hi = _mm512_set1_pd(1e100), lo = _mm512_set1_pd(-1e100);
  __mmask8 ok = 0xff;
  int i = from;
  for (; i + 7 <= to; i += 8) {
    const __m512d v = _mm512_loadu_pd(c + i);
    ok &= _mm512_cmp_pd_mask(v, hi, _CMP_LT_OQ) & _mm512_cmp_pd_mask(v, lo, _CMP_GT_OQ);
  }
  bool all = ok == 0xff;
  for (; i <= to; ++i) all = all && c[i] < 1e100 && c[i] > -1e100;
  return all;
}

TARNEL_TARGET_AVX512 double LargestChangeAvx512(const double* c, const double* p, int from, int to,
                                                double floor, double acc) {
  int i = from;
  if (i == 1 && i <= to) {
    const double v = NodeChange(c, p, 1, floor);
    acc = acc < v ? v : acc;
    ++i;
  }
  const __m512d fl = _mm512_set1_pd(floor), never = _mm512_set1_pd(HUGE_VAL),
                least = _mm512_set1_pd(DBL_MIN);
  auto lessened = [](double m) { return m >= DBL_MIN ? m * (1 - 0x1p-50) : 0.0; };
  __m512d bound = _mm512_set1_pd(lessened(acc));
  for (; i + 7 <= to; i += 8) {
    const __m512d ci = _mm512_loadu_pd(c + i), pi = _mm512_loadu_pd(p + i);
    const __m512d pn = _mm512_loadu_pd(p + i + 1), pp = _mm512_loadu_pd(p + i - 1);
    const __m512d d = _mm512_sub_pd(ci, pi);
    __m512d q = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(pp, fl, _CMP_GT_OQ), never, pp);
    q = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(pn, fl, _CMP_GT_OQ), q, pn);
    q = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(d, fl, _CMP_GT_OQ), never, q);
    q = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(pi, fl, _CMP_GT_OQ), q, pi);
    const __m512d below = _mm512_mul_pd(bound, q);
    const __mmask8 held = _mm512_cmp_pd_mask(_mm512_abs_pd(d), below, _CMP_LE_OQ) &
                          _mm512_cmp_pd_mask(below, least, _CMP_GE_OQ);
    if (held == 0xff) continue;
    double lanes[8];
    _mm512_storeu_pd(lanes, _mm512_abs_pd(_mm512_div_pd(d, q)));
    for (double v : lanes) acc = acc < v ? v : acc;
    bound = _mm512_set1_pd(lessened(acc));
  }
  for (; i <= to; ++i) {
    const double v = NodeChange(c, p, i, floor);
    acc = acc < v ? v : acc;
  }
  return acc;
}

// The moving frame's period rows: every kernel forms each row by the same
// three products, two sums and one product (no fused operations).
void PeriodRowsTail(const double* lo, const double* di, const double* up, const double* c, const double* piv,
                    double* g, int from, int to) {
  for (int i = from; i <= to; ++i) g[i] = (lo[i] * c[i - 1] + di[i] * c[i] + up[i] * c[i + 1]) * piv[i];
}

void PeriodRowsGeneric(const double* lo, const double* di, const double* up, const double* c, const double* piv,
                       double* g, int from, int to) {
  int i = from;
  for (; i + 1 <= to; i += 2) {
    const __m128d a = _mm_mul_pd(_mm_loadu_pd(lo + i), _mm_loadu_pd(c + i - 1));
    const __m128d b = _mm_mul_pd(_mm_loadu_pd(di + i), _mm_loadu_pd(c + i));
    const __m128d d = _mm_mul_pd(_mm_loadu_pd(up + i), _mm_loadu_pd(c + i + 1));
    _mm_storeu_pd(g + i, _mm_mul_pd(_mm_add_pd(_mm_add_pd(a, b), d), _mm_loadu_pd(piv + i)));
  }
  PeriodRowsTail(lo, di, up, c, piv, g, i, to);
}

// AVX2 without FMA: the compiler may not fuse the products into the sums.
__attribute__((target("avx2"))) void PeriodRowsAvx2(const double* lo, const double* di, const double* up,
                                                    const double* c, const double* piv, double* g, int from,
                                                    int to) {
  int i = from;
  for (; i + 3 <= to; i += 4) {
    const __m256d a = _mm256_mul_pd(_mm256_loadu_pd(lo + i), _mm256_loadu_pd(c + i - 1));
    const __m256d b = _mm256_mul_pd(_mm256_loadu_pd(di + i), _mm256_loadu_pd(c + i));
    const __m256d d = _mm256_mul_pd(_mm256_loadu_pd(up + i), _mm256_loadu_pd(c + i + 1));
    _mm256_storeu_pd(g + i, _mm256_mul_pd(_mm256_add_pd(_mm256_add_pd(a, b), d), _mm256_loadu_pd(piv + i)));
  }
  for (; i <= to; ++i) {
    const __m128d a = _mm_mul_sd(_mm_load_sd(lo + i), _mm_load_sd(c + i - 1));
    const __m128d b = _mm_mul_sd(_mm_load_sd(di + i), _mm_load_sd(c + i));
    const __m128d d = _mm_mul_sd(_mm_load_sd(up + i), _mm_load_sd(c + i + 1));
    _mm_store_sd(g + i, _mm_mul_sd(_mm_add_sd(_mm_add_sd(a, b), d), _mm_load_sd(piv + i)));
  }
}
}  // namespace

double LargestValue(const double* c, int from, int to, double acc) {
  return ForActiveKernel(LargestValueGeneric, LargestValueAvx2, LargestValueAvx512)(c, from, to, acc);
}

bool AllWithinRange(const double* c, int from, int to) {
  return ForActiveKernel(AllWithinRangeGeneric, AllWithinRangeAvx2, AllWithinRangeAvx512)(c, from, to);
}

double LargestChange(const double* c, const double* p, int from, int to, double floor,
                     double acc) {
  return ForActiveKernel(LargestChangeGeneric, LargestChangeAvx2, LargestChangeAvx512)(c, p, from, to,
                                                                                   floor, acc);
}

void PeriodRightSides(const double* lo, const double* di, const double* up, const double* c, const double* piv,
                      double* g, int from, int to) {
  ForActiveKernel(PeriodRowsGeneric, PeriodRowsAvx2, PeriodRowsAvx2)(lo, di, up, c, piv, g, from, to);
}
