#include "distributions/prior_knowledge.h"
#include "distributions/max_entropy.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <immintrin.h>
#include <thread>

#include "distributions/conti_context.h"
#include "numerics/statistics.h"
#include "distributions/conti_settings.h"
#include "distributions/neq_threads.h"
#include "distributions/nnls.h"
#include "distributions/regularization_matrix.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "fit/serial_fit_settings.h"
#include "platform/error_box.h"
#include "numerics/linear_solvers.h"
#include "numerics/triangular_solve.h"
#include "numerics/vector_kernel.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

MaxEntState& MaxEnt() {
  static MaxEntState state;
  return state;
}

namespace {

// Objective and entropy at x; curvature C and gradient g of Q/2 (g = -dQ/2dx).
struct Evaluation {
  double Q = 0.0, S = 0.0;
};

// out = A x (A the n x n normal matrix, 1-based), each row summed as Dot.
void NormalMatVec(double** A, const double* x, double* out, int n);

// The curvature is the normal matrix plus the entropy's diagonal, so only
// its diagonal is kept.
Evaluation MaxEntGradient(const NormalEquationBlock& b, double alpha, const double* x,
                          double* diagonal, double* gradient) {
  MaxEntState& me = MaxEnt();
  const int n = me.n;
  const bool suppress = Conti().suppressBaselineCorrelation != 0;
  const int from = me.leadingTerm ? 2 : 1;
  const double h = 0.5 * alpha;
  Evaluation e;
  double chi = b.sumSquaresData;
  NormalMatVec(b.normalMatrix, x, gradient, n);
  for (int i = 1; i <= n; ++i) {
    const double* Ai = b.normalMatrix[i];
    const double ax = gradient[i];
    chi += x[i] * ax - 2.0 * x[i] * b.rhs[i];
    gradient[i] = b.rhs[i] - ax;
    diagonal[i] = Ai[i];
  }
  double S = 0.0;
  for (int i = from; i <= n; ++i) {
    const double m = me.priorInUse ? me.prior[i] : me.amplitudeSum;
    double L = std::log(x[i] / m);
    if (i == 1 && suppress) L -= std::log(0.001);
    if (me.priorInUse) {
      gradient[i] -= h * L;
      S += x[i] - m - x[i] * L;
    } else {
      gradient[i] -= h * (1.0 + L);
      S -= x[i] * L;
    }
    diagonal[i] += h / x[i];
  }
  if (me.priorInUse && suppress && me.n >= 1) S += 0.999 * me.prior[1];
  e.S = S;
  e.Q = chi - alpha * S;
  return e;
}

// Four doubles added lane by lane: the four partial sums of Dot.
typedef double Lanes __attribute__((vector_size(32)));

// Unaligned; a macro, since a function returning Lanes would change the
// calling convention between the processor variants below.
#define LOAD_LANES(v, p) __builtin_memcpy(&(v), (p), sizeof(Lanes))

// a . b over k0..m in four interleaved partial sums (vectorisable, and the
// same order on every call), continued from the lane sums acc over the
// groups of four before k0 (k0 - 1 a multiple of four).
__attribute__((always_inline)) inline double DotFrom(Lanes acc, const double* a, const double* b, int k0,
                                                     int m) {
  int k = k0;
  for (; k + 3 <= m; k += 4) {
    Lanes x, y;
    LOAD_LANES(x, a + k);
    LOAD_LANES(y, b + k);
    acc += x * y;
  }
  double s = (acc[0] + acc[2]) + (acc[1] + acc[3]);
  for (; k <= m; ++k) s += a[k] * b[k];
  return s;
}

// a . b over 1..m.
__attribute__((always_inline)) inline double Dot(const double* a, const double* b, int m) {
  return DotFrom(Lanes{}, a, b, 1, m);
}

// The product of the gradient, once per Marquardt step: a sum along each
// row, which a plain loop adds one term after the other.
__attribute__((always_inline)) inline void NormalMatVecBody(double** A, const double* x,
                                                           double* out, int n) {
  for (int i = 1; i <= n; ++i) out[i] = Dot(A[i], x, n);
}
void NormalMatVecGeneric(double** A, const double* x, double* out, int n) {
  NormalMatVecBody(A, x, out, n);
}
TARNEL_TARGET_AVX2 void NormalMatVecAvx2(double** A, const double* x, double* out, int n) {
  NormalMatVecBody(A, x, out, n);
}
TARNEL_TARGET_AVX512 void NormalMatVecAvx512(double** A, const double* x, double* out, int n) {
  NormalMatVecBody(A, x, out, n);
}
void NormalMatVec(double** A, const double* x, double* out, int n) {
  ForActiveKernel(NormalMatVecGeneric, NormalMatVecAvx2, NormalMatVecAvx512)(A, x, out, n);
}

// Solves a x = g (a symmetric, 1-based, n x n) by a Cholesky factor built
// in l; a row of a that vanishes stands for a variable held at its bound,
// whose unknown is 0. False when the factorisation meets a non-positive
// pivot. The Marquardt step solves one such system per iteration, so the
// factorisation is vectorised for each kernel (below) and shared among the
// workers of the normal equations on large grids.
//
// Rows go in blocks of eight: each finished row j serves the eight rows'
// columns j at once (the factor no longer fits the cache, and one pass
// over it per row waited on memory). Every sum keeps the order of Dot.
constexpr int kCholeskyRows = 8;

// Columns jFrom..jTo of rows i0..i0+7 (rows 1..jTo finished).
__attribute__((always_inline)) inline void BlockColumnsBody(double** l, int i0, int jFrom,
                                                           int jTo) {
  constexpr int kRows = kCholeskyRows;
  double* rows[kRows];
  for (int r = 0; r < kRows; ++r) rows[r] = l[i0 + r];
  for (int j = jFrom; j <= jTo; ++j) {
    const double* lj = l[j];
    const int m = j - 1;
    Lanes acc[kRows] = {};
    int k = 1;
    for (; k + 3 <= m; k += 4) {
      Lanes b;
      LOAD_LANES(b, lj + k);
      for (int r = 0; r < kRows; ++r) {
        Lanes x;
        LOAD_LANES(x, rows[r] + k);
        acc[r] += x * b;
      }
    }
    for (int r = 0; r < kRows; ++r) {
      double s = (acc[r][0] + acc[r][2]) + (acc[r][1] + acc[r][3]);
      for (int t = k; t <= m; ++t) s += rows[r][t] * lj[t];
      rows[r][j] = (rows[r][j] - s) / lj[j];
    }
  }
}

// Rows from..to one by one, columns first..row (those before `first`
// done); false at a non-positive pivot.
__attribute__((always_inline)) inline bool RowsByDotBody(double** l, int first, int from, int to) {
  for (int i = from; i <= to; ++i) {
    double* li = l[i];
    for (int j = first; j < i; ++j) li[j] = (li[j] - Dot(li, l[j], j - 1)) / l[j][j];
    const double d = li[i] - Dot(li, li, i - 1);
    if (!(d > 0.0)) return false;
    li[i] = std::sqrt(d);
  }
  return true;
}

// RowsByDotBody on the block of rows i0..i0+7 from column i0 on (i0 - 1 a
// multiple of eight, the columns before done). Each Dot there is a chain of
// dependent additions over the whole row; its part before column i0 needs
// no element of the block, so those parts go side by side first (the rows
// against one row of the block at a time), and each Dot continues from its
// lane sums over the few elements of the block.
__attribute__((always_inline)) inline bool FinishBlockBody(double** l, int i0) {
  constexpr int kRows = kCholeskyRows;
  static_assert(kRows % 4 == 0, "a block starts after whole groups of four of Dot");
  double* rows[kRows];
  for (int r = 0; r < kRows; ++r) rows[r] = l[i0 + r];
  Lanes acc[kRows][kRows];  // [r][c], c <= r
  for (int c = 0; c < kRows; ++c) {
    Lanes part[kRows] = {};
    const double* lc = rows[c];
    for (int k = 1; k + 3 <= i0 - 1; k += 4) {
      Lanes y;
      LOAD_LANES(y, lc + k);
      for (int r = c; r < kRows; ++r) {
        Lanes x;
        LOAD_LANES(x, rows[r] + k);
        part[r] += x * y;
      }
    }
    for (int r = c; r < kRows; ++r) acc[r][c] = part[r];
  }
  for (int r = 0; r < kRows; ++r) {
    double* li = rows[r];
    for (int c = 0; c < r; ++c) {
      const int j = i0 + c;
      li[j] = (li[j] - DotFrom(acc[r][c], li, l[j], i0, j - 1)) / l[j][j];
    }
    const int i = i0 + r;
    const double d = li[i] - DotFrom(acc[r][r], li, li, i0, i - 1);
    if (!(d > 0.0)) return false;
    li[i] = std::sqrt(d);
  }
  return true;
}

__attribute__((always_inline)) inline void SubstituteBody(double** l, const double* g, double* x,
                                                         int n, const int* held) {
  for (int i = 1; i <= n; ++i) x[i] = held[i] ? 0.0 : (g[i] - Dot(l[i], x, i - 1)) / l[i][i];
  // L' x = y along the rows of L (its columns lie a row apart in memory).
  for (int i = n; i >= 1; --i) {
    const double* li = l[i];
    const double xi = x[i] / li[i];
    x[i] = xi;
    for (int m = 1; m < i; ++m) x[m] -= li[m] * xi;
  }
  for (int i = 1; i <= n; ++i)
    if (held[i]) x[i] = 0.0;
}

struct CholeskyKernel {
  void (*blockColumns)(double**, int, int, int);
  bool (*rowsByDot)(double**, int, int, int);
  bool (*finishBlock)(double**, int);
  void (*substitute)(double**, const double*, double*, int, const int*);
};

// The AVX-512 copy of BlockColumnsBody takes two columns j, j + 1 at once:
// a 512-bit register holds a row's four lanes against both, so that one
// multiplication and one addition serve two of the 256-bit ones. Each
// lane adds the same products in the same order as there (multiplied and
// added apart, the last few terms fused, as that copy compiles).
__attribute__((optimize("O3", "fp-contract=off"))) TARNEL_TARGET_AVX512 void BlockColumnsAvx512(double** l, int i0,
                                                                           int jFrom, int jTo) {
  constexpr int kRows = kCholeskyRows;
  double* rows[kRows];
  for (int r = 0; r < kRows; ++r) rows[r] = l[i0 + r];
  // Column j from its lanes (the first four doubles at lanes) and its tail.
  auto finish = [&](const double* lanes, int r, const double* lj, int k, int j) {
    double s = (lanes[0] + lanes[2]) + (lanes[1] + lanes[3]);
    for (int t = k; t <= j - 1; ++t) s = __builtin_fma(rows[r][t], lj[t], s);
    rows[r][j] = (rows[r][j] - s) / lj[j];
  };
  int j = jFrom;
  for (; j + 1 <= jTo; j += 2) {
    const double* lj = l[j];
    const double* lj1 = l[j + 1];
    const int m = j - 1;
    __m512d acc[kRows];
    for (int r = 0; r < kRows; ++r) acc[r] = _mm512_setzero_pd();
    int k = 1;
    for (; k + 3 <= m; k += 4) {
      // (The zero-masked forms: the plain ones start from an undefined register.)
      const __m512d lo = _mm512_maskz_insertf64x4(0xFF, _mm512_setzero_pd(), _mm256_loadu_pd(lj + k), 0);
      const __m512d b = _mm512_maskz_insertf64x4(0xFF, lo, _mm256_loadu_pd(lj1 + k), 1);
      for (int r = 0; r < kRows; ++r) {
        const __m512d x = _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(rows[r] + k));
        acc[r] = _mm512_add_pd(acc[r], _mm512_mul_pd(x, b));
      }
    }
    alignas(64) double lanes[kRows][8];
    for (int r = 0; r < kRows; ++r) _mm512_store_pd(lanes[r], acc[r]);
    for (int r = 0; r < kRows; ++r) finish(lanes[r], r, lj, k, j);
    // Column j + 1 runs one element further: one more group of four when
    // that completes it (element j, just found, among them).
    if (k + 3 <= m + 1) {
      const __m256d b = _mm256_loadu_pd(lj1 + k);
      for (int r = 0; r < kRows; ++r) {
        const __m256d hi = _mm256_loadu_pd(lanes[r] + 4);
        _mm256_storeu_pd(lanes[r] + 4, _mm256_add_pd(hi, _mm256_mul_pd(_mm256_loadu_pd(rows[r] + k), b)));
      }
      k += 4;
    }
    for (int r = 0; r < kRows; ++r) finish(lanes[r] + 4, r, lj1, k, j + 1);
  }
  for (; j <= jTo; ++j) {
    const double* lj = l[j];
    const int m = j - 1;
    __m256d acc[kRows];
    for (int r = 0; r < kRows; ++r) acc[r] = _mm256_setzero_pd();
    int k = 1;
    for (; k + 3 <= m; k += 4) {
      const __m256d b = _mm256_loadu_pd(lj + k);
      for (int r = 0; r < kRows; ++r)
        acc[r] = _mm256_add_pd(acc[r], _mm256_mul_pd(_mm256_loadu_pd(rows[r] + k), b));
    }
    alignas(32) double lanes[kRows][4];
    for (int r = 0; r < kRows; ++r) _mm256_store_pd(lanes[r], acc[r]);
    for (int r = 0; r < kRows; ++r) finish(lanes[r], r, lj, k, j);
  }
}

