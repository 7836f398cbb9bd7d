#include "distributions/work_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>

#include "distributions/conti_settings.h"
#include "distributions/neq_threads.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "platform/machine_memory.h"

DistributionWorkBlock& WorkBlock() {
  static DistributionWorkBlock block;
  return block;
}

NormalEquationBlock& NeqBlock() {
  static NormalEquationBlock block;
  return block;
}

namespace {

// The kernel block last released, kept for the next allocation of its
// shape: the next Run on the same grid and scans would otherwise get tens of
// MB of fresh pages that its solvers fault in one by one.
DistributionWorkBlock& KeptBlock() {
  static DistributionWorkBlock kept;
  return kept;
}

// Zeroes count floats from p: on the normal equations' workers when the
// runs use several (the main thread alone is bound by one core's share of
// the memory bandwidth: milliseconds for a large block, every Run).
void ClearKernels(float* p, size_t count) {
  const ContiSettings& cs = Conti();
  const int threads = cs.multipleThreads ? std::max(1, static_cast<int>(cs.normalEquationThreads)) : 1;
  // Parts of whole cache lines, each well above a thread's start-up.
  constexpr size_t kLeast = size_t{1} << 18;
  const int parts = static_cast<int>(std::min<size_t>(static_cast<size_t>(threads), count / kLeast));
  if (parts <= 1) {
    std::fill(p, p + count, 0.0f);
    return;
  }
  const size_t step = (count / parts + 15) / 16 * 16;
  std::function<void(int)> part = [&](int t) {
    const size_t from = std::min(count, static_cast<size_t>(t - 1) * step);
    const size_t to = t == parts ? count : std::min(count, from + step);
    std::fill(p + from, p + to, 0.0f);
  };
  NeqThreadPool::Instance().Run(parts, part, nullptr);
}

void ReleaseBlock(DistributionWorkBlock& w) {
  if (!w.lammSolutions || !w.block) return;
  std::free(w.block);
  for (int k = 1; k <= w.gridPoints; ++k) delete[] w.lammSolutions[k];
  delete[] w.lammSolutions;
  w = DistributionWorkBlock{};
}

}  // namespace

bool AllocDistributionWorkArrays(int n, int m, int r) {
  DistributionWorkBlock& w = WorkBlock();
  if (w.lammSolutions) FreeDistributionWorkArrays(w.gridPoints);
  if (n < 1 || m < 1 || r < 0) return false;
  const size_t rowLength = static_cast<size_t>(r) + 1;
  const size_t total = static_cast<size_t>(n) * static_cast<size_t>(m) * rowLength;
  DistributionWorkBlock& kept = KeptBlock();
  if (kept.block && kept.gridPoints == n && kept.scans == m && kept.gridLength == r) {
    ClearKernels(kept.block, total);
    w = kept;
    kept = DistributionWorkBlock{};
    return true;
  }
  ReleaseBlock(kept);
  auto* data = static_cast<float*>(std::calloc(total, sizeof(float)));
  if (!data) return false;
  // A block this large comes fresh from the system, zero and untouched: the
  // solvers' first writes fault it in, in large pages where they can.
  platform::AdviseLargePages(data, static_cast<double>(total) * sizeof(float));
  auto* top = new (std::nothrow) float**[static_cast<size_t>(n) + 1];
  if (!top) {
    std::free(data);
    return false;
  }
  top[0] = nullptr;
  for (int k = 1; k <= n; ++k) {
    top[k] = new (std::nothrow) float*[static_cast<size_t>(m) + 1];
    if (!top[k]) {
      for (int q = 1; q < k; ++q) delete[] top[q];
      delete[] top;
      std::free(data);
      return false;
    }
    top[k][0] = nullptr;
    for (int j = 1; j <= m; ++j)
      top[k][j] = data + (static_cast<size_t>(k - 1) * m + (j - 1)) * rowLength;
  }
  w.lammSolutions = top;
  w.block = data;
  w.gridPoints = n;
  w.scans = m;
  w.gridLength = r;
  return true;
}

void FreeDistributionWorkArrays(int n) {
  DistributionWorkBlock& w = WorkBlock();
  if (!w.lammSolutions || !w.block) return;
  // A count other than the block's own leaves the block unknown to reuse.
  if (n != w.gridPoints) {
    std::free(w.block);
    // The block's own rows, whatever count the caller gave.
    for (int k = 1; k <= w.gridPoints; ++k) delete[] w.lammSolutions[k];
    delete[] w.lammSolutions;
    w = DistributionWorkBlock{};
    return;
  }
  ReleaseBlock(KeptBlock());
  KeptBlock() = w;
  w = DistributionWorkBlock{};
}

double KeptKernelBlockBytes() {
  const DistributionWorkBlock& kept = KeptBlock();
  return kept.block ? KernelBlockBytes(kept.gridPoints, kept.scans, kept.gridLength) : 0.0;
}

