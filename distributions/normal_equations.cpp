#include "distributions/normal_equations.h"

#include <memory>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/neq_kernel.h"
#include "distributions/neq_threads.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "numerics/vector_kernel.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

NormalEquationInputs& NeqInputs() {
  static NormalEquationInputs inputs;
  return inputs;
}

void LoadNeqInputsFromModel() {
  NormalEquationInputs& in = NeqInputs();
  in.fitTI = gFitEngineState.fitTINoise != 0;
  in.fitRI = gModelParams.riNoiseFit != 0;
  in.fitBaseline = gModelParams.baselineFit != 0;
  in.baselineValue = gModelParams.baseline;
}

NoiseModel ChooseNoiseModel(const NormalEquationInputs& in) {
  if (in.fitTI && in.fitRI) return NoiseModel::TIRI;
  if (in.fitTI) return NoiseModel::TI;
  if (in.fitRI) return NoiseModel::RI;
  if (in.fitBaseline) return NoiseModel::Baseline;
  return NoiseModel::Plain;
}

void ShowNormalEquationProgress(float fraction) {
  if (FitRunning()) return;
  if (Conti().progressLine && ContiContext().drawingEnabled) {
    if (DistributionPlotHost* host = GetDistributionPlotHost()) {
      host->DrawProgressLine(fraction);
      return;
    }
  }
  char line[128];
  std::snprintf(line, sizeof line,
                "calculating normal equations (%2.0f percent done - hit any key to interrupt...)",
                100.0 * fraction);
  ContiStatusLine(50, line);
}