#define CHOLESKY_KERNEL(Name, Target)                                                        \
  __attribute__((optimize("O3"))) Target bool RowsByDot##Name(double** l, int f, int a,     \
                                                            int b) {                        \
    return RowsByDotBody(l, f, a, b);                                                        \
  }                                                                                          \
  __attribute__((optimize("O3"))) Target bool FinishBlock##Name(double** l, int i0) {        \
    return FinishBlockBody(l, i0);                                                           \
  }                                                                                          \
  __attribute__((optimize("O3"))) Target void Substitute##Name(                              \
      double** l, const double* g, double* x, int n, const int* held) {                      \
    SubstituteBody(l, g, x, n, held);                                                        \
  }                                                                                          \
  const CholeskyKernel kCholesky##Name{BlockColumns##Name, RowsByDot##Name, FinishBlock##Name, \
                                      Substitute##Name};

#define BLOCK_COLUMNS(Name, Target)                                                           \
  __attribute__((optimize("O3"))) Target void BlockColumns##Name(double** l, int i0, int a, \
                                                                int b) {                    \
    BlockColumnsBody(l, i0, a, b);                                                           \
  }
BLOCK_COLUMNS(Generic, )
BLOCK_COLUMNS(Avx2, TARNEL_TARGET_AVX2)
#undef BLOCK_COLUMNS
CHOLESKY_KERNEL(Generic, )
CHOLESKY_KERNEL(Avx2, TARNEL_TARGET_AVX2)
CHOLESKY_KERNEL(Avx512, TARNEL_TARGET_AVX512)
#undef CHOLESKY_KERNEL

// Below this size one factorisation takes less than handing it out.
constexpr int kSharedCholeskyRows = 320;
// Blocks that one worker takes at a time: each hand-over from one worker to
// the next is a wait (a sleep and a wake-up when the processors are busy),
// and two blocks per stage halve them; measured at 800 amplitudes on a
// loaded machine (load 24 on 8 cores, 8 workers): median 0.215 s against
// 0.255 s with one block, 0.23 s with four.
constexpr int kStageBlocks = 2;

int CholeskyWorkers() {
  const ContiSettings& cs = Conti();
  return cs.multipleThreads ? std::max(1, static_cast<int>(cs.normalEquationThreads)) : 1;
}

