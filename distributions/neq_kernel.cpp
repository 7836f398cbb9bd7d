#include "distributions/neq_kernel.h"

#include <cstdlib>
#include <cstring>
#include <immintrin.h>

#include "numerics/arrays.h"

PackedDesign& Design() {
  static PackedDesign design;
  return design;
}

namespace {

double* AlignedDoubles(size_t n) {
  const size_t bytes = ((n * sizeof(double) + 63) / 64) * 64;
  void* p = std::aligned_alloc(64, bytes == 0 ? 64 : bytes);
  if (!p) nrerror("allocation failure in the normal-equation work block");
  return static_cast<double*>(p);
}

// out[4*ii + jj] = sum_q xi[ii][q] * xj[jj][q] over q = 0..len-1 (len a
// multiple of 8, rows 64-byte aligned).
using TileKernel = void (*)(const double* const* xi, const double* const* xj, size_t len,
                            double* out);

void TileGeneric(const double* const* xi, const double* const* xj, size_t len, double* out) {
  for (int ii = 0; ii < 4; ++ii)
    for (int jj = 0; jj < 4; ++jj) {
      double lanes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      const double* a = xi[ii];
      const double* b = xj[jj];
      for (size_t q = 0; q < len; q += 8)
        for (int l = 0; l < 8; ++l) lanes[l] += a[q + l] * b[q + l];
      out[4 * ii + jj] = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) +
                         ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
    }
}

__attribute__((target("avx2,fma"))) void TileAvx2(const double* const* xi,
                                                 const double* const* xj, size_t len,
                                                 double* out) {
  // Two passes of 2 x 4 accumulators keep within the 16 vector registers.
  for (int half = 0; half < 2; ++half) {
    const double* a0 = xi[2 * half];
    const double* a1 = xi[2 * half + 1];
    __m256d c[2][4];
    for (int jj = 0; jj < 4; ++jj) c[0][jj] = c[1][jj] = _mm256_setzero_pd();
    for (size_t q = 0; q < len; q += 4) {
      const __m256d x0 = _mm256_load_pd(a0 + q);
      const __m256d x1 = _mm256_load_pd(a1 + q);
      for (int jj = 0; jj < 4; ++jj) {
        const __m256d y = _mm256_load_pd(xj[jj] + q);
        c[0][jj] = _mm256_fmadd_pd(x0, y, c[0][jj]);
        c[1][jj] = _mm256_fmadd_pd(x1, y, c[1][jj]);
      }
    }
    for (int r = 0; r < 2; ++r)
      for (int jj = 0; jj < 4; ++jj) {
        const __m128d lo = _mm256_castpd256_pd128(c[r][jj]);
        const __m128d hi = _mm256_extractf128_pd(c[r][jj], 1);
        const __m128d s = _mm_add_pd(lo, hi);
        out[4 * (2 * half + r) + jj] = _mm_cvtsd_f64(_mm_add_sd(s, _mm_unpackhi_pd(s, s)));
      }
  }
}

__attribute__((target("avx512f"))) inline double Sum8(__m512d v) {
  alignas(64) double t[8];
  _mm512_store_pd(t, v);
  return ((t[0] + t[4]) + (t[1] + t[5])) + ((t[2] + t[6]) + (t[3] + t[7]));
}

__attribute__((target("avx512f"))) void TileAvx512(const double* const* xi,
                                                  const double* const* xj, size_t len,
                                                  double* out) {
  __m512d c00 = _mm512_setzero_pd(), c01 = c00, c02 = c00, c03 = c00;
  __m512d c10 = c00, c11 = c00, c12 = c00, c13 = c00;
  __m512d c20 = c00, c21 = c00, c22 = c00, c23 = c00;
  __m512d c30 = c00, c31 = c00, c32 = c00, c33 = c00;
  const double *a0 = xi[0], *a1 = xi[1], *a2 = xi[2], *a3 = xi[3];
  const double *b0 = xj[0], *b1 = xj[1], *b2 = xj[2], *b3 = xj[3];
  for (size_t q = 0; q < len; q += 8) {
    const __m512d x0 = _mm512_load_pd(a0 + q), x1 = _mm512_load_pd(a1 + q);
    const __m512d x2 = _mm512_load_pd(a2 + q), x3 = _mm512_load_pd(a3 + q);
    __m512d y = _mm512_load_pd(b0 + q);
    c00 = _mm512_fmadd_pd(x0, y, c00);
    c10 = _mm512_fmadd_pd(x1, y, c10);
    c20 = _mm512_fmadd_pd(x2, y, c20);
    c30 = _mm512_fmadd_pd(x3, y, c30);
    y = _mm512_load_pd(b1 + q);
    c01 = _mm512_fmadd_pd(x0, y, c01);
    c11 = _mm512_fmadd_pd(x1, y, c11);
    c21 = _mm512_fmadd_pd(x2, y, c21);
    c31 = _mm512_fmadd_pd(x3, y, c31);
    y = _mm512_load_pd(b2 + q);
    c02 = _mm512_fmadd_pd(x0, y, c02);
    c12 = _mm512_fmadd_pd(x1, y, c12);
    c22 = _mm512_fmadd_pd(x2, y, c22);
    c32 = _mm512_fmadd_pd(x3, y, c32);
    y = _mm512_load_pd(b3 + q);
    c03 = _mm512_fmadd_pd(x0, y, c03);
    c13 = _mm512_fmadd_pd(x1, y, c13);
    c23 = _mm512_fmadd_pd(x2, y, c23);
    c33 = _mm512_fmadd_pd(x3, y, c33);
  }
  out[0] = Sum8(c00);
  out[1] = Sum8(c01);
  out[2] = Sum8(c02);
  out[3] = Sum8(c03);
  out[4] = Sum8(c10);
  out[5] = Sum8(c11);
  out[6] = Sum8(c12);
  out[7] = Sum8(c13);
  out[8] = Sum8(c20);
  out[9] = Sum8(c21);
  out[10] = Sum8(c22);
  out[11] = Sum8(c23);
  out[12] = Sum8(c30);
  out[13] = Sum8(c31);
  out[14] = Sum8(c32);
  out[15] = Sum8(c33);
}