namespace {

// What one build works on.
struct Plan {
  ScanSet* s = nullptr;
  NoiseModel model = NoiseModel::Plain;
  int n = 0;        // kernels in the block
  int nsys = 0;     // amplitudes of the system
  int offset = 0;   // system amplitude i is kernel i + offset
  int first = 0, last = 0, P = 0, R = 0;
  std::vector<int> scans;  // the scans that enter, in order
  double baseline = 0.0;   // plain model: fixed baseline taken from the data
  bool needScan = false, needRadial = false, needOverall = false;
  size_t points = 0;            // fitted points: P times the scans
  std::vector<double> overall;  // per design row, its mean over the fitted points
};

bool Fixed(const Plan& p) { return p.model == NoiseModel::TIRIFixedComponent; }

// Data value at (scan j, grid point r) before centring.
inline double DataValue(const Plan& p, int j, int r) {
  double y = p.s->gridSignals[j][r];
  if (Fixed(p)) y -= WorkBlock().lammSolutions[1][j][r];
  if (p.model == NoiseModel::Plain) y -= p.baseline;
  return y;
}

// What the noise model takes off every value of scan j (the radial means
// aside): the scan mean for RI offsets, less the overall mean where TI and
// RI are fitted together, the overall mean for a baseline.
inline double ScanShift(const Plan& p, const double* scanMean, int j, double overall) {
  double shift = 0.0;
  if (p.needScan) shift += scanMean[j];
  if (p.model == NoiseModel::TIRI || Fixed(p)) shift -= overall;
  if (p.model == NoiseModel::Baseline || p.model == NoiseModel::BaselineScanRange) shift += overall;
  return shift;
}

// The fitted points q0..q1-1 (scan-major: point q is grid point
// first + q % P of scan position q / P) as runs within one scan:
// run(jp, ra, rb, at) for grid points ra..rb of scan position jp, whose
// first point is point q0 + at.
template <typename Run>
__attribute__((always_inline)) inline void ForEachScanRun(const Plan& p, size_t q0, size_t q1, Run run) {
  const size_t P = static_cast<size_t>(p.P);
  for (size_t q = q0; q < q1;) {
    const size_t jp = q / P, from = q % P;
    const size_t take = std::min(q1 - q, P - from);
    run(jp, p.first + static_cast<int>(from), p.first + static_cast<int>(from + take) - 1, q - q0);
    q += take;
  }
}

// Centres the fitted points q0..q1-1 of a row of values v(j, r) with the
// means of the noise model and packs them: out[q - q0].
template <typename Value>
void CentreAndPack(const Plan& p, const Value& v, double overall, const double* scanMean,
                   const double* radialMean, size_t q0, size_t q1, float* out) {
  ForEachScanRun(p, q0, q1, [&](size_t jp, int ra, int rb, size_t at) {
    const int j = p.scans[jp];
    const double shift = ScanShift(p, scanMean, j, overall);
    float* o = out + at - ra;
    for (int r = ra; r <= rb; ++r) {
      double c = v(j, r) - shift;
      if (p.needRadial) c -= radialMean[r];
      o[r] = static_cast<float>(c);
    }
  });
}

// Means of a row of values v(j, r): per scan over the fit range, per grid
// point over the scans (r = 1..R), overall over the fitted points.
template <typename Value>
double Means(const Plan& p, const Value& v, double* scanMean, double* radialMean) {
  double total = 0.0;
  if (p.needRadial)
    for (int r = 1; r <= p.R; ++r) radialMean[r] = 0.0;
  for (int j : p.scans) {
    double sum = 0.0;
    for (int r = p.first; r <= p.last; ++r) sum += v(j, r);
    total += sum;
    if (p.needScan) scanMean[j] = sum / p.P;
    if (p.needRadial)
      for (int r = 1; r <= p.R; ++r) radialMean[r] += v(j, r);
  }
  if (p.needRadial) {
    const double m = static_cast<double>(p.scans.size());
    for (int r = 1; r <= p.R; ++r) radialMean[r] /= m;
  }
  return total / (static_cast<double>(p.P) * p.scans.size());
}

// Sum of row[first..last] in eight interleaved partial sums (a fixed
// order, so the result is reproducible, and no serial dependency chain).
__attribute__((always_inline)) inline double SumRange(const float* row, int first, int last) {
  double acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int r = first;
  for (; r + 7 <= last; r += 8)
    for (int l = 0; l < 8; ++l) acc[l] += static_cast<double>(row[r + l]);
  double sum = ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
  for (; r <= last; ++r) sum += static_cast<double>(row[r]);
  return sum;
}

// Means of kernel k (design row i) over its rows of float values; returns
// the overall one. Vectorised for each vector kernel (below): this pass
// touches every kernel value once.
__attribute__((always_inline)) inline double KernelMeansBody(const Plan& p, int i) {
  NormalEquationBlock& b = NeqBlock();
  const int k = i + p.offset;
  float** a = WorkBlock().lammSolutions[k];
  double* scanMean = b.kernelScanMean[k];
  double* radial = b.kernelRadialMean[k];
  double total = 0.0;
  if (p.needRadial)
    for (int r = 1; r <= p.R; ++r) radial[r] = 0.0;
  for (int j : p.scans) {
    const float* row = a[j];
    const double sum = SumRange(row, p.first, p.last);
    total += sum;
    if (p.needScan) scanMean[j] = sum / p.P;
    if (p.needRadial)
      for (int r = 1; r <= p.R; ++r) radial[r] += static_cast<double>(row[r]);
  }
  if (p.needRadial) {
    const double m = static_cast<double>(p.scans.size());
    for (int r = 1; r <= p.R; ++r) radial[r] /= m;
  }
  const double overall = total / (static_cast<double>(p.P) * p.scans.size());
  if (p.needOverall) b.kernelMean[k] = overall;
  return overall;
}

// The centred fitted points q0..q1-1 of kernel k (design row i), its means
// known: out[q - q0].
__attribute__((always_inline)) inline void PackKernelBody(const Plan& p, int i, size_t q0, size_t q1, float* out) {
  const NormalEquationBlock& b = NeqBlock();
  const int k = i + p.offset;
  float** a = WorkBlock().lammSolutions[k];
  const double* scanMean = b.kernelScanMean[k];
  const double* radial = b.kernelRadialMean[k];
  const double overall = p.overall[i];
  ForEachScanRun(p, q0, q1, [&](size_t jp, int ra, int rb, size_t at) {
    const int j = p.scans[jp];
    const double shift = ScanShift(p, scanMean, j, overall);
    const float* __restrict row = a[j];
    float* __restrict o = out + at - ra;
    if (p.needRadial) {
      for (int r = ra; r <= rb; ++r)
        o[r] = static_cast<float>(static_cast<double>(row[r]) - shift - radial[r]);
    } else {
      for (int r = ra; r <= rb; ++r)
        o[r] = static_cast<float>(static_cast<double>(row[r]) - shift);
    }
  });
}

__attribute__((optimize("O3"))) double KernelMeansGeneric(const Plan& p, int i) { return KernelMeansBody(p, i); }
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX2 double KernelMeansAvx2(const Plan& p, int i) {
  return KernelMeansBody(p, i);
}
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX512 double KernelMeansAvx512(const Plan& p, int i) {
  return KernelMeansBody(p, i);
}
__attribute__((optimize("O3"))) void PackKernelGeneric(const Plan& p, int i, size_t q0, size_t q1, float* out) {
  PackKernelBody(p, i, q0, q1, out);
}
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX2 void PackKernelAvx2(const Plan& p, int i, size_t q0, size_t q1,
                                                                      float* out) {
  PackKernelBody(p, i, q0, q1, out);
}
__attribute__((optimize("O3"))) TARNEL_TARGET_AVX512 void PackKernelAvx512(const Plan& p, int i, size_t q0,
                                                                          size_t q1, float* out) {
  PackKernelBody(p, i, q0, q1, out);
}

// Means of design row i (0 the data, i the kernel i + offset), stored in
// the block and, the overall one, in the plan. Each row is written by one
// worker only.
void RowMeans(Plan& p, int i) {
  if (i > 0) {
    p.overall[i] = ForActiveKernel(KernelMeansGeneric, KernelMeansAvx2, KernelMeansAvx512)(p, i);
    return;
  }
  NormalEquationBlock& b = NeqBlock();
  auto v = [&p](int j, int r) { return DataValue(p, j, r); };
  const double overall = Means(p, v, b.dataScanMean, b.dataRadialMean);
  const double count = static_cast<double>(p.P) * p.scans.size();
  b.dataSum = overall * count;
  b.dataCount = count;
  if (p.needOverall) b.dataMean = overall;
  p.overall[0] = overall;
}

// Design row i over the fitted points q0..q1-1, its means known: out[q - q0].
void PackRow(const Plan& p, int i, size_t q0, size_t q1, float* out) {
  if (i > 0) {
    ForActiveKernel(PackKernelGeneric, PackKernelAvx2, PackKernelAvx512)(p, i, q0, q1, out);
    return;
  }
  const NormalEquationBlock& b = NeqBlock();
  auto v = [&p](int j, int r) { return DataValue(p, j, r); };
  CentreAndPack(p, v, p.overall[0], b.dataScanMean, b.dataRadialMean, q0, q1, out);
}

// Chunk c of design rows 0..last into worker t's copy, the points beyond
// the fitted ones zero.
void PackChunk(const Plan& p, PackedDesign& d, int c, int last, int t) {
  const size_t q0 = static_cast<size_t>(c) * PackedDesign::kChunk;
  const size_t q1 = std::min(p.points, q0 + PackedDesign::kChunk);
  float* buffer = d.Buffer(t);
  // Each row's part of the chunk lies elsewhere in the kernels, so the
  // processor's own prefetching starts cold on every row: the next row's
  // part is asked for while this one is packed.
  const auto prefetch = [&](int i) {
    if (i < 1 || i > last) return;
    float** a = WorkBlock().lammSolutions[i + p.offset];
    ForEachScanRun(p, q0, q1, [&](size_t jp, int ra, int rb, size_t) {
      const float* row = a[p.scans[jp]];
      for (int r = ra; r <= rb; r += 16) __builtin_prefetch(row + r);
    });
  };
  prefetch(1);
  for (int i = 0; i <= last; ++i) {
    prefetch(i + 1);
    float* out = buffer + static_cast<size_t>(i) * d.ld;
    PackRow(p, i, q0, q1, out);
    std::fill(out + (q1 - q0), out + PackedDesign::kChunk, 0.0f);
  }
}

bool MakePlan(Plan& p, ScanSet& s, NoiseModel model) {
  NormalEquationBlock& b = NeqBlock();
  const DistributionWorkBlock& w = WorkBlock();
  p.s = &s;
  p.model = model;
  p.n = b.gridPoints;
  if (!w.lammSolutions || !b.block || p.n < 1 || s.count < 1) return false;
  p.offset = Fixed(p) ? 1 : 0;
  p.nsys = p.n - p.offset;
  p.first = s.firstGridPoint;
  p.last = s.lastGridPoint;
  p.P = p.last - p.first + 1;
  p.R = s.gridLength;
  if (p.P < 1 || p.first < 1 || p.last > p.R) return false;
  if (model == NoiseModel::BaselineScanRange) {
    const NormalEquationInputs& in = NeqInputs();
    for (int pos = std::max(1, in.timeCourseFirst); pos <= std::min(s.count, in.timeCourseLast);
         ++pos)
      p.scans.push_back(static_cast<size_t>(pos) < s.order.size() && s.order[pos] > 0
                            ? s.order[pos]
                            : pos);
  } else if (NeqInputs().groupFirst > 0) {
    const NormalEquationInputs& in = NeqInputs();
    for (int pos = in.groupFirst; pos <= std::min(s.count, in.groupLast); ++pos)
      p.scans.push_back(static_cast<size_t>(pos) < s.order.size() && s.order[pos] > 0 ? s.order[pos] : pos);
  } else {
    for (int j = 1; j <= s.count; ++j) p.scans.push_back(j);
  }
  if (p.scans.empty()) return false;
  p.baseline = model == NoiseModel::Plain ? NeqInputs().baselineValue : 0.0;
  p.needScan = model == NoiseModel::RI || model == NoiseModel::TIRI || Fixed(p);
  p.needRadial = model == NoiseModel::TI || model == NoiseModel::TIRI || Fixed(p);
  p.needOverall = model == NoiseModel::Baseline || model == NoiseModel::TIRI || Fixed(p) ||
                  model == NoiseModel::BaselineScanRange;
  p.points = static_cast<size_t>(p.P) * p.scans.size();
  p.overall.assign(static_cast<size_t>(p.nsys) + 1, 0.0);
  ContiRunContext& ctx = ContiContext();
  ctx.fitRangePoints = p.P;
  ctx.scanCount = NeqInputs().groupFirst > 0 ? static_cast<int>(p.scans.size()) : s.count;
  ctx.timeCourseScans = static_cast<int>(p.scans.size());
  return true;
}

void ExtractResults(const Plan& p) {
  NormalEquationBlock& b = NeqBlock();
  PackedDesign& d = Design();
  auto P = [&d](int i, int j) { return d.product[static_cast<size_t>(i) * d.rows + j]; };
  b.sumSquaresData = P(0, 0);
  for (int k = 1; k <= p.nsys; ++k) {
    b.rhs[k] = P(k, 0);
    for (int l = 1; l <= k; ++l) b.normalMatrix[k][l] = b.normalMatrix[l][k] = P(k, l);
  }
  if (Fixed(p)) {
    // The system has N - 1 amplitudes: row and column N must not carry
    // values of an earlier, larger system into the solve.
    const int n = p.n;
    for (int l = 1; l <= n; ++l) {
      b.normalMatrix[n][l] = b.normalMatrix[l][n] = 0.0;
      b.regularizedMatrix[n][l] = b.regularizedMatrix[l][n] = 0.0;
    }
    b.rhs[n] = 0.0;
    b.solution[n] = 0.0;
  }
}

// Rows and columns of a region: 24 x 24, so that a chunk of the rows a
// region touches (under 200 KB) stays in a core's own cache while the
// worker goes through its tiles, and a large product still falls into many
// more regions than there are workers.
constexpr int kRegionBlocks = 4;
constexpr int kRegionTiles = 6;

// Row blocks b0..b1-1 against column tiles c0..c1-1; cost in tiles.
struct Region {
  int b0, b1, c0, c1;
  int cost;
};

// Kept from build to build, so that the list is not allocated again.
std::vector<Region>& ProductRegions() {
  static std::vector<Region> regions;
  return regions;
}

// Per design row: set once the row is packed.
std::vector<int>& RowReady() {
  static std::vector<int> ready;
  return ready;
}

// Items 0..items-1 on T workers, handed out in order: a free worker takes
// the next item (work(k)) as soon as design rows 0..need(k) are packed, and
// packs the next row otherwise, so that the memory-bound packing runs beside
// the arithmetic instead of before it. Ends when every item is done or at a
// stop. Which worker takes an item does not change what the item sums.
template <class Need, class Work, class Pack>
void PackedItems(const Plan& p, int T, int items, Need need, Work work, const std::atomic<bool>& stop,
                 const std::function<void()>& poll, std::atomic<int>& nextRow, Pack& packRow) {
  std::vector<int>& ready = RowReady();
  std::atomic<int> nextItem{0}, finished{0};
  std::function<void(int)> job = [&](int) {
    int prefix = 0;  // rows 0..prefix-1 are known to be packed
    for (;;) {
      const int k = nextItem.load();
      if (k >= items || stop.load()) break;
      const int last = std::min(p.nsys, need(k));
      while (prefix <= last && std::atomic_ref<int>(ready[prefix]).load(std::memory_order_acquire)) ++prefix;
      if (prefix > last) {
        // The item's rows are packed: take it, unless another worker just did.
        int expected = k;
        if (!nextItem.compare_exchange_strong(expected, k + 1)) continue;
        work(k);
        ++finished;
      } else if (nextRow.load() <= p.nsys) {
        const int i = nextRow++;
        if (i <= p.nsys) packRow(i);
      } else {
        // Every row is handed out: the workers packing them finish soon.
        std::this_thread::yield();
      }
    }
  };
  NeqThreadPool::Instance().Run(T, job, [&] { return finished.load() == items || stop.load(); }, poll);
}

// Items 0..items-1 on T workers, each taken by the next free one
// (work(k, t), t = 0..T-1 the worker), until every item is done or at a
// stop. Which worker takes an item does not change what the item sums.
template <class Work>
void SharedItems(int T, int items, Work work, const std::atomic<bool>& stop, const std::function<void()>& poll) {
  std::atomic<int> next{0}, finished{0};
  std::function<void(int)> job = [&](int t) {
    for (int k = next++; k < items && !stop.load(); k = next++) {
      work(k, t - 1);
      ++finished;
    }
  };
  NeqThreadPool::Instance().Run(T, job, [&] { return finished.load() == items || stop.load(); }, poll);
}

// The product on T workers, chunk by chunk: every item is one chunk's
// tiles of one band of row blocks, packed into the worker's copy and summed
// into that chunk's own block; the blocks are then added into the product
// in the order of the chunks, so that each element is summed as on one
// thread. With few chunks for the workers the triangle is cut into two
// bands of about equal cost, and the chunks of the upper one are packed
// only over its rows.
void ChunkProduct(const Plan& p, PackedDesign& d, int T, const std::atomic<bool>& stop, std::atomic<long>& done,
                  const std::function<void()>& poll) {
  const int nb = d.Blocks();
  const size_t square = static_cast<size_t>(d.rows) * d.rows;
  const int perPass = ReserveChunkProducts(d, T);
  // Band boundaries in row blocks: [0, split) and [split, nb).
  int split = nb;
  if (d.chunks < 4 * T && nb > 1) {
    const long half = ProductCost(d) / d.chunks / 2;
    long sum = 0;
    split = 0;
    while (split < nb - 1 && sum + ProductBlockTiles(split) <= half) sum += ProductBlockTiles(split++);
    split = std::max(1, split);
  }
  const int bands = split < nb ? 2 : 1;
  const int bandBegin[2] = {0, split}, bandEnd[2] = {split, nb};
  std::memset(d.product, 0, sizeof(double) * square);
  for (int c0 = 0; c0 < d.chunks && !stop.load(); c0 += perPass) {
    const int count = std::min(perPass, d.chunks - c0);
    const auto work = [&](int k, int t) {
      const int band = k / count, chunk = k % count;
      PackChunk(p, d, c0 + chunk, std::min(p.nsys, bandEnd[band] * PackedDesign::kBlock - 1), t);
      AccumulateChunkBlocks(BufferOf(d, t), d.rows, bandBegin[band], bandEnd[band],
                            d.chunkProducts + square * chunk);
      long tiles = 0;
      for (int ib = bandBegin[band]; ib < bandEnd[band]; ++ib) tiles += ProductBlockTiles(ib);
      done.fetch_add(tiles, std::memory_order_relaxed);
    };
    SharedItems(T, bands * count, work, stop, poll);
    if (stop.load()) return;
    // The pass's chunk blocks into the product, row blocks shared out.
    SharedItems(T, nb, [&](int ib, int) { AddChunkProducts(d, count, ib, ib + 1); }, stop, nullptr);
  }
}

bool Build(ScanSet& s, NoiseModel model, int threads) {
  Plan p;
  if (!MakePlan(p, s, model)) return false;
  NormalEquationBlock& b = NeqBlock();
  b.fixedComponent = Fixed(p);
  const int T = std::max(1, threads);
  ReserveDesign(p.nsys, p.points, T);
  PackedDesign& d = Design();
  std::atomic<bool>& stop = platform::StopFlag();
  const int nb = d.Blocks();
  std::atomic<long> done{0};
  const long cost = ProductCost(d);
  NeqThreadPool& pool = NeqThreadPool::Instance();

  // The calling thread polls the keyboard and shows the progress while the
  // workers sum.
  auto poll = [&] {
    platform::PollStop();
    ShowNormalEquationProgress(cost > 0 ? static_cast<float>(done.load()) / cost : 1.0f);
  };

  // A stop ends every part of the build at its next row or chunk, the means
  // and packing included: the rows of a large set would otherwise be gone
  // through for seconds after the user asked to stop.
  const auto over = [&](const std::atomic<int>& count, int all) { return count.load() == all || stop.load(); };
  if (d.buffers > 0) {
    // Streamed: the means of every row first (each centred value needs its
    // row's means), then each chunk packed where it is summed. The design
    // of a large Run is never held whole: it was as large as the kernels,
    // and fresh pages, zeroed by the system, were most of its cost.
    SharedItems(T, p.nsys + 1, [&](int i, int) { RowMeans(p, i); }, stop, poll);
    if (stop.load()) return false;
    if (T == 1) {
      // One worker: every row block chunk after chunk, so that each chunk
      // is packed once and read from the cache.
      std::atomic<int> finished{0};
      std::function<void(int)> product = [&](int) {
        std::memset(d.product, 0, sizeof(double) * d.rows * d.rows);
        const long tiles = cost / d.chunks;
        for (int c = 0; c < d.chunks && !stop.load(std::memory_order_relaxed); ++c) {
          PackChunk(p, d, c, p.nsys, 0);
          AccumulateChunkTiles(BufferOf(d, 0), d.rows, 0, nb, d.product);
          done.fetch_add(tiles, std::memory_order_relaxed);
        }
        ++finished;
      };
      pool.Run(T, product, [&] { return over(finished, 1); }, poll);
    } else {
      ChunkProduct(p, d, T, stop, done, poll);
    }
  } else {
    // Packing: item 0 is the data row, items 1..nsys the kernels, handed
    // out in order.
    std::atomic<int> nextRow{0};
    std::vector<int>& ready = RowReady();
    ready.assign(static_cast<size_t>(p.nsys) + 1, 0);
    auto packRow = [&](int i) {
      RowMeans(p, i);
      PackRow(p, i, 0, p.points, d.Row(i));
      std::atomic_ref<int>(ready[i]).store(1, std::memory_order_release);
    };
    // Square regions of the triangle (a few row blocks against a few column
    // tiles) go one at a time to whichever worker is free, in the order in
    // which their rows get packed. A region is summed chunk after chunk by
    // one worker, every tile exactly as on one thread, so the sums do not
    // depend on who took it.
    std::memset(d.product, 0, sizeof(double) * d.rows * d.rows);
    std::vector<Region>& regions = ProductRegions();
    regions.clear();
    for (int b0 = 0; b0 < nb; b0 += kRegionBlocks) {
      const int b1 = std::min(nb, b0 + kRegionBlocks);
      const int tiles = ProductBlockTiles(b1 - 1);
      for (int c0 = 0; c0 < tiles; c0 += kRegionTiles) {
        Region r{b0, b1, c0, std::min(tiles, c0 + kRegionTiles), 0};
        for (int ib = b0; ib < b1; ++ib)
          r.cost += std::max(0, std::min(r.c1, ProductBlockTiles(ib)) - c0);
        if (r.cost > 0) regions.push_back(r);
      }
    }
    const auto need = [&](int k) {
      const Region& r = regions[k];
      return std::max(r.b1 * PackedDesign::kBlock, r.c1 * PackedDesign::kColumns) - 1;
    };
    const auto work = [&](int k) {
      const Region& r = regions[k];
      AccumulateProductRegion(d, r.b0, r.b1, r.c0, r.c1, stop, &done);
    };
    PackedItems(p, T, static_cast<int>(regions.size()), need, work, stop, poll, nextRow, packRow);
  }
  // A stopped build leaves no result: its rows are not all packed or summed.
  if (stop.load()) return false;
  ExtractResults(p);
  if (model == NoiseModel::TIRIFixedComponent) {
    b.fixedComponentValue1 = NeqInputs().bufferValue1;
    b.fixedComponentValue2 = NeqInputs().bufferValue2;
  }
  return !stop.load();
}

}  // namespace