// The blocks of eight rows, factored in order on one thread, or by the
// workers as a pipeline of stages of kStageBlocks blocks: each worker takes
// the next stage and works through its columns as far as the stages before
// it have finished (a stage finishes only after the one before it). Every
// element is formed by the same operations either way, so the factor does
// not depend on the workers.
// Rows i0..i1 of the lower triangle of a into l; held variables' rows and
// columns become those of the unit matrix (held null: none is held, and the
// rows are copied whole).
void CopyHeldRows(double** a, const int* held, double** l, int i0, int i1) {
  if (!held) {
    for (int i = i0; i <= i1; ++i) std::copy(a[i] + 1, a[i] + i + 1, l[i] + 1);
    return;
  }
  for (int i = i0; i <= i1; ++i) {
    double* li = l[i];
    const double* ai = a[i];
    if (held[i]) {
      std::fill(li + 1, li + i, 0.0);
      li[i] = 1.0;
      continue;
    }
    for (int j = 1; j <= i; ++j) li[j] = held[j] ? 0.0 : ai[j];
  }
}

bool FactorRowBlocks(const CholeskyKernel& k, double** a, const int* held, double** l,
                     int blocks) {
  constexpr int kRows = kCholeskyRows;
  auto finish = [&](int i0) { return k.finishBlock(l, i0); };
  const int workers = CholeskyWorkers();
  if (workers <= 1 || blocks * kRows < kSharedCholeskyRows) {
    for (int b = 0; b < blocks; ++b) {
      const int i0 = 1 + b * kRows;
      CopyHeldRows(a, held, l, i0, i0 + kRows - 1);
      k.blockColumns(l, i0, 1, i0 - 1);
      if (!finish(i0)) return false;
    }
    return true;
  }
  // done: the blocks finished, in order. A worker waiting for rows spins
  // briefly, then sleeps until done changes, so that a worker whose
  // processor is taken by other work does not have the others burn theirs.
  const int stages = (blocks + kStageBlocks - 1) / kStageBlocks;
  std::atomic<int> next{0}, done{0}, ended{0}, sleepers{0};
  std::atomic<bool> failed{false};
  auto rowsReady = [&](int j) {  // rows 1..(result) finished, result >= j; -1 after a failure
    for (int spin = 0;; ++spin) {
      if (failed.load()) return -1;
      const int seen = done.load();
      const int rows = kRows * std::min(blocks, kStageBlocks * seen);
      if (rows >= j) return rows;
      if (spin < 2000) {
        __builtin_ia32_pause();
        continue;
      }
      ++sleepers;
      if (!failed.load() && done.load() == seen) done.wait(seen);
      --sleepers;
    }
  };
  const std::function<void(int)> job = [&](int) {
    for (int st = next++; st < stages; st = next++) {
      const int first = st * kStageBlocks, last = std::min(blocks, first + kStageBlocks) - 1;
      const int s0 = 1 + first * kRows;
      CopyHeldRows(a, held, l, s0, kRows * (last + 1));
      bool ok = true;
      for (int j = 1; j < s0 && ok;) {
        const int ready = rowsReady(j);
        ok = ready >= 0;
        if (!ok) break;
        const int to = std::min(s0 - 1, ready);
        for (int b = first; b <= last; ++b) k.blockColumns(l, 1 + b * kRows, j, to);
        j = to + 1;
      }
      // The stage's own blocks, one after the other on this worker.
      for (int b = first; b <= last && ok; ++b) {
        const int i0 = 1 + b * kRows;
        ok = !failed.load();
        if (ok) k.blockColumns(l, i0, s0, i0 - 1);
        ok = ok && finish(i0);
      }
      if (ok) {
        done.store(st + 1);
      } else {
        failed = true;
        done.fetch_add(stages + 1);  // a change that wakes every sleeper
      }
      if (sleepers.load() > 0) done.notify_all();
      ++ended;
    }
  };
  NeqThreadPool::Instance().Run(workers, job, [&] { return ended.load() == stages; }, nullptr);
  return !failed.load();
}

bool CholeskySolveHeld(double** a, const double* g, double* x, int n, double** l, int* held) {
  // Only the lower triangle is read: row i up to the diagonal, column i
  // below it.
  bool anyHeld = false;
  for (int i = 1; i <= n; ++i) {
    bool zero = true;
    for (int j = 1; j <= i && zero; ++j) zero = a[i][j] == 0.0;
    for (int j = i + 1; j <= n && zero; ++j) zero = a[j][i] == 0.0;
    held[i] = zero ? 1 : 0;
    anyHeld = anyHeld || zero;
  }
  const CholeskyKernel& k = *ForActiveKernel(&kCholeskyGeneric, &kCholeskyAvx2, &kCholeskyAvx512);
  const int blocks = n / kCholeskyRows;
  // Each block copies its own rows first, on whichever worker takes it (a
  // plain copy where none is held, as in most steps).
  const int* copyHeld = anyHeld ? held : nullptr;
  if (!FactorRowBlocks(k, a, copyHeld, l, blocks)) return false;
  CopyHeldRows(a, copyHeld, l, 1 + blocks * kCholeskyRows, n);
  // The rows after the last whole block, every column by Dot.
  if (!k.rowsByDot(l, 1, 1 + blocks * kCholeskyRows, n)) return false;
  k.substitute(l, g, x, n, held);
  return true;
}

// Columns w_c = A^-1 e_{k_c} (1-based, n; c < count) from the factor
// A = L L' that CholeskySolveHeld left in l; the unit rows of variables held
// there give w_i = 0. Each column is formed by the same operations in the
// same order as it would be alone: the columns only go side by side, so
// that their sums, each a chain of dependent additions, overlap.
__attribute__((always_inline)) inline void UnitColumnsBody(double** l, int n, const int* ks,
                                                          int count, double* const* ws) {
  int first = n;
  for (int c = 0; c < count; ++c) {
    const int k = ks[c];
    double* w = ws[c];
    for (int i = 1; i < k; ++i) w[i] = 0.0;
    w[k] = 1.0 / l[k][k];
    first = std::min(first, k);
  }
  for (int i = first + 1; i <= n; ++i) {
    const double* li = l[i];
    for (int c = 0; c < count; ++c) {
      const int k = ks[c];
      if (k >= i) continue;
      double* w = ws[c];
      w[i] = -Dot(li + k - 1, w + k - 1, i - k) / li[i];
    }
  }
}

// Each kernel's copy of the unit-column solve, chosen by the active kernel.
__attribute__((optimize("O3"))) void UnitColumnsGeneric(double** l, int n, const int* ks,
                                                        int count, double* const* ws) {
  UnitColumnsBody(l, n, ks, count, ws);
}
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX2 void UnitColumnsAvx2(double** l, int n,
                                                                      const int* ks, int count,
                                                                      double* const* ws) {
  UnitColumnsBody(l, n, ks, count, ws);
}
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX512 void UnitColumnsAvx512(double** l, int n,
                                                                          const int* ks,
                                                                          int count,
                                                                          double* const* ws) {
  UnitColumnsBody(l, n, ks, count, ws);
}
void UnitColumns(double** l, int n, const int* ks, int count, double* const* ws) {
  ForActiveKernel(UnitColumnsGeneric, UnitColumnsAvx2, UnitColumnsAvx512)(l, n, ks, count, ws);
  // L' w = y along the rows of L.
  SolveTransposedLower(l, n, ws, count);
}

// Holding variables at their bound in the step d of A d = g (A = L L' in
// l): with d0 the step with none held, E the unit columns of the held
// variables, W = A^-1 E and G = E' A^-1 E = R R',
//   d = d0 - W z,  z = G^-1 E' d0,
// is the solution of the system whose held rows and columns are removed.
// A hold thus costs a row of R instead of a new factorisation of A.
// The factorisation takes the candidates (below) last: with
// L = [L11 0; L21 L22], A^-1 on the candidates is (L22 L22')^-1, so that
// the rows of W there, which are all the holds read, cost solves with L22
// alone; W z is formed once at the end, by one solve with L.
// Which variable is held next depends on d only where a variable may be
// held (the candidates, at their bound or pinned), and there only through
// its sign. With Q = W R'^-1 and u = R^-1 E' d0,
//   d = d0 - Q u,
// where a hold adds one column to Q and one element to u, so the
// candidates' steps follow each hold at the cost of one column. The sign
// of such a step is taken from it where it is clear by a wide margin of
// the terms' size; elsewhere, and when some held variable's column lost
// much of its size to the others before (G ill-conditioned), d is formed
// there as d0 - W z. d is formed everywhere once at the end, as d0 - W z,
// so that the step is the same as with d formed in full after each hold.
constexpr double kSignMargin = 1e-8;      // of the sum of the terms' sizes
constexpr double kConditionedPivot = 1e-2;  // of the diagonal of G