namespace {

// Row-pointer vector [1..count] over consecutive rows of `stride` values.
double** RowPointers(double* first, int count, size_t stride) {
  auto** rows = new (std::nothrow) double*[static_cast<size_t>(count) + 1];
  if (!rows) return nullptr;
  rows[0] = nullptr;
  for (int i = 1; i <= count; ++i) rows[i] = first + static_cast<size_t>(i - 1) * stride;
  return rows;
}

}  // namespace

bool AllocNormalEquationBlock(int n, int m, int r) {
  NormalEquationBlock& b = NeqBlock();
  if (b.block || b.passiveSet) FreeNormalEquationBlock();
  const size_t N = static_cast<size_t>(n), M = static_cast<size_t>(m), R = static_cast<size_t>(r);
  const size_t row = N + 1;
  // Square region: rhs, A, regularised A, solution, gradient, reduced matrix,
  // reduced rhs, Cholesky diagonal, reduced solution, trial, kernel means,
  // max-ent work, saved solution; then curvature, augmented matrix and the
  // curvature gradient of the maximum-entropy step.
  const size_t squareRows = 3 * N + 10 + 2 * N + 1;
  const size_t total = N * (M + 1) + N * (R + 1) + (M + 1) + (R + 1) + squareRows * row;
  auto* data = (n > 0) ? static_cast<double*>(std::calloc(total, sizeof(double))) : nullptr;
  bool ok = data != nullptr;
  // Large only for two-dimensional grids (thousands of points): then the
  // same as the kernel block.
  if (ok) platform::AdviseLargePages(data, static_cast<double>(total) * sizeof(double));
  NormalEquationBlock fresh;
  if (ok) {
    double* p = data;
    fresh.kernelScanMean = RowPointers(p, n, M + 1);
    p += N * (M + 1);
    fresh.kernelRadialMean = RowPointers(p, n, R + 1);
    p += N * (R + 1);
    fresh.dataScanMean = p;
    p += M + 1;
    fresh.dataRadialMean = p;
    p += R + 1;
    double* sq = p;
    auto rowAt = [&](size_t i) { return sq + i * row; };
    fresh.rhs = rowAt(0);
    fresh.normalMatrix = RowPointers(rowAt(1), n, row);
    fresh.regularizedMatrix = RowPointers(rowAt(N + 1), n, row);
    fresh.solution = rowAt(2 * N + 1);
    fresh.gradient = rowAt(2 * N + 2);
    fresh.reducedMatrix = RowPointers(rowAt(2 * N + 3), n, row);
    fresh.reducedRhs = rowAt(3 * N + 3);
    fresh.choleskyDiagonal = rowAt(3 * N + 4);
    fresh.reducedSolution = rowAt(3 * N + 5);
    fresh.trialSolution = rowAt(3 * N + 6);
    fresh.kernelMean = rowAt(3 * N + 7);
    fresh.maxEntWork = rowAt(3 * N + 8);
    fresh.savedSolution = rowAt(3 * N + 9);
    fresh.curvatureMatrix = RowPointers(rowAt(3 * N + 10), n, row);
    fresh.augmentedMatrix = RowPointers(rowAt(4 * N + 10), n, row);
    fresh.curvatureGradient = rowAt(5 * N + 10);
    fresh.passiveSet = new (std::nothrow) int[N + 1]();
    fresh.passiveOrder = new (std::nothrow) int[N + 1]();
    ok = fresh.kernelScanMean && fresh.kernelRadialMean && fresh.normalMatrix &&
         fresh.regularizedMatrix && fresh.reducedMatrix && fresh.curvatureMatrix &&
         fresh.augmentedMatrix && fresh.passiveSet && fresh.passiveOrder;
    fresh.block = data;
    fresh.gridPoints = n;
    fresh.scans = m;
    fresh.gridLength = r;
  }
  if (!ok) {
    b = fresh;
    FreeNormalEquationBlock();
    ErrorBox("could not allocate arrays, increase memory or take fewer scans", false);
    return false;
  }
  b = fresh;
  return true;
}

double KernelBlockBytes(double n, double m, double r) {
  const double pointer = sizeof(void*);
  return n * m * (r + 1) * sizeof(float) + (n + 1) * pointer + n * (m + 1) * pointer;
}

double NormalEquationBlockBytes(double n, double m, double r) {
  const double pointer = sizeof(void*);
  const double squareRows = 5 * n + 11;
  return (n * (m + 1) + n * (r + 1) + (m + 1) + (r + 1) + squareRows * (n + 1)) * sizeof(double) +
         7 * (n + 1) * pointer + 2 * (n + 1) * sizeof(int);
}

double DistributionWorkBlockBytes(double n, double m, double r) {
  return KernelBlockBytes(n, m, r) + NormalEquationBlockBytes(n, m, r);
}

void FreeNormalEquationBlock() {
  NormalEquationBlock& b = NeqBlock();
  delete[] b.kernelScanMean;
  delete[] b.kernelRadialMean;
  delete[] b.normalMatrix;
  delete[] b.regularizedMatrix;
  delete[] b.reducedMatrix;
  delete[] b.curvatureMatrix;
  delete[] b.augmentedMatrix;
  delete[] b.passiveSet;
  delete[] b.passiveOrder;
  std::free(b.block);
  b = NormalEquationBlock{};
}