bool BuildNormalEquations(ScanSet& s, NoiseModel model, int threads) {
  return Build(s, model, threads);
}

void NormalEquationsNoNoise() { Build(CurrentScanSet(), NoiseModel::Plain, 0); }
void NormalEquationsBaseline() { Build(CurrentScanSet(), NoiseModel::Baseline, 0); }
void NormalEquationsTINoise() { Build(CurrentScanSet(), NoiseModel::TI, 0); }
void NormalEquationsRINoise() { Build(CurrentScanSet(), NoiseModel::RI, 0); }
void NormalEquationsTIRINoise() { Build(CurrentScanSet(), NoiseModel::TIRI, 0); }
void NormalEquationsBaselineScanRange() {
  Build(CurrentScanSet(), NoiseModel::BaselineScanRange, 0);
}
void NormalEquationsTIRIFixedComponent(double value1, double value2) {
  NeqInputs().bufferValue1 = value1;
  NeqInputs().bufferValue2 = value2;
  Build(CurrentScanSet(), NoiseModel::TIRIFixedComponent, 0);
}

void CalcNormalEquationsMT() {
  platform::WriteDiagnostics("\n\tnormal equations prep");
  const int threads = std::max(1, static_cast<int>(Conti().normalEquationThreads));
  Build(CurrentScanSet(), ChooseNoiseModel(NeqInputs()), threads);
  platform::WriteDiagnostics(", all done, finished");
}