// Whether variable i may be held in the step.
bool HoldCandidate(const double* x, int i) { return x[i] < 1e-14 || MaxEnt().pinned[i]; }

// The variables of the general step's system (all, or with `apart` those
// not flagged there) in its order, the candidates last, and each one's
// place in it; returns their number.
int OrderCandidatesLast(const double* x, int n, const int* apart) {
  MaxEntState& me = MaxEnt();
  int* order = me.stepOrder.data();
  int p = 0;
  for (int i = 1; i <= n; ++i)
    if (!(apart && apart[i]) && !HoldCandidate(x, i)) order[++p] = i;
  me.fixedCount = p;
  for (int i = 1; i <= n; ++i)
    if (!(apart && apart[i]) && HoldCandidate(x, i)) order[++p] = i;
  for (int q = 1; q <= p; ++q) me.stepPlace[order[q]] = q;
  return p;
}

// At the start: d0, the candidates of the system of m variables in
// ascending order (as the general step orders them) and their steps, and
// the rows of L22.
void BeginHolds(const double* d, double** l, int n, int m) {
  MaxEntState& me = MaxEnt();
  std::copy(d + 1, d + n + 1, me.freeStep.begin() + 1);
  std::fill(me.unitReady.begin() + 1, me.unitReady.begin() + n + 1, 0);
  int count = 0;
  for (int q = me.fixedCount + 1; q <= m; ++q) {
    const int i = me.stepOrder[q];
    me.candidates[count] = i;
    me.candidateStep[count] = d[i];
    me.candidateScale[count] = std::fabs(d[i]);
    ++count;
  }
  const int f = me.fixedCount;
  for (int j = 1; j <= count; ++j) me.candidateRows[j] = l[f + j] + f;
  me.candidateCount = count;
  me.firstFreeCandidate = 0;
  me.holdCount = 0;
  me.multipliersCurrent = true;
  me.holdsConditioned = true;
}

// z = G^-1 E' d0 from the forward half u, when the last hold changed it.
void HeldMultipliers(int n) {
  MaxEntState& me = MaxEnt();
  if (me.multipliersCurrent) return;
  const size_t stride = static_cast<size_t>(n) + 1;
  const double* Rt = me.heldFactorTransposed.data();
  const double* v = me.heldForward.data();
  double* z = me.heldMultipliers.data();
  for (int a = me.holdCount; a >= 1; --a) {
    const double* Rta = Rt + static_cast<size_t>(a) * stride;
    double s = v[a];
    for (int m = a + 1; m <= me.holdCount; ++m) s -= Rta[m] * z[m];
    z[a] = s / Rta[a];
  }
  me.multipliersCurrent = true;
}

// Whether candidate j's step d0 - W z is below 0.
bool CandidateStepNegative(int n, int j) {
  MaxEntState& me = MaxEnt();
  const double estimate = me.candidateStep[j];
  const double margin = kSignMargin * me.candidateScale[j];
  if (me.holdsConditioned && estimate >= margin) return false;
  if (me.holdsConditioned && estimate < -margin) return true;
  HeldMultipliers(n);
  const size_t stride = static_cast<size_t>(n) + 1;
  const double* z = me.heldMultipliers.data();
  double s = me.freeStep[me.candidates[j]];
  for (int a = 1; a <= me.holdCount; ++a)
    s -= z[a] * me.candidateColumns[static_cast<size_t>(a - 1) * stride + j];
  return s < 0.0;
}

// The first candidate that is free and that the step would push below its
// bound; 0 when there is none.
int FirstHoldingCandidate(int n) {
  const MaxEntState& me = MaxEnt();
  for (int j = 0; j < me.candidateCount; ++j) {
    const int i = me.candidates[j];
    if (me.freeFlags[i] && CandidateStepNegative(n, j)) return i;
  }
  return 0;
}

// Candidate i's row in L22 (1-based).
int CandidateRow(int i) {
  const MaxEntState& me = MaxEnt();
  return me.stepPlace[i] - me.fixedCount;
}

// The column of A^-1 on the candidates for variable k (stored by k, in the
// candidates' order), together with those of the other free candidates that
// the step now pushes below their bound (most of which are held next).
void PrepareUnitColumns(int n, int k) {
  MaxEntState& me = MaxEnt();
  const size_t stride = static_cast<size_t>(n) + 1;
  int* ks = me.unitBatch.data();
  double** ws = me.unitBatchColumns.data();
  int count = 0;
  auto add = [&](int i) {
    ks[count] = CandidateRow(i);
    ws[count] = me.unitColumns.data() + static_cast<size_t>(i) * stride;
    me.unitReady[i] = 1;
    ++count;
  };
  add(k);
  for (int j = 0; j < me.candidateCount; ++j) {
    const int i = me.candidates[j];
    if (i != k && me.freeFlags[i] && !me.unitReady[i] && me.candidateStep[j] < 0.0) add(i);
  }
  UnitColumns(me.candidateRows.data(), me.candidateCount, ks, count, ws);
}

// Holds variable k: a new row of R, a new element of u, a new column of Q
// and the candidates' steps.
// False, with the held set unchanged, when G is not safely positive
// definite.
bool HoldInStep(int n, int k, int& count) {
  MaxEntState& me = MaxEnt();
  const size_t stride = static_cast<size_t>(n) + 1;
  const int p = count + 1;
  const double* d0 = me.freeStep.data();
  int* order = me.heldOrder.data();
  if (!me.unitReady[k]) PrepareUnitColumns(n, k);
  // w on the candidates: candidate j (from 0) at w[j + 1].
  const double* w = me.unitColumns.data() + static_cast<size_t>(k) * stride;
  const double wk = w[CandidateRow(k)];
  // Row p of R by forward substitution, its columns taken in turn in
  // blocks of eight: each element still subtracts its terms in ascending
  // order, those of a block in one pass. R' is kept beside R so that its
  // columns lie contiguous.
  double* R = me.heldFactor.data();
  double* Rt = me.heldFactorTransposed.data();
  double* Rp = R + static_cast<size_t>(p) * stride;
  for (int q = 1; q < p; ++q) Rp[q] = w[CandidateRow(order[q])];
  constexpr int kBlock = 8;
  for (int m0 = 1; m0 < p; m0 += kBlock) {
    const int end = std::min(m0 + kBlock, p);
    const double* columns[kBlock];
    for (int m = m0; m < end; ++m) {
      const double* Rtm = Rt + static_cast<size_t>(m) * stride;
      columns[m - m0] = Rtm;
      const double r = Rp[m] / Rtm[m];
      Rp[m] = r;
      for (int q = m + 1; q < end; ++q) {
        const double t = r * Rtm[q];
        Rp[q] -= t;
      }
    }
    SubtractTerms(Rp, Rp, Rp + m0, columns, end - m0, end, p);
  }
  double sum = 0.0;
  for (int q = 1; q < p; ++q) sum += Rp[q] * Rp[q];
  const double pivot = wk - sum;
  if (!(pivot > 1e-12 * wk)) return false;
  Rp[p] = std::sqrt(pivot);
  for (int q = 1; q <= p; ++q) Rt[static_cast<size_t>(q) * stride + p] = Rp[q];
  order[p] = k;
  count = p;
  me.holdCount = p;
  me.multipliersCurrent = false;
  if (pivot < kConditionedPivot * wk) me.holdsConditioned = false;
  // u gains one element per hold, the others unchanged; z follows when
  // asked for.
  double* v = me.heldForward.data();
  {
    double s = d0[k];
    for (int m = 1; m < p; ++m) s -= Rp[m] * v[m];
    v[p] = s / Rp[p];
  }
  // W's and Q's new columns at the candidates, and their steps. A held
  // candidate's step is never asked for again, and holds only ever add, so
  // Q and the steps are followed from the first free candidate on.
  const int nc = me.candidateCount;
  const int* cand = me.candidates.data();
  int& from = me.firstFreeCandidate;
  while (from < nc && !me.freeFlags[cand[from]]) ++from;
  double* wc = me.candidateColumns.data() + static_cast<size_t>(p - 1) * stride;
  std::copy(w + 1, w + nc + 1, wc);
  double* qc = me.candidateOrthogonal.data() + static_cast<size_t>(p - 1) * stride;
  const double** terms = me.termColumns.data();
  for (int a = 1; a < p; ++a)
    terms[a - 1] = me.candidateOrthogonal.data() + static_cast<size_t>(a - 1) * stride;
  SubtractTerms(qc, wc, Rp + 1, terms, p - 1, from, nc);
  double* dc = me.candidateStep.data();
  double* scale = me.candidateScale.data();
  for (int j = from; j < nc; ++j) {
    qc[j] /= Rp[p];
    const double t = v[p] * qc[j];
    dc[j] -= t;
    scale[j] += std::fabs(t);
  }
  return true;
}

