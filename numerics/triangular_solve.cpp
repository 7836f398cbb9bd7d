#include "numerics/triangular_solve.h"

#include <algorithm>

#include "numerics/vector_kernel.h"

#include <immintrin.h>

namespace {

constexpr int kBlockRows = 8;

// w_m -= l_m x for m in [from, to): the loop every row of the solve takes
// within its block. Its copy in each kernel splits the elements as the loop
// over a whole row does: the widest vectors from the first, narrower ones
// and single elements at the end, which on some kernels round the product
// apart from the subtraction. Started at a multiple of eight after the
// row's first element, its split of the row's elements is the whole row's.
__attribute__((always_inline)) inline void RowUpdate(double* __restrict w,
                                                     const double* __restrict l, double x,
                                                     int from, int to) {
  for (int m = from; m < to; ++m) w[m] -= l[m] * x;
}

// w_m for m in 1..bulk (a multiple of eight) less the block's rows' terms,
// row r's (r = 0, 1, ..., rows - 1) l[r][m] x[r] in turn: where the whole
// rows' loop takes its widest vectors, so fused on the kernels that fuse
// there.
void BulkGeneric(double* w, const double* const* l, const double* x, int rows, int bulk) {
  for (int m = 1; m <= bulk; ++m) {
    double t = w[m];
    for (int r = 0; r < rows; ++r) t -= l[r][m] * x[r];
    w[m] = t;
  }
}

TARNEL_TARGET_AVX2 void BulkAvx2(double* w, const double* const* l, const double* x, int rows,
                                 int bulk) {
  __m256d xs[kBlockRows];
  for (int r = 0; r < rows; ++r) xs[r] = _mm256_set1_pd(x[r]);
  for (int m = 1; m <= bulk; m += 4) {
    __m256d t = _mm256_loadu_pd(w + m);
    for (int r = 0; r < rows; ++r) t = _mm256_fnmadd_pd(_mm256_loadu_pd(l[r] + m), xs[r], t);
    _mm256_storeu_pd(w + m, t);
  }
}

TARNEL_TARGET_AVX512 void BulkAvx512(double* w, const double* const* l, const double* x,
                                     int rows, int bulk) {
  __m512d xs[kBlockRows];
  for (int r = 0; r < rows; ++r) xs[r] = _mm512_set1_pd(x[r]);
  for (int m = 1; m <= bulk; m += 8) {
    __m512d t = _mm512_loadu_pd(w + m);
    for (int r = 0; r < rows; ++r) t = _mm512_fnmadd_pd(_mm512_loadu_pd(l[r] + m), xs[r], t);
    _mm512_storeu_pd(w + m, t);
  }
}

using BulkFn = void (*)(double*, const double* const*, const double*, int, int);

// Columns in groups of eight: each row's division waits on the row before,
// so the group's columns take the block's rows side by side.
constexpr int kGroupColumns = 8;

__attribute__((always_inline)) inline void SolveTransposedLowerBody(double* const* l, int n,
                                                                   double* const* ws, int count,
                                                                   BulkFn bulkFn) {
  for (int c0 = 0; c0 < count; c0 += kGroupColumns) {
    const int group = std::min(kGroupColumns, count - c0);
    double* const* wg = ws + c0;
    for (int i = n; i >= 1;) {
      // Blocks start after a multiple of eight: the elements below the block
      // lie in the widest vectors of each of its rows.
      const int bulk = kBlockRows * ((i - 1) / kBlockRows);
      const int low = bulk + 1;
      const double* rows[kBlockRows];
      double x[kGroupColumns][kBlockRows];
      for (int r = 0; i - r >= low; ++r) {
        const int k = i - r;
        const double* lk = l[k];
        rows[r] = lk;
        for (int c = 0; c < group; ++c) {
          double* w = wg[c];
          const double xk = w[k] / lk[k];
          w[k] = xk;
          x[c][r] = xk;
          RowUpdate(w, lk, xk, bulk + 1, k);
        }
      }
      if (bulk > 0)
        for (int c = 0; c < group; ++c) bulkFn(wg[c], rows, x[c], i - bulk, bulk);
      i = low - 1;
    }
  }
}

// Blocks of eight elements of y, kept in registers over all terms; kGroup
// blocks at a time, whose chains of subtractions overlap.
typedef double Block __attribute__((vector_size(64)));

template <int kGroup>
__attribute__((always_inline)) inline void SubtractTermsBody(double* y, const double* x,
                                                            const double* c,
                                                            const double* const* v, int count,
                                                            int from, int to) {
  int j = from;
  for (; j + 8 * kGroup <= to; j += 8 * kGroup) {
    Block t[kGroup];
    for (int g = 0; g < kGroup; ++g) __builtin_memcpy(&t[g], x + j + 8 * g, sizeof(Block));
    for (int a = 0; a < count; ++a) {
      const double* va = v[a] + j;
      for (int g = 0; g < kGroup; ++g) {
        Block u;
        __builtin_memcpy(&u, va + 8 * g, sizeof u);
        const Block p = c[a] * u;
        t[g] = t[g] - p;
      }
    }
    for (int g = 0; g < kGroup; ++g) __builtin_memcpy(y + j + 8 * g, &t[g], sizeof(Block));
  }
  for (; j + 8 <= to; j += 8) {
    Block t;
    __builtin_memcpy(&t, x + j, sizeof t);
    for (int a = 0; a < count; ++a) {
      Block u;
      __builtin_memcpy(&u, v[a] + j, sizeof u);
      const Block p = c[a] * u;
      t = t - p;
    }
    __builtin_memcpy(y + j, &t, sizeof t);
  }
  // The last few elements side by side.
  const int rest = to - j;
  if (rest <= 0) return;
  double t[8];
  for (int e = 0; e < rest; ++e) t[e] = x[j + e];
  for (int a = 0; a < count; ++a) {
    const double* va = v[a] + j;
    for (int e = 0; e < rest; ++e) {
      const double p = c[a] * va[e];
      t[e] = t[e] - p;
    }
  }
  for (int e = 0; e < rest; ++e) y[j + e] = t[e];
}

#define TRIANGULAR_KERNELS(Name, Target, Group)                                                 \
  __attribute__((optimize("O3"))) Target void SolveTransposedLower##Name(                       \
      double* const* l, int n, double* const* ws, int count) {                                  \
    SolveTransposedLowerBody(l, n, ws, count, Bulk##Name);                                      \
  }                                                                                             \
  __attribute__((optimize("O3", "fp-contract=off"))) Target void SubtractTerms##Name(           \
      double* y, const double* x, const double* c, const double* const* v, int count,           \
      int from, int to) {                                                                       \
    SubtractTermsBody<Group>(y, x, c, v, count, from, to);                                      \
  }

// Two groups fill the generic kernel's sixteen registers; the wider ones take four.
TRIANGULAR_KERNELS(Generic, , 2)
TRIANGULAR_KERNELS(Avx2, TARNEL_TARGET_AVX2, 4)
TRIANGULAR_KERNELS(Avx512, TARNEL_TARGET_AVX512, 4)
#undef TRIANGULAR_KERNELS

}  // namespace

void SolveTransposedLower(double* const* l, int n, double* const* ws, int count) {
  ForActiveKernel(SolveTransposedLowerGeneric, SolveTransposedLowerAvx2,
                  SolveTransposedLowerAvx512)(l, n, ws, count);
}

void SubtractTerms(double* y, const double* x, const double* c, const double* const* v,
                   int count, int from, int to) {
  ForActiveKernel(SubtractTermsGeneric, SubtractTermsAvx2, SubtractTermsAvx512)(y, x, c, v, count,
                                                                               from, to);
}