namespace {

// The grid written beside the matrices has the block's size: for c(s,f/f0)
// that is the 2-D grid, whose points are (s, f/f0) pairs; the 1-D s array
// holds only the s axis of it.
void ExportCurrentMatrices(const NormalEquationBlock& b) {
  const ContiSettings& cs = Conti();
  const DistributionArrays& a = DistArrays();
  const int n = b.gridPoints;
  if (n < 1 || !b.rhs || !b.normalMatrix) return;
  if (TwoDimensionalModel()) {
    if (!cs.grid2DS || !cs.grid2DFf || n > a.allocated2D) return;
    ExportNormalEquationMatrices(platform::SystemTempFolder(), cs.grid2DS, n, cs.grid2DFf);
  } else {
    if (!cs.sValues || n > a.allocatedN) return;
    ExportNormalEquationMatrices(platform::SystemTempFolder(), cs.sValues, n);
  }
}

}  // namespace

bool SelectAndBuildNormalEquations() {
  const NormalEquationInputs& in = NeqInputs();
  NormalEquationBlock& b = NeqBlock();
  const bool mt = Conti().multipleThreads != 0;
  const int threads = mt ? std::max(1, static_cast<int>(Conti().normalEquationThreads)) : 0;
  if (in.timeCourse) return Build(CurrentScanSet(), NoiseModel::BaselineScanRange, threads);
  bool built;
  if (in.bufferSedimentation && !in.bufferConcentrationFitted) {
    if (!(in.fitTI && in.fitRI)) {
      platform::Tell("ERROR",
                     "buffer mismatch with fixed concentration not implemented in c(s) for this noise "
                     "model\n(need RI+TI noise)",
                     platform::BoxIcon::Error);
      return false;
    }
    built = Build(CurrentScanSet(), NoiseModel::TIRIFixedComponent, threads);
  } else {
    b.fixedComponent = false;
    b.fixedComponentValue1 = b.fixedComponentValue2 = 0.0;
    built = Build(CurrentScanSet(), ChooseNoiseModel(in), threads);
  }
  if (Conti().exportMatrices) ExportCurrentMatrices(b);
  return built;
}