// The step with the p held variables: d0 - W z on the system's m variables
// (W z = A^-1 E z by one solve with L, in the system's order), 0 where held.
void FinishHolds(double** l, const int* factorHeld, int m, int p, double* d) {
  MaxEntState& me = MaxEnt();
  const int* order = me.heldOrder.data();
  const int* place = me.stepPlace.data();
  HeldMultipliers(me.n);
  const double* z = me.heldMultipliers.data();
  double* ez = me.orderedRhs.data();
  double* wz = me.orderedStep.data();
  std::fill(ez + 1, ez + m + 1, 0.0);
  for (int a = 1; a <= p; ++a) ez[place[order[a]]] = z[a];
  const CholeskyKernel& k = *ForActiveKernel(&kCholeskyGeneric, &kCholeskyAvx2, &kCholeskyAvx512);
  k.substitute(l, ez, wz, m, factorHeld);
  const double* d0 = me.freeStep.data();
  for (int q = 1; q <= m; ++q) {
    const int i = me.stepOrder[q];
    d[i] = d0[i] - wz[q];
  }
  for (int a = 1; a <= p; ++a) d[order[a]] = 0.0;
}

// Flags the variables at their bound whose entropy curvature decouples
// them from the others (StepWithDecoupledBounds, below); returns their number.
int MarkDecoupled(const double* diagonal, const double* x, int n) {
  MaxEntState& me = MaxEnt();
  const double f = 1.0 + me.lambda;
  const double limit = 1e8 * me.normalDiagonalMax;
  int* decoupled = me.decoupled.data();
  int count = 0;
  for (int i = 1; i <= n; ++i) {
    decoupled[i] = x[i] < 1e-14 && diagonal[i] * f > limit;
    count += decoupled[i];
  }
  return count;
}

// The steps of the decoupled variables, each from its own row, given those
// of the m others (in stepOrder).
void DecoupledSteps(double** A, const double* diagonal, const double* g, double* d, int n, int m) {
  const MaxEntState& me = MaxEnt();
  const double f = 1.0 + me.lambda;
  const int* order = me.stepOrder.data();
  for (int i = 1; i <= n; ++i) {
    if (!me.decoupled[i]) continue;
    const double* Ai = A[i];
    double s = g[i];
    for (int q = 1; q <= m; ++q) s -= Ai[order[q]] * d[order[q]];
    d[i] = s / (diagonal[i] * f);
  }
}

// The Marquardt step d of (C + lambda diag C) d = g when variables sit at
// their bound (x < 1e-14): there the entropy curvature alpha / 2x exceeds
// 1e8 times the largest diagonal of the normal matrix, so by Cauchy-Schwarz
// their couplings to the other variables weigh less than 1e-8 of it. The
// others are solved as one system without them and each decoupled variable
// from its own row; those that the step would push below the bound are held
// at it. This gives the step the general treatment gives, up to those
// couplings, for one factorisation of the smaller system instead of one of
// the whole and a correction per held variable.
// Returns 1 when variables were held, 0 when none had to be, -1 when the step
// needs the general treatment (nothing decoupled, a failed factorisation,
// or a coupled variable to hold).
int StepWithDecoupledBounds(double** A, const double* diagonal, const double* g, const double* x,
                            double* d, int n) {
  MaxEntState& me = MaxEnt();
  const double f = 1.0 + me.lambda;
  int* index = me.apartIndex.data();
  const int* decoupled = me.decoupled.data();
  if (MarkDecoupled(diagonal, x, n) == 0) return -1;
  int m = 0;
  for (int i = 1; i <= n; ++i)
    if (!decoupled[i]) index[++m] = i;
  double** a = me.apartRows.data();
  double* rhs = me.apartRhs.data();
  double* sol = me.apartSolution.data();
  // The factorisation reads the lower triangle only. Below the diagonal it
  // holds elements of A alone, which stay from the step before when the
  // others are the same variables (in about half the steps of a Run).
  int* gathered = me.apartGatheredIndex.data();
  const bool same = m == me.apartGathered && std::equal(index + 1, index + m + 1, gathered + 1);
  for (int p = 1; p <= m; ++p) {
    const double* Ai = A[index[p]];
    double* row = a[p];
    if (!same)
      for (int q = 1; q < p; ++q) row[q] = Ai[index[q]];
    row[p] = diagonal[index[p]] * f;
    rhs[p] = g[index[p]];
  }
  if (!same) {
    std::copy(index + 1, index + m + 1, gathered + 1);
    me.apartGathered = m;
  }
  if (m > 0 && !CholeskySolveHeld(a, rhs, sol, m, me.apartFactorRows.data(), me.apartHeld.data()))
    return -1;
  for (int p = 1; p <= m; ++p) d[index[p]] = sol[p];
  // The decoupled ones, g_i - sum_p A_i,index(p) sol_p, summed in the order
  // of p. Where they are many (a quarter of all or more), for all i at once
  // along the (symmetric) matrix's rows, which lie contiguous in memory, the
  // solved ones' sums unused (a block of the sums kept in registers over all
  // rows, instead of one pass over the sums per row); where they are few,
  // one gather each.
  if (4 * (n - m) >= n) {
    double* r = me.work.data();
    const double** rows = me.termColumns.data();
    for (int p = 1; p <= m; ++p) rows[p - 1] = A[index[p]];
    SubtractTerms(r, g, sol + 1, rows, m, 1, n + 1);
    for (int i = 1; i <= n; ++i)
      if (decoupled[i]) d[i] = r[i] / (diagonal[i] * f);
  } else {
    for (int i = 1; i <= n; ++i) {
      if (!decoupled[i]) continue;
      const double* Ai = A[i];
      double s = g[i];
      for (int p = 1; p <= m; ++p) s -= Ai[index[p]] * sol[p];
      d[i] = s / (diagonal[i] * f);
    }
  }
  bool needBounds = me.pinnedSwitch;
  for (int i = 1; i <= n && !needBounds; ++i) needBounds = x[i] + d[i] <= 0.0;
  for (int i = 1; i <= n; ++i) me.freeFlags[i] = 1;
  if (!needBounds) return 0;
  for (int i = 1; i <= n; ++i) {
    if (!(d[i] < 0.0 && (x[i] < 1e-14 || me.pinned[i]))) continue;
    if (!decoupled[i]) {
      me.coupledHolds = true;
      return -1;
    }
    me.freeFlags[i] = 0;
    d[i] = 0.0;
  }
  return 1;
}

