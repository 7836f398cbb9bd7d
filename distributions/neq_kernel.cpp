#include "platform/machine_memory.h"
#include "distributions/neq_kernel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <immintrin.h>

#include "numerics/arrays.h"
#include "numerics/vector_kernel.h"

PackedDesign& Design() {
  static PackedDesign design;
  return design;
}

namespace {

// The calloc block the design's rows lie in.
void*& DesignBlock() {
  static void* block = nullptr;
  return block;
}

}  // namespace

namespace {

template <typename T>
T* Aligned(size_t n) {
  const size_t bytes = ((n * sizeof(T) + 63) / 64) * 64;
  void* p = std::aligned_alloc(64, bytes == 0 ? 64 : bytes);
  if (!p) nrerror("allocation failure in the normal-equation work block");
  // The design of a large Run is hundreds of megabytes, fresh from the
  // system: faulted in 4 KiB at a time it cost more than its packing.
  platform::AdviseLargePages(p, static_cast<double>(bytes));
  return static_cast<T*>(p);
}

// The design's rows, zero-filled, 64-byte aligned inside a calloc block
// (whose start goes to *raw, for the release). A block this large comes
// fresh and zero from the system, so calloc writes nothing: the padding
// rows, only ever read, are then never faulted in.
float* AlignedZeroFloats(size_t n, void** raw) {
  const size_t bytes = n * sizeof(float) + 64;
  void* p = std::calloc(bytes, 1);
  if (!p) nrerror("allocation failure in the normal-equation work block");
  platform::AdviseLargePages(p, static_cast<double>(bytes));
  *raw = p;
  const auto at = (reinterpret_cast<uintptr_t>(p) + 63) / 64 * 64;
  return reinterpret_cast<float*>(at);
}

// p[ii][0..3] += sum_q xi[ii][q] * xj[jj][q], jj = 0..3, ii = 0..5, over
// q = 0..len-1 (len a multiple of 8, rows 64-byte aligned); p[ii] points at
// column j0 of product row i0 + ii.
using TileKernel = void (*)(const float* const* xi, const float* const* xj, size_t len,
                            double* const* p);

void TileGeneric(const float* const* xi, const float* const* xj, size_t len,
                 double* const* p) {
  for (int ii = 0; ii < 6; ++ii)
    for (int jj = 0; jj < 4; ++jj) {
      double lanes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      const float* a = xi[ii];
      const float* b = xj[jj];
      for (size_t q = 0; q < len; q += 8)
        for (int l = 0; l < 8; ++l)
          lanes[l] += static_cast<double>(a[q + l]) * static_cast<double>(b[q + l]);
      p[ii][jj] += ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) +
                   ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
    }
}

// Sums of four 4-wide accumulators, as one 4-wide vector (a, b, c, d).
TARNEL_TARGET_AVX2 inline __m256d Sum4x4(__m256d a, __m256d b, __m256d c, __m256d d) {
  const __m256d ab = _mm256_hadd_pd(a, b);  // a01 b01 a23 b23
  const __m256d cd = _mm256_hadd_pd(c, d);
  const __m256d lo = _mm256_permute2f128_pd(ab, cd, 0x20);
  const __m256d hi = _mm256_permute2f128_pd(ab, cd, 0x31);
  return _mm256_add_pd(lo, hi);
}