namespace {

// Amplitude of kernel k for the solution in the block.
inline double Amplitude(const NormalEquationBlock& b, int k) {
  if (b.fixedComponent) return k == 1 ? 1.0 : b.solution[k - 1];
  return b.solution[k];
}

float* EnsureArray(float*& a, int n) {
  if (!a) a = vector(1, n);
  return a;
}

// The work rows of one thread that forms scan models: the sums, their float
// values, and the kernels' rows of the scan with their amplitudes.
struct ModelRows {
  std::vector<double> sum;
  std::vector<float> value;
  std::vector<const float*> kernelRows;
  std::vector<double> amplitudes;
};

// out[r] += sum_q c[q] rows[q][r] (r = 1..R), the terms of each element
// added one after the other in the order of q, as a plain loop over q adds
// them. The kernels go eight at a time, so that each sum is loaded and
// stored once per eight of them instead of once per kernel (the models of a
// Run read every kernel value once, and that pass waited on the sums).
// Each element is formed by the same operations in the same order for every
// kernel: products and sums are rounded apart (no fused multiply-add).
constexpr int kModelRowsAtOnce = 8;
__attribute__((always_inline)) inline void AddKernelRowsBody(double* __restrict out,
                                                            const float* const* rows,
                                                            const double* c, int count, int R) {
  int q = 0;
  for (; q + kModelRowsAtOnce <= count; q += kModelRowsAtOnce) {
    const float* __restrict r0 = rows[q];
    const float* __restrict r1 = rows[q + 1];
    const float* __restrict r2 = rows[q + 2];
    const float* __restrict r3 = rows[q + 3];
    const float* __restrict r4 = rows[q + 4];
    const float* __restrict r5 = rows[q + 5];
    const float* __restrict r6 = rows[q + 6];
    const float* __restrict r7 = rows[q + 7];
    const double c0 = c[q], c1 = c[q + 1], c2 = c[q + 2], c3 = c[q + 3];
    const double c4 = c[q + 4], c5 = c[q + 5], c6 = c[q + 6], c7 = c[q + 7];
    for (int r = 1; r <= R; ++r) {
      double v = out[r];
      v += c0 * r0[r];
      v += c1 * r1[r];
      v += c2 * r2[r];
      v += c3 * r3[r];
      v += c4 * r4[r];
      v += c5 * r5[r];
      v += c6 * r6[r];
      v += c7 * r7[r];
      out[r] = v;
    }
  }
  for (; q < count; ++q) {
    const float* __restrict row = rows[q];
    const double cq = c[q];
    for (int r = 1; r <= R; ++r) out[r] += cq * row[r];
  }
}
__attribute__((optimize("O3", "fp-contract=off"))) void AddKernelRowsGeneric(
    double* out, const float* const* rows, const double* c, int count, int R) {
  AddKernelRowsBody(out, rows, c, count, R);
}
__attribute__((optimize("O3", "fp-contract=off"))) TARNEL_TARGET_AVX2 void AddKernelRowsAvx2(
    double* out, const float* const* rows, const double* c, int count, int R) {
  AddKernelRowsBody(out, rows, c, count, R);
}
__attribute__((optimize("O3", "fp-contract=off"))) TARNEL_TARGET_AVX512 void AddKernelRowsAvx512(
    double* out, const float* const* rows, const double* c, int count, int R) {
  AddKernelRowsBody(out, rows, c, count, R);
}

// Model of scan j on the common grid: noise(r) + sum_k c_k a_k(j, r), the
// kernels of amplitude 0 left out.
void GridModel(const ScanSet& s, int j, const float* ti, double ri, double constant, ModelRows& work) {
  const NormalEquationBlock& b = NeqBlock();
  float*** a = WorkBlock().lammSolutions;
  const int R = s.gridLength;
  std::vector<double>& out = work.sum;
  out.assign(static_cast<size_t>(R) + 1, 0.0);
  for (int r = 1; r <= R; ++r) out[r] = constant + ri + (ti ? ti[r] : 0.0);
  work.kernelRows.clear();
  work.amplitudes.clear();
  for (int k = 1; k <= b.gridPoints; ++k) {
    const double c = Amplitude(b, k);
    if (c == 0.0) continue;
    work.kernelRows.push_back(a[k][j]);
    work.amplitudes.push_back(c);
  }
  ForActiveKernel(AddKernelRowsGeneric, AddKernelRowsAvx2, AddKernelRowsAvx512)(
      out.data(), work.kernelRows.data(), work.amplitudes.data(), static_cast<int>(work.amplitudes.size()), R);
}

void StoreScanModel(ScanSet& s, int j, ModelRows& rows) {
  const int R = s.gridLength;
  std::vector<float>& g = rows.value;
  g.resize(static_cast<size_t>(R) + 1);
  for (int r = 1; r <= R; ++r) g[r] = static_cast<float>(rows.sum[r]);
  if (static_cast<size_t>(j) < s.gridModel.size() && s.gridModel[j])
    std::copy(g.begin() + 1, g.end(), s.gridModel[j] + 1);
  if (static_cast<size_t>(j) < s.model.size() && s.model[j] && s.radii[j])
    InterpolateOntoGrid(s.points[j], s.radii[j], s.model[j], R, s.grid, g.data());
}

// Scan j's model (GridModel) stored into the scan.
void FillScanModel(ScanSet& s, int j, const float* ti, double ri, double constant, ModelRows& rows) {
  GridModel(s, j, ti, ri, constant, rows);
  StoreScanModel(s, j, rows);
}

// model(j, rows) for j = 1..count: on the normal equations' workers when the
// run uses several, else on this thread. Each scan's sums and its rows are
// its own, so the models do not depend on which thread formed them.
template <class Model>
void ForEachScanModel(int count, Model model) {
  const ContiSettings& cs = Conti();
  const int threads = cs.multipleThreads ? std::min(count, static_cast<int>(cs.normalEquationThreads)) : 1;
  if (threads <= 1) {
    ModelRows rows;
    for (int j = 1; j <= count; ++j) model(j, rows);
    return;
  }
  std::atomic<int> next{1};
  std::function<void(int)> job = [&](int) {
    ModelRows rows;
    for (int j = next++; j <= count; j = next++) model(j, rows);
  };
  NeqThreadPool::Instance().Run(threads, job, nullptr);
}

}  // namespace