struct KernelChoice {
  TileKernel tile;
  const char* name;
};

KernelChoice ChooseKernel() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return {TileAvx512, "avx512"};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return {TileAvx2, "avx2"};
  return {TileGeneric, "generic"};
}

const KernelChoice& Kernel() {
  static const KernelChoice choice = ChooseKernel();
  return choice;
}

}  // namespace

const char* ProductKernelName() { return Kernel().name; }

void ReserveDesign(int n, size_t points) {
  PackedDesign& d = Design();
  const int used = n + 1;
  const int rows = ((used + PackedDesign::kBlock - 1) / PackedDesign::kBlock) * PackedDesign::kBlock;
  const size_t chunks = points == 0 ? 1 : (points + PackedDesign::kChunk - 1) / PackedDesign::kChunk;
  // One extra cache line per row keeps rows from sharing cache sets.
  const size_t ld = chunks * PackedDesign::kChunk + 8;
  const size_t need = static_cast<size_t>(rows) * ld;
  if (need > d.capacity) {
    std::free(d.data);
    d.data = AlignedDoubles(need);
    d.capacity = need;
  }
  const size_t needP = static_cast<size_t>(rows) * rows;
  if (needP > d.productCapacity) {
    std::free(d.product);
    d.product = AlignedDoubles(needP);
    d.productCapacity = needP;
  }
  d.used = used;
  d.rows = rows;
  d.ld = ld;
  d.points = points;
  d.chunks = static_cast<int>(chunks);
  // Padding beyond the fitted points and the padding rows stay zero.
  for (int i = 0; i < rows; ++i) {
    double* r = d.Row(i);
    const size_t from = i < used ? points : 0;
    std::memset(r + from, 0, (ld - from) * sizeof(double));
  }
}

void ClearProductBlock(PackedDesign& d, int ib) {
  for (int ii = 0; ii < PackedDesign::kBlock; ++ii) {
    const int i = ib * PackedDesign::kBlock + ii;
    std::memset(d.product + static_cast<size_t>(i) * d.rows, 0, sizeof(double) * (i + 1));
  }
}

int ProductBlockOwner(int ib, int threads) {
  const int round = ib / threads, pos = ib % threads;
  return (round % 2 == 0) ? pos : threads - 1 - pos;
}

long ProductCost(const PackedDesign& d) {
  const long nb = d.Blocks();
  return nb * (nb + 1) / 2 * d.chunks;
}

void AccumulateProductBlocks(PackedDesign& d, const int* blocks, int count,
                             const std::atomic<bool>& stop, std::atomic<long>* done) {
  const TileKernel tile = Kernel().tile;
  const size_t len = PackedDesign::kChunk;
  double out[16];
  const double* xi[4];
  const double* xj[4];
  for (int c = 0; c < d.chunks; ++c) {
    if (stop.load(std::memory_order_relaxed)) return;
    const size_t off = static_cast<size_t>(c) * len;
    for (int n = 0; n < count; ++n) {
      const int ib = blocks[n];
      const int i0 = ib * 4;
      for (int ii = 0; ii < 4; ++ii) xi[ii] = d.Row(i0 + ii) + off;
      for (int jb = 0; jb <= ib; ++jb) {
        const int j0 = jb * 4;
        for (int jj = 0; jj < 4; ++jj) xj[jj] = d.Row(j0 + jj) + off;
        tile(xi, xj, len, out);
        for (int ii = 0; ii < 4; ++ii) {
          double* prow = d.product + static_cast<size_t>(i0 + ii) * d.rows + j0;
          const int jmax = (jb == ib) ? ii : 3;
          for (int jj = 0; jj <= jmax; ++jj) prow[jj] += out[4 * ii + jj];
        }
      }
      if (done) done->fetch_add(ib + 1, std::memory_order_relaxed);
    }
  }
}