TARNEL_TARGET_AVX2 void TileAvx2(const float* const* xi, const float* const* xj, size_t len,
                                 double* const* p) {
  // Three passes of 2 x 4 accumulators keep within the 16 vector registers.
  for (int pass = 0; pass < 3; ++pass) {
    const float* a0 = xi[2 * pass];
    const float* a1 = xi[2 * pass + 1];
    __m256d c00 = _mm256_setzero_pd(), c01 = c00, c02 = c00, c03 = c00;
    __m256d c10 = c00, c11 = c00, c12 = c00, c13 = c00;
    for (size_t q = 0; q < len; q += 4) {
      const __m256d x0 = _mm256_cvtps_pd(_mm_load_ps(a0 + q));
      const __m256d x1 = _mm256_cvtps_pd(_mm_load_ps(a1 + q));
      __m256d y = _mm256_cvtps_pd(_mm_load_ps(xj[0] + q));
      c00 = _mm256_fmadd_pd(x0, y, c00);
      c10 = _mm256_fmadd_pd(x1, y, c10);
      y = _mm256_cvtps_pd(_mm_load_ps(xj[1] + q));
      c01 = _mm256_fmadd_pd(x0, y, c01);
      c11 = _mm256_fmadd_pd(x1, y, c11);
      y = _mm256_cvtps_pd(_mm_load_ps(xj[2] + q));
      c02 = _mm256_fmadd_pd(x0, y, c02);
      c12 = _mm256_fmadd_pd(x1, y, c12);
      y = _mm256_cvtps_pd(_mm_load_ps(xj[3] + q));
      c03 = _mm256_fmadd_pd(x0, y, c03);
      c13 = _mm256_fmadd_pd(x1, y, c13);
    }
    double* p0 = p[2 * pass];
    double* p1 = p[2 * pass + 1];
    _mm256_storeu_pd(p0, _mm256_add_pd(_mm256_loadu_pd(p0), Sum4x4(c00, c01, c02, c03)));
    _mm256_storeu_pd(p1, _mm256_add_pd(_mm256_loadu_pd(p1), Sum4x4(c10, c11, c12, c13)));
  }
}

// GCC 12's AVX-512 headers start some shuffles from an "undefined" vector
// and then warn about it at every use; the values are fully defined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Sums of four 8-wide accumulators, as one 4-wide vector (a, b, c, d).
TARNEL_TARGET_AVX512 inline __m256d Sum4x8(__m512d a, __m512d b, __m512d c, __m512d d) {
  const __m512d ab = _mm512_add_pd(_mm512_unpacklo_pd(a, b), _mm512_unpackhi_pd(a, b));
  const __m512d cd = _mm512_add_pd(_mm512_unpacklo_pd(c, d), _mm512_unpackhi_pd(c, d));
  const __m512d x = _mm512_shuffle_f64x2(ab, cd, 0x88);
  const __m512d y = _mm512_shuffle_f64x2(ab, cd, 0xDD);
  const __m512d s = _mm512_add_pd(x, y);
  const __m512d z = _mm512_shuffle_f64x2(s, s, 0x88);
  const __m512d w = _mm512_shuffle_f64x2(s, s, 0xDD);
  return _mm512_castpd512_pd256(_mm512_add_pd(z, w));
}

TARNEL_TARGET_AVX512 void TileAvx512(const float* const* xi, const float* const* xj, size_t len,
                                     double* const* p) {
  __m512d c[6][4];
#pragma GCC unroll 6
  for (int i = 0; i < 6; ++i)
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) c[i][j] = _mm512_setzero_pd();
  const float *b0 = xj[0], *b1 = xj[1], *b2 = xj[2], *b3 = xj[3];
#pragma GCC unroll 2
  for (size_t q = 0; q < len; q += 8) {
    const __m512d y0 = _mm512_cvtps_pd(_mm256_load_ps(b0 + q));
    const __m512d y1 = _mm512_cvtps_pd(_mm256_load_ps(b1 + q));
    const __m512d y2 = _mm512_cvtps_pd(_mm256_load_ps(b2 + q));
    const __m512d y3 = _mm512_cvtps_pd(_mm256_load_ps(b3 + q));
#pragma GCC unroll 6
    for (int i = 0; i < 6; ++i) {
      const __m512d x = _mm512_cvtps_pd(_mm256_load_ps(xi[i] + q));
      c[i][0] = _mm512_fmadd_pd(x, y0, c[i][0]);
      c[i][1] = _mm512_fmadd_pd(x, y1, c[i][1]);
      c[i][2] = _mm512_fmadd_pd(x, y2, c[i][2]);
      c[i][3] = _mm512_fmadd_pd(x, y3, c[i][3]);
    }
  }
#pragma GCC unroll 6
  for (int i = 0; i < 6; ++i)
    _mm256_storeu_pd(p[i], _mm256_add_pd(_mm256_loadu_pd(p[i]),
                                         Sum4x8(c[i][0], c[i][1], c[i][2], c[i][3])));
}