void MaxEntMarquardtStep(double alpha, double* x) {
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  const int n = me.n;
  double** A = b.normalMatrix;
  double* diagonal = me.curvatureDiagonal.data();
  double* g = b.curvatureGradient;
  double** aug = b.augmentedMatrix;
  double* d = me.step.data();
  double* y = me.trial.data();
  // With lambda 0 the step is never taken: nothing to solve.
  if (me.lambda >= 1e70 || me.lambda == 0.0) {
    me.lambda = 0.0;
    return;
  }
  if (me.lambda < 0.0) {
    me.lambda = 0.001;
    const Evaluation e = MaxEntGradient(b, alpha, x, diagonal, g);
    me.objective = e.Q;
    me.entropy = e.S;
  }
  bool factored = false;
  // The general step's system of m variables lies in aug in the order of
  // stepOrder.
  int m = n;
  const int* order = me.stepOrder.data();
  const int* place = me.stepPlace.data();
  auto solve = [&] {
    double* rhs = me.orderedRhs.data();
    double* step = me.orderedStep.data();
    for (int p = 1; p <= m; ++p) rhs[p] = g[order[p]];
    factored = CholeskySolveHeld(aug, rhs, step, m, b.reducedMatrix, b.passiveSet);
    if (!factored) SolveNormalEquationsD(aug, rhs, m, step, me.work.data());
    for (int p = 1; p <= m; ++p) d[order[p]] = step[p];
  };
  // Once a coupled variable had to be held, the next steps nearly always
  // hold one again, for this alpha and the next ones: they take the general
  // treatment at once, in which the decoupled variables still stay out of
  // the system (and its holds) as in StepWithDecoupledBounds.
  int bounds = me.coupledHolds ? -1 : StepWithDecoupledBounds(A, diagonal, g, x, d, n);
  const bool general = bounds < 0;
  const bool apart = general && me.coupledHolds && MarkDecoupled(diagonal, x, n) > 0;
  if (general) {
    m = OrderCandidatesLast(x, n, apart ? me.decoupled.data() : nullptr);
    const bool inPlace = m == n && me.fixedCount == n;
    for (int p = 1; p <= m; ++p) {
      const int i = order[p];
      const double* Ai = A[i];
      double* row = aug[p];
      if (inPlace)
        std::copy(Ai + 1, Ai + n + 1, row + 1);
      else
        for (int q = 1; q <= m; ++q) row[q] = Ai[order[q]];
      row[p] = diagonal[i] * (1.0 + me.lambda);
    }
    for (int i = 1; i <= n; ++i) me.freeFlags[i] = 1;
    solve();
    if (apart) DecoupledSteps(A, diagonal, g, d, n, m);
    bool needBounds = me.pinnedSwitch;
    for (int i = 1; i <= n && !needBounds; ++i) needBounds = x[i] + d[i] <= 0.0;
    bounds = needBounds ? 1 : 0;
  }
  if (bounds && general) {
    // Hold variables at their bound while the step would push them below it.
    // Most steps hold dozens, one after the other; while the factor of the
    // free system serves, each hold updates the step through it.
    bool update = factored;
    int heldCount = 0;
    if (update) BeginHolds(d, b.reducedMatrix, n, m);
    for (;;) {
      int first = 0;
      if (update) {
        first = FirstHoldingCandidate(n);
      } else {
        for (int q = me.fixedCount + 1; q <= m && !first; ++q) {
          const int i = order[q];
          if (me.freeFlags[i] && d[i] < 0.0) first = i;
        }
      }
      if (!first) break;
      me.freeFlags[first] = 0;
      if (update && HoldInStep(n, first, heldCount)) continue;
      if (update) {
        // Solve the reduced system outright from here on.
        update = false;
        for (int q = 1; q <= m; ++q)
          if (!me.freeFlags[order[q]])
            for (int j = 1; j <= m; ++j) aug[q][j] = aug[j][q] = 0.0;
      } else {
        for (int j = 1; j <= m; ++j) aug[place[first]][j] = aug[j][place[first]] = 0.0;
      }
      solve();
    }
    if (update && heldCount > 0) FinishHolds(b.reducedMatrix, b.passiveSet, m, heldCount, d);
    if (apart) {
      // The decoupled ones follow the others' held step; those it would
      // push below their bound are held there.
      DecoupledSteps(A, diagonal, g, d, n, m);
      for (int i = 1; i <= n; ++i)
        if (me.decoupled[i] && d[i] < 0.0) {
          me.freeFlags[i] = 0;
          d[i] = 0.0;
        }
    }
  }
  if (bounds) {
    for (int i = 1; i <= n; ++i) y[i] = x[i] + d[i];
    double s = 1.0;
    for (int i = 1; i <= n; ++i) {
      if (y[i] > 0.0) continue;
      if (x[i] < 0.0) return;
      const double r = std::fabs(x[i] / d[i]);
      if (r < 0.01) {
        me.pinned[i] = 1;
        me.pinnedSwitch = true;
      }
      s = std::min(s, r);
    }
    if (s <= 0.01)
      s *= 0.9;
    else
      me.pinnedSwitch = false;
    for (int i = 1; i <= n; ++i) y[i] = x[i] + s * d[i];
    for (int i = 1; i <= n; ++i)
      if (y[i] < 0.0) {
        s = std::fabs(x[i] / d[i]);
        for (int q = 1; q <= n; ++q) y[q] = x[q] + s * d[q];
      }
  } else {
    for (int i = 1; i <= n; ++i) y[i] = x[i] + d[i];
  }
  for (int i = 1; i <= n; ++i)
    if (y[i] < 1e-20) y[i] = 1e-20;
  // The trial's curvature goes to the augmented matrix, its gradient to
  // the max-ent work row; taken over when the step is accepted.
  const Evaluation e = MaxEntGradient(b, alpha, y, me.trialDiagonal.data(), b.maxEntWork);
  if (e.Q >= me.objective) {
    me.lambda *= 10.0;
    return;
  }
  me.lambda *= 0.1;
  me.objective = e.Q;
  me.entropy = e.S;
  std::swap(me.curvatureDiagonal, me.trialDiagonal);
  for (int i = 1; i <= n; ++i) {
    g[i] = b.maxEntWork[i];
    x[i] = y[i];
  }
}

bool KeyOrStop() { return platform::PollStop(); }

void ProgressLine(double deviation, bool first) {
  const MaxEntState& me = MaxEnt();
  if (!ContiContext().drawingEnabled || Conti().monteCarloRun) return;
  const double ratio = deviation + me.targetRatio;
  const double p = 1.0 - FDistributionProbability(ratio, me.nu1, me.nu2);
  char line[200];
  if (first)
    std::snprintf(line, sizeof line,
                  "Regularization:  entropy = %f, alpha=%f, P = %f (please wait...)", me.entropy,
                  me.alpha, p);
  else if (Conti().confidenceLevel < 1.0f)
    std::snprintf(line, sizeof line,
                  "Regularization:  entropy = %f, alpha=%e, P = %f (please wait...)", me.entropy,
                  me.alpha, p);
  else
    std::snprintf(line, sizeof line,
                  "Regularization:  entropy = %f, alpha=%e, P = %f, F = %f (please wait...)",
                  me.entropy, me.alpha, p, Conti().confidenceLevel + deviation);
  ContiStatusLine(70, line);
}

}  // namespace