NoiseFill CalculateppAFit() {
  const NormalEquationBlock& b = NeqBlock();
  const NoiseModel model = b.fixedComponent ? NoiseModel::TIRIFixedComponent
                                            : ChooseNoiseModel(NeqInputs());
  const NoiseFill fill = CalculateppAFit(CurrentScanSet(), model);
  if (model != NoiseModel::Plain) {
    gModelParams.baseline = fill.baseline;
    gModelParameterVector.P[15] = fill.baseline;
  }
  // With nonlinear detection the model was fitted to the linearised signals;
  // its image in the space of the measured ones is formed here too.
  CurrentModelEvaluationHooks().nonlinearInverse();
  return fill;
}

NoiseFill CalculateppAFit(ScanSet& s, NoiseModel model) {
  NoiseFill fill;
  const NormalEquationBlock& b = NeqBlock();
  if (!b.block || !WorkBlock().lammSolutions || s.count < 1) return fill;
  const int R = s.gridLength, N = b.gridPoints;
  const bool fixed = model == NoiseModel::TIRIFixedComponent;
  const int kFirst = fixed ? 2 : 1;
  float* ti = EnsureArray(s.tiNoise, R);
  float* ri = EnsureArray(s.riNoise, s.count);
  auto sumOver = [&](auto term) {
    double t = 0.0;
    for (int k = kFirst; k <= N; ++k) {
      const double c = Amplitude(b, k);
      if (c != 0.0) t += c * term(k);
    }
    return t;
  };
  // Scan j's RI offset: its data mean less the fitted kernels' means in it.
  auto scanOffset = [&](int j) {
    return static_cast<float>(b.dataScanMean[j] - sumOver([&](int k) { return b.kernelScanMean[k][j]; }));
  };
  switch (model) {
    case NoiseModel::TI:
      for (int j = 1; j <= s.count; ++j) ri[j] = 0.0f;
      for (int r = 1; r <= R; ++r)
        ti[r] = static_cast<float>(b.dataRadialMean[r] -
                                   sumOver([&](int k) { return b.kernelRadialMean[k][r]; }));
      ForEachScanModel(s.count, [&](int j, ModelRows& rows) { FillScanModel(s, j, ti, 0.0, 0.0, rows); });
      break;
    case NoiseModel::TIRI:
    case NoiseModel::TIRIFixedComponent:
      for (int r = 1; r <= R; ++r)
        ti[r] = static_cast<float>(
            b.dataRadialMean[r] - b.dataMean -
            sumOver([&](int k) { return b.kernelRadialMean[k][r] - b.kernelMean[k]; }));
      ForEachScanModel(s.count, [&](int j, ModelRows& rows) {
        ri[j] = scanOffset(j);
        FillScanModel(s, j, ti, ri[j], 0.0, rows);
      });
      break;
    case NoiseModel::RI:
      for (int r = 1; r <= R; ++r) ti[r] = 0.0f;
      ForEachScanModel(s.count, [&](int j, ModelRows& rows) {
        ri[j] = scanOffset(j);
        FillScanModel(s, j, nullptr, ri[j], 0.0, rows);
      });
      break;
    case NoiseModel::Baseline:
    case NoiseModel::BaselineScanRange: {
      const double base = b.dataMean - sumOver([&](int k) { return b.kernelMean[k]; });
      fill.baseline = static_cast<float>(base);
      ForEachScanModel(s.count, [&](int j, ModelRows& rows) { FillScanModel(s, j, nullptr, 0.0, base, rows); });
      break;
    }
    case NoiseModel::Plain:
      fill.baseline = NeqInputs().baselineValue;
      ForEachScanModel(s.count, [&](int j, ModelRows& rows) {
        FillScanModel(s, j, nullptr, 0.0, fill.baseline, rows);
      });
      break;
  }
  return fill;
}