#pragma GCC diagnostic pop

TileKernel ActiveTile() { return ForActiveKernel<TileKernel>(TileGeneric, TileAvx2, TileAvx512); }

}  // namespace

const char* ProductKernelName() { return VectorKernelName(ActiveVectorKernel()); }

bool StreamedDesign(int n, int threads) {
  const int rows = ((n + 1 + PackedDesign::kPad - 1) / PackedDesign::kPad) * PackedDesign::kPad;
  return threads <= 1 || rows <= PackedDesign::kChunkProductRows;
}

void ReserveDesign(int n, size_t points, int threads) {
  PackedDesign& d = Design();
  const int used = n + 1;
  const int rows = ((used + PackedDesign::kPad - 1) / PackedDesign::kPad) * PackedDesign::kPad;
  const size_t chunks = points == 0 ? 1 : (points + PackedDesign::kChunk - 1) / PackedDesign::kChunk;
  const int buffers = StreamedDesign(n, threads) ? std::max(1, threads) : 0;
  // One extra cache line per row keeps rows from sharing cache sets.
  const size_t ld = buffers > 0 ? PackedDesign::kChunkLd : chunks * PackedDesign::kChunk + 16;
  const size_t need = static_cast<size_t>(std::max(1, buffers)) * static_cast<size_t>(used + 1) * ld;
  if (need > d.capacity) {
    std::free(DesignBlock());
    DesignBlock() = nullptr;
    d.data = AlignedZeroFloats(need, &DesignBlock());
    d.capacity = need;
    d.dirty = 0;
  }
  const size_t needP = static_cast<size_t>(rows) * rows;
  if (needP > d.productCapacity) {
    std::free(d.product);
    d.product = Aligned<double>(needP);
    d.productCapacity = needP;
  }
  d.used = used;
  d.rows = rows;
  d.ld = ld;
  d.points = points;
  d.chunks = static_cast<int>(chunks);
  d.buffers = buffers;
  const auto clear = [&d](size_t begin, size_t end) {
    end = std::min(end, d.dirty);
    if (begin < end) std::memset(d.data + begin, 0, (end - begin) * sizeof(float));
  };
  if (buffers > 0) {
    // Each copy's zero row; its other rows are packed whole, padding
    // included, for every chunk.
    for (int t = 0; t < buffers; ++t) {
      const size_t zero = static_cast<size_t>(t) * (used + 1) * ld + static_cast<size_t>(used) * ld;
      clear(zero, zero + ld);
    }
  } else {
    // Padding beyond the fitted points and the zero row stay zero: they are
    // cleared where an earlier use may have written, and left untouched
    // beyond that.
    for (int i = 0; i <= used; ++i)
      clear(static_cast<size_t>(i) * ld + (i < used ? points : 0), static_cast<size_t>(i + 1) * ld);
  }
  d.dirty = std::max(d.dirty, need);
}

void ReleaseDesign() {
  PackedDesign& d = Design();
  std::free(DesignBlock());
  DesignBlock() = nullptr;
  std::free(d.product);
  std::free(d.chunkProducts);
  d = PackedDesign{};
}

int ChunkProductsPerPass(int rows, int chunks, int threads) {
  const size_t square = static_cast<size_t>(rows) * rows * sizeof(double);
  const size_t byBytes = PackedDesign::kChunkProductBytes / std::max<size_t>(square, 1);
  const size_t least = static_cast<size_t>(PackedDesign::kChunksPerWorker) * std::max(1, threads);
  return static_cast<int>(std::clamp<size_t>(std::max(byBytes, least), 1, static_cast<size_t>(std::max(1, chunks))));
}

int ReserveChunkProducts(PackedDesign& d, int threads) {
  const size_t square = static_cast<size_t>(d.rows) * d.rows;
  const int perPass = ChunkProductsPerPass(d.rows, d.chunks, threads);
  const size_t need = square * perPass;
  if (need > d.chunkCapacity) {
    std::free(d.chunkProducts);
    d.chunkProducts = Aligned<double>(need);
    d.chunkCapacity = need;
  }
  return perPass;
}