void MaxEntIterate() {
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  double* x = b.solution;
  const int n = me.n;
  const double tau = std::min(1e-6, 0.01 * me.tolerance);
  me.lambda = -1.0;
  MaxEntMarquardtStep(me.alpha, x);
  std::copy(x + 1, x + n + 1, me.previous.begin() + 1);
  bool restarted = false;
  for (int it = 0; it < 200; ++it) {
    ++me.iterationTotal;
    // A stop ends the iterations: what they leave is not a result.
    if (platform::PollStop()) break;
    const double qOld = me.objective;
    std::copy(x + 1, x + n + 1, me.previous.begin() + 1);
    MaxEntMarquardtStep(me.alpha, x);
    const double qNew = me.objective;
    if (qNew > qOld) continue;
    if (std::fabs((qOld - qNew) / qOld) >= tau) continue;
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) sum += x[i];
    me.amplitudeMean = sum / n;
    bool gradientLarge = false, moving = false;
    for (int i = 1; i <= n; ++i) {
      if (x[i] < 1e-14) continue;
      if (std::fabs(b.curvatureGradient[i] * me.amplitudeMean / qOld) >= tau) gradientLarge = true;
      if (me.previous[i] != 0.0 && std::fabs((x[i] - me.previous[i]) / me.previous[i]) >= tau)
        moving = true;
    }
    if (gradientLarge && moving) {
      me.lambda *= 10.0;
      continue;
    }
    if (restarted) break;
    me.lambda = -1.0;
    MaxEntMarquardtStep(me.alpha, x);
    std::copy(x + 1, x + n + 1, me.previous.begin() + 1);
    restarted = true;
  }
  me.lambda = 0.0;
  MaxEntMarquardtStep(me.alpha, x);
}

void MaxEntSolve(double alpha) {
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  me.alpha = alpha;
  const size_t square = static_cast<size_t>(me.n + 1) * (me.n + 1);
  const size_t n1 = static_cast<size_t>(me.n) + 1;
  if (me.unitColumns.size() < square || me.freeStep.size() < n1) {
    me.freeStep.assign(n1, 0.0);
    me.unitColumns.assign(square, 0.0);
    me.candidateColumns.assign(square, 0.0);
    me.heldFactor.assign(square, 0.0);
    me.heldFactorTransposed.assign(square, 0.0);
    me.heldForward.assign(n1, 0.0);
    me.heldMultipliers.assign(n1, 0.0);
    me.heldOrder.assign(n1, 0);
    me.candidates.assign(n1, 0);
    me.candidateStep.assign(n1, 0.0);
    me.candidateScale.assign(n1, 0.0);
    me.candidateOrthogonal.assign(square, 0.0);
    me.unitReady.assign(n1, 0);
    me.unitBatch.assign(n1, 0);
    me.unitBatchColumns.assign(n1, nullptr);
    me.termColumns.assign(n1, nullptr);
    me.stepOrder.assign(n1, 0);
    me.stepPlace.assign(n1, 0);
    me.candidateRows.assign(n1, nullptr);
    me.orderedRhs.assign(n1, 0.0);
    me.orderedStep.assign(n1, 0.0);
  }
  if (me.apartMatrix.size() < square || me.apartRows.size() < n1) {
    me.apartMatrix.assign(square, 0.0);
    me.apartFactor.assign(square, 0.0);
    me.apartRows.assign(n1, nullptr);
    me.apartFactorRows.assign(n1, nullptr);
    for (size_t i = 0; i < n1; ++i) {
      me.apartRows[i] = me.apartMatrix.data() + i * n1;
      me.apartFactorRows[i] = me.apartFactor.data() + i * n1;
    }
    me.apartRhs.assign(n1, 0.0);
    me.apartSolution.assign(n1, 0.0);
    me.apartIndex.assign(n1, 0);
    me.apartGatheredIndex.assign(n1, 0);
    me.apartGathered = 0;
    me.apartHeld.assign(n1, 0);
    me.decoupled.assign(n1, 0);
  }
  if (me.curvatureDiagonal.size() < n1) {
    me.curvatureDiagonal.assign(n1, 0.0);
    me.trialDiagonal.assign(n1, 0.0);
  }
  me.normalDiagonalMax = 0.0;
  for (int i = 1; i <= me.n; ++i)
    me.normalDiagonalMax = std::max(me.normalDiagonalMax, std::fabs(b.normalMatrix[i][i]));
  for (int i = 1; i <= me.n; ++i) {
    me.curvatureDiagonal[i] = b.normalMatrix[i][i];
    b.curvatureGradient[i] = b.rhs[i];
    if (b.solution[i] == 0.0) b.solution[i] = me.amplitudeMean * 1e-7;
  }
  me.objective = 0.0;
  MaxEntIterate();
}

double MaxEntChiSquareDeviation(double u) {
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  const double alphaPrime = std::exp(std::min(u, 100.0));
  std::copy(me.best.begin() + 1, me.best.begin() + me.n + 1, b.solution + 1);
  MaxEntSolve(alphaPrime * me.scale);
  const double chi = ChiSquareFromNormalEquations();
  me.chiSquareCurrent = chi;
  return ChiSquareRatio(chi, me.chiSquareReference) - me.targetRatio;
}