NoiseFill FillModelBaselineScanRange() {
  NoiseFill fill;
  fill.baseline = gModelParams.baseline;
  ScanSet& s = CurrentScanSet();
  const NormalEquationBlock& b = NeqBlock();
  if (!b.block || !WorkBlock().lammSolutions) return fill;
  double base = b.dataMean;
  for (int k = 1; k <= b.gridPoints; ++k) base -= b.solution[k] * b.kernelMean[k];
  fill.baseline = static_cast<float>(base);
  gModelParams.baseline = fill.baseline;
  gModelParameterVector.P[15] = fill.baseline;
  const NormalEquationInputs& in = NeqInputs();
  ModelRows rows;
  for (int pos = std::max(1, in.timeCourseFirst); pos <= std::min(s.count, in.timeCourseLast);
       ++pos) {
    const int j = static_cast<size_t>(pos) < s.order.size() && s.order[pos] > 0 ? s.order[pos] : pos;
    FillScanModel(s, j, nullptr, 0.0, base, rows);
  }
  return fill;
}

namespace {

// Each file whole under a temporary name, renamed into place by Close.
FILE* OpenForWriting(std::unique_ptr<platform::CheckedOutputFile>& file, const std::string& path) {
  file = std::make_unique<platform::CheckedOutputFile>(path);
  FILE* f = file->get();
  if (!f) {
    const std::string text = "\n\aAttention: could not open " + path;
    ErrorBox(text.c_str(), false);
  }
  return f;
}

// A write that failed after the open (a full disk, a file-size limit) is
// said once, here; the earlier file stays.
bool Close(std::unique_ptr<platform::CheckedOutputFile>& file) {
  const bool ok = file && file->Commit();
  if (file && !ok) {
    const std::string text = "\n\aAttention: could not write " + file->Path();
    ErrorBox(text.c_str(), false);
  }
  file.reset();
  return ok;
}

}  // namespace