int ProductBlockTiles(int ib) {
  return (ib * PackedDesign::kBlock + PackedDesign::kBlock - 1) / PackedDesign::kColumns + 1;
}

long ProductCost(const PackedDesign& d) {
  long tiles = 0;
  for (int ib = 0; ib < d.Blocks(); ++ib) tiles += ProductBlockTiles(ib);
  return tiles * d.chunks;
}

namespace {

// Adds the products of chunk x's block row ib with column tiles jb0..jb1-1
// into `product` (rows x rows, the layout of the design's).
inline void AccumulateBlockTiles(const DesignRows& x, int rows, TileKernel tile, int ib, int jb0, int jb1,
                                 double* product) {
  const size_t len = PackedDesign::kChunk;
  const float* xi[PackedDesign::kBlock];
  const float* xj[PackedDesign::kColumns];
  double* p[PackedDesign::kBlock];
  const int i0 = ib * PackedDesign::kBlock;
  for (int ii = 0; ii < PackedDesign::kBlock; ++ii) xi[ii] = x.Row(i0 + ii);
  for (int jb = jb0; jb < jb1; ++jb) {
    const int j0 = jb * PackedDesign::kColumns;
    for (int jj = 0; jj < PackedDesign::kColumns; ++jj) xj[jj] = x.Row(j0 + jj);
    for (int ii = 0; ii < PackedDesign::kBlock; ++ii)
      p[ii] = product + static_cast<size_t>(i0 + ii) * rows + j0;
    tile(xi, xj, len, p);
  }
}

}  // namespace

void AccumulateChunkTiles(const DesignRows& x, int rows, int b0, int b1, double* product) {
  const TileKernel tile = ActiveTile();
  for (int ib = b0; ib < b1; ++ib) AccumulateBlockTiles(x, rows, tile, ib, 0, ProductBlockTiles(ib), product);
}

void AccumulateProductRegion(PackedDesign& d, int b0, int b1, int c0, int c1,
                             const std::atomic<bool>& stop, std::atomic<long>* done) {
  const TileKernel tile = ActiveTile();
  for (int c = 0; c < d.chunks; ++c) {
    if (stop.load(std::memory_order_relaxed)) return;
    const DesignRows x = ChunkOf(d, c);
    long count = 0;
    for (int ib = b0; ib < b1; ++ib) {
      const int end = std::min(c1, ProductBlockTiles(ib));
      AccumulateBlockTiles(x, d.rows, tile, ib, c0, end, d.product);
      if (end > c0) count += end - c0;
    }
    if (done) done->fetch_add(count, std::memory_order_relaxed);
  }
}

void AccumulateChunkBlocks(const DesignRows& x, int rows, int b0, int b1, double* product) {
  const TileKernel tile = ActiveTile();
  for (int ib = b0; ib < b1; ++ib) {
    const int i0 = ib * PackedDesign::kBlock;
    const int tiles = ProductBlockTiles(ib);
    for (int ii = 0; ii < PackedDesign::kBlock; ++ii)
      std::memset(product + static_cast<size_t>(i0 + ii) * rows, 0,
                  sizeof(double) * PackedDesign::kColumns * tiles);
    AccumulateBlockTiles(x, rows, tile, ib, 0, tiles, product);
  }
}

void AddChunkProducts(PackedDesign& d, int count, int b0, int b1) {
  const size_t square = static_cast<size_t>(d.rows) * d.rows;
  for (int ib = b0; ib < b1; ++ib) {
    const int width = PackedDesign::kColumns * ProductBlockTiles(ib);
    for (int ii = 0; ii < PackedDesign::kBlock; ++ii) {
      const size_t at = static_cast<size_t>(ib * PackedDesign::kBlock + ii) * d.rows;
      double* __restrict p = d.product + at;
      for (int c = 0; c < count; ++c) {
        const double* __restrict q = d.chunkProducts + square * c + at;
        for (int j = 0; j < width; ++j) p[j] += q[j];
      }
    }
  }
}