double MaxEntAlphaSearch(const std::function<double(double)>& f, double x0, double s0, double t,
                         double smin) {
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  const ContiRunContext& ctx = ContiContext();
  auto keepBest = [&] { std::copy(b.solution + 1, b.solution + me.n + 1, me.best.begin() + 1); };
  auto restoreBest = [&] { std::copy(me.best.begin() + 1, me.best.begin() + me.n + 1, b.solution + 1); };
  auto pText = [&](double y) {
    char text[120];
    std::snprintf(text, sizeof text, "%f",
                  1.0 - FDistributionProbability(y + me.targetRatio, me.nu1, me.nu2));
    return std::string(text);
  };
  // An end at one of the search's own limits keeps the solution nearest to
  // the ratio, a result at that limit: it is said beside the distribution
  // (and the error box shown for it, if any, is known for what it is).
  auto endAtLimit = [&](double nearest, const std::string& why, const std::string& box) {
    RegularizationState& reg = Regularization();
    char text[400];
    std::snprintf(text, sizeof text,
                  "the regularization did not reach the chi-square ratio %.5f of P = %.3f: %s; the solution "
                  "nearest to it (ratio %.5f) is kept",
                  me.targetRatio, static_cast<double>(Conti().confidenceLevel), why.c_str(),
                  me.targetRatio + nearest);
    reg.limitNote = text;
    reg.limitBox = box;
    return reg.limitNote;
  };
  double u = x0, s = s0;
  bool halving = false;
  int k = 1;
  double y = f(u);
  ProgressLine(y, true);
  if (std::fabs(y) <= t || RunStopRequested()) return u;
  int d = y > t ? 1 : 0;
  double yBest = y, uBest = u;
  keepBest();
  // The nearest points on either side of the target, for the final polish.
  double uBelow = 0.0, yBelow = 0.0, uAbove = 0.0, yAbove = 0.0;
  bool haveBelow = false, haveAbove = false;
  auto note = [&](double uu, double yy) {
    if (yy < 0.0 && (!haveBelow || yy > yBelow)) {
      uBelow = uu;
      yBelow = yy;
      haveBelow = true;
    }
    if (yy > 0.0 && (!haveAbove || yy < yAbove)) {
      uAbove = uu;
      yAbove = yy;
      haveAbove = true;
    }
  };
  note(u, y);
  // The step rule ends at a smallest step, which in steep stretches leaves
  // the ratio visibly off the target; the bracket around the target is then
  // narrowed by regula falsi (Illinois) until the ratio is within t.
  auto polish = [&]() {
    if (!haveBelow || !haveAbove || std::fabs(y) <= t) return u;
    int side = 0;
    for (int it = 0; it < 40 && std::fabs(y) > t; ++it) {
      const double uNew = uBelow - yBelow * (uAbove - uBelow) / (yAbove - yBelow);
      u = uNew;
      y = f(u);
      if (y < 0.0) {
        uBelow = u;
        yBelow = y;
        if (side == -1) yAbove *= 0.5;
        side = -1;
      } else {
        uAbove = u;
        yAbove = y;
        if (side == 1) yBelow *= 0.5;
        side = 1;
      }
      if (std::fabs(uAbove - uBelow) < 1e-12) break;
    }
    return u;
  };
  s = d == 0 ? std::fabs(s) : -std::fabs(s);
  // The step rule can cycle between two points on either side of the target
  // without ever halving its step (the ratio of nearly noise-free data moves
  // in plateaus there); without progress the bracket is narrowed instead.
  double yBestSeen = yBest;
  int sinceProgress = 0;
  for (;;) {
    if (std::fabs(y) < t) return u;
    // A Run the user stopped discards what the search leaves.
    if (RunStopRequested()) return u;
    if (std::fabs(yBest) < std::fabs(yBestSeen)) {
      yBestSeen = yBest;
      sinceProgress = 0;
    } else if (++sinceProgress >= 25) {
      if (haveBelow && haveAbove) return polish();
      restoreBest();
      const std::string note = endAtLimit(yBest, "its search of alpha came no nearer to it in 25 steps", "");
      if ((!Conti().silent || Conti().finalEvaluation) && !Conti().monteCarloRun && !SerialFitRunning())
        ContiTell("REGULARIZATION", note);
      return uBest;
    }
    ++k;
    if (y > t) d = 1;
    else if (y < -t) d = 0;
    const double yPrev = y;
    u += s;
    y = f(u);
    note(u, y);
    if (std::fabs(y) < t) return u;
    int repeats = 0;
    while (y == yPrev) {
      if (std::fabs(s) < 0.25) s *= 2.0;
      u += s;
      y = f(u);
      note(u, y);
      ProgressLine(y, false);
      if (++repeats >= 101) {
        const std::string text = "problem with regularization, caught at P = " + pText(y);
        endAtLimit(yBest, "its search of alpha met the same ratio 101 times in a row (" + text + ")", text);
        ContiErrorOrCode(text, 6);
        restoreBest();
        return uBest;
      }
    }
    if (std::fabs(y) > std::fabs(yBest) + t) {
      u = uBest;
      y = yBest;
      halving = false;
      s *= 0.5;
      if (std::fabs(s) <= 1e-10 || KeyOrStop()) {
        const std::string text = "caught in local minimum or user interrupt at P = " + pText(y);
        // Its step spent (a stop is no limit: what it leaves is discarded).
        if (std::fabs(s) <= 1e-10)
          endAtLimit(yBest, "its search of alpha found no step nearer to it (" + text + ")", "");
        if (SerialFitRunning())
          gSerialFitSettings.errorCode = 6;
        else if (!(Conti().monteCarloRun && platform::StopFlag().load()))  // the series says it stopped
          ContiTell("ATTENTION", text, platform::BoxIcon::Warning);
        restoreBest();
        return uBest;
      }
    } else if (std::fabs(y) <= 0.02 || halving) {
      const bool otherSign = (y > 0.0) != (yBest > 0.0);
      if (std::fabs(y) <= 0.001 && otherSign) {
        s = uBest - (u - uBest) / (y - yBest) * yBest - u;
      } else if (std::fabs(y) > 0.001 && y > 0.0) {
        if (d == 0) {
          s = -0.3 * std::fabs(s);
          halving = true;
        } else {
          s = -1.7 * std::fabs(s);
          if (std::fabs(s) > 0.1) s = -0.25;
        }
      } else if (std::fabs(y) > 0.001 && y < 0.0) {
        if (d == 0) {
          s = std::min(2.0 * std::fabs(s), 0.25);
        } else {
          s = 0.5 * std::fabs(s);
          halving = true;
        }
      }
      if (std::fabs(y) <= std::fabs(yBest) + t) {
        yBest = y;
        uBest = u;
        keepBest();
      }
    } else {
      s = y > 0.0 ? -0.25 : 0.25;
      if ((y > 0.0) != (yBest > 0.0)) {
        s *= 0.5;
        halving = true;
      }
      if (std::fabs(y) <= std::fabs(yBest) + t) {
        yBest = y;
        uBest = u;
        keepBest();
      }
    }
    ProgressLine(y, false);
    if (std::fabs(s) < smin) return polish();
    if (k > 1000) {
      endAtLimit(yBest, "its search of alpha ended at its limit of 1000 steps (too many iterations finding root)",
                 Conti().monteCarloRun ? "" : "too many iterations finding root");
      if (!Conti().monteCarloRun) ContiErrorOrCode("too many iterations finding root", 8);
      (void)ctx;
      // The last trial is no better than any other: keep the best one.
      restoreBest();
      return uBest;
    }
  }
}

void RegularizeDistribution() {
  Regularization().limitNote.clear();
  Regularization().limitBox.clear();
  MaxEntState& me = MaxEnt();
  NormalEquationBlock& b = NeqBlock();
  const ContiSettings& cs = Conti();
  const ContiRunContext& ctx = ContiContext();
  const int n = b.fixedComponent ? b.gridPoints - 1 : b.gridPoints;
  me.n = n;
  me.leadingTerm = ctx.firstAmplitudeSeparate;
  AddRegularizationMatrix(0.0);
  if (!NNLS()) {
    for (int i = 1; i <= b.gridPoints; ++i) b.solution[i] = 0.0;
    return;
  }
  me.chiSquareReference = ChiSquareFromNormalEquations();
  me.chiSquareCurrent = me.chiSquareReference;
  float trace = 0.0f;
  for (int i = 1; i <= n; ++i) trace += static_cast<float>(b.normalMatrix[i][i]);
  me.trace = trace;
  if (n < 10) return;
  me.scale = trace / (6.0 * n - 12.0);
  double sum = 0.0;
  for (int i = me.leadingTerm ? 2 : 1; i <= n; ++i) sum += b.solution[i];
  me.amplitudeSum = sum;
  me.amplitudeMean = sum / n;
  if (sum == 0.0) return;
  const float P = cs.confidenceLevel;
  if (P <= 0.5f || P == 1.0f) {
    if (!cs.silent && !SerialFitRunning() && !cs.monteCarloRun && ctx.infoMessages)
      platform::Tell("", "no regularization:  either P < 0.5, P = 1, or to low resolution");
    return;
  }
  if (cs.silent && !cs.finalEvaluation && !cs.monteCarloRun) return;
  // An exact fit (the noise terms take the data whole) has no chi-square
  // to raise by a ratio: the unregularised solution is the result.
  if (!(me.chiSquareReference > 0.0)) return;
  const int scansInUse = ctx.timeCourse ? ctx.timeCourseScans : ctx.scanCount;
  const double points = static_cast<double>(ctx.fitRangePoints) * scansInUse;
  const double nu = ctx.dlsData ? points : points - n;
  me.nu1 = me.nu2 = static_cast<float>(nu);
  // No more points than amplitudes: no F ratio, no regularisation.
  if (P < 1.0f && !(nu > 0.0)) return;
  if (P > 1.0f) {
    if (!SerialFitRunning()) ContiTell("", "P > 1 => interpreting P value as chi-square ratio");
    me.targetRatio = P;
  } else {
    me.targetRatio = FRatioForConfidence(P, nu, nu) * me.nu2 / me.nu1;
  }
  me.tolerance = (me.targetRatio - 1.0) * 0.001;
  me.iterationTotal = 0;
  me.coupledHolds = false;
  // The normal matrix is another one than at the last regularisation.
  me.apartGathered = 0;
  me.best.assign(n + 1, 0.0);
  me.previous.assign(n + 1, 0.0);
  me.work.assign(n + 1, 0.0);
  me.trial.assign(n + 1, 0.0);
  me.step.assign(n + 1, 0.0);
  me.freeFlags.assign(n + 1, 1);
  me.pinned.assign(n + 1, 0);
  me.pinnedSwitch = false;
  std::copy(b.solution + 1, b.solution + n + 1, me.best.begin() + 1);
  ForgetStopLeftByOthers();
  me.priorInUse = Priors().use && cs.prior;
  if (me.priorInUse) {
    me.prior.assign(n + 1, 0.0);
    FloorPrior(cs.prior, me.prior.data(), n);
  }
  me.finalLnAlpha = static_cast<float>(
      MaxEntAlphaSearch(MaxEntChiSquareDeviation, std::log(0.0001), 0.01, me.tolerance, 0.005));
  me.chiSquareCurrent = ChiSquareFromNormalEquations();
  // The stop of a Run command is the Run's to take; other stops that came
  // during the search (its own polls) end here.
  if (!(RunCommandSolving() && platform::StopFlag().load())) platform::StopFlag() = false;
}