bool ExportNormalEquationMatrices(const std::string& folder, const float* grid, int n,
                                  const float* grid2) {
  const NormalEquationBlock& b = NeqBlock();
  const ScanSet& s = CurrentScanSet();
  // The vector and matrix have the block's size; more rows are not there.
  if (!grid || n < 1 || n > b.gridPoints || !b.rhs || !b.normalMatrix) return false;
  auto path = [&](const char* name) { return platform::Combine(folder, name); };
  std::unique_ptr<platform::CheckedOutputFile> file;
  FILE* f = OpenForWriting(file, path("grid.txt"));
  if (!f) return false;
  for (int i = 1; i <= n; ++i) {
    if (grid2)
      std::fprintf(f, "%e %e\n", grid[i], grid2[i]);
    else
      std::fprintf(f, "%e\n", grid[i]);
  }
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("dim.txt")))) return false;
  std::fprintf(f, "%d \n", grid2 ? 2 : 1);
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("npoints.txt")))) return false;
  std::fprintf(f, "%f \n",
               static_cast<double>(s.count) * std::max(0, s.lastGridPoint - s.firstGridPoint + 1));
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("ngrid.txt")))) return false;
  std::fprintf(f, "%d \n", n);
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("sumsquaredata.txt")))) return false;
  std::fprintf(f, "%e \n", b.sumSquaresData);
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("vector.txt")))) return false;
  for (int i = 1; i <= n; ++i) std::fprintf(f, "%e \n", b.rhs[i]);
  if (!Close(file)) return false;
  if (!(f = OpenForWriting(file, path("matrix.txt")))) return false;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) std::fprintf(f, "%e ", b.normalMatrix[i][j]);
    std::fprintf(f, "\n");
  }
  if (!Close(file)) return false;
  return true;
}

bool DumpDistributionValues(const std::string& path, const float* values, int n) {
  std::unique_ptr<platform::CheckedOutputFile> file;
  FILE* f = OpenForWriting(file, path);
  if (!f) return false;
  for (int i = 1; i <= n; ++i) std::fprintf(f, "%e \n", values[i]);
  if (!Close(file)) return false;
  return true;
}
