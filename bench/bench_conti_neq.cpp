// The hot path of every c(s): normal equations of the TI+RI noise model
// and the regularised non-negative solve.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/max_entropy.h"
#include "distributions/neq_kernel.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "numerics/arrays.h"
#include "numerics/vector_kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {


// 50 scans x 500 points (or as given); kernels are sedimentation boundaries of N species
// (s spread over the grid, boundaries spreading with time), data a smooth
// distribution with TI and RI offsets and noise 0.005.
struct Problem {
  ScanSet s;
  int n = 0;
  int kScans = 50, kPoints = 500;
  explicit Problem(int n_, int scans = 50, int points = 500) : n(n_), kScans(scans), kPoints(points) {
    AllocateScanTables(s, kScans);
    s.gridOwned = 1;
    s.gridLength = kPoints;
    s.grid = vector(1, kPoints);
    for (int i = 1; i <= kPoints; ++i) s.grid[i] = 6.0f + 0.002f * i;
    s.firstGridPoint = 1;
    s.lastGridPoint = kPoints;
    AllocDistributionWorkArrays(n, kScans, kPoints);
    AllocNormalEquationBlock(n, kScans, kPoints);
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 0.005);
    for (int j = 1; j <= kScans; ++j) {
      s.gridSignals[j] = vector(1, kPoints);
      s.points[j] = kPoints;
      s.order[j] = j;
      const double t = static_cast<double>(j) / kScans;
      for (int k = 1; k <= n; ++k) {
        float* a = WorkBlock().lammSolutions[k][j];
        const double centre = 0.05 + 0.9 * t * k / n;
        const double width = 0.01 + 0.03 * std::sqrt(t);
        for (int i = 1; i <= kPoints; ++i) {
          const double x = static_cast<double>(i) / kPoints;
          a[i] = static_cast<float>(0.5 * std::erfc((centre - x) / width));
        }
      }
      for (int i = 1; i <= kPoints; ++i) {
        double y = 0.02 * std::sin(0.03 * i) + 0.01 * j / kScans + noise(gen);
        for (int k = 1; k <= n; ++k)
          y += 0.05 * std::exp(-std::pow((k - 0.4 * n) / (0.05 * n), 2)) *
               WorkBlock().lammSolutions[k][j][i];
        s.gridSignals[j][i] = static_cast<float>(y);
      }
    }
  }
  ~Problem() {
    FreeScanGridArrays(s);
    FreeScanSetArrays(s);
  }
};

// CPU seconds of every thread of the process.
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One thread's double-precision FMA peak of 512 or 256 bits, in GFLOP per
// CPU second (below).
double PeakPerCpu(int bits);

// The third argument, when given, forces a kernel (0 generic, 1 avx2,
// 2 avx512) for this benchmark alone: the tile widths side by side. The
// fourth, 1, takes the size of a large Run (100 scans x 1000 points).
void BM_NormalEquationsTIRI(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const VectorKernel active = ActiveVectorKernel();
  if (state.range(2) >= 0 && !SetActiveVectorKernel(static_cast<VectorKernel>(state.range(2)))) {
    state.SkipWithError("the processor lacks this kernel");
    return;
  }
  const bool large = state.range(3) > 0;
  Problem p(n, large ? 100 : 50, large ? 1000 : 500);
  // One build first: a build follows a build, its blocks already in place.
  BuildNormalEquations(p.s, NoiseModel::TIRI, threads);
  const double cpu0 = ProcessCpuSeconds();
  for (auto _ : state) BuildNormalEquations(p.s, NoiseModel::TIRI, threads);
  const double cpu = ProcessCpuSeconds() - cpu0;
  // Useful work: the lower triangle with the data row, one FMA = 2 flops.
  const double flops = static_cast<double>(n + 1) * (n + 2) * p.kScans * p.kPoints;
  state.counters["GFLOPS"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  // Per busy thread: the flops over the CPU seconds of every thread, which
  // other work on the machine disturbs far less than the wall time; and
  // that as a share of one thread's peak of the kernel's width.
  const double perCpu = flops * 1e-9 * static_cast<double>(state.iterations()) / cpu;
  state.counters["GFLOPS_cpu"] = perCpu;
  state.counters["peak_share"] = perCpu / PeakPerCpu(ActiveVectorKernel() == VectorKernel::Avx512 ? 512 : 256);
  state.SetLabel(ProductKernelName());
  SetActiveVectorKernel(active);
}
BENCHMARK(BM_NormalEquationsTIRI)
    ->ArgsProduct({{100, 200, 400}, {1, 8}, {-1}, {0}})
    ->ArgsProduct({{200}, {1, 8}, {0, 1, 2}, {0}})
    ->ArgsProduct({{100, 200}, {1, 8}, {-1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RegularisedSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Problem p(n);
  BuildNormalEquations(p.s, NoiseModel::TIRI, 8);
  ContiRunContext& ctx = ContiContext();
  ctx.infoMessages = false;
  Conti().confidenceLevel = static_cast<float>(state.range(1)) / 100.0f;
  for (auto _ : state) ScaleRegularization();
  state.counters["ratio"] = Regularization().chiSquareCurrent / Regularization().chiSquareReference;
  state.counters["target"] = Regularization().targetRatio;
}
BENCHMARK(BM_RegularisedSolve)->Args({200, 68})->Args({200, 95})->Unit(benchmark::kMillisecond);

// The second argument is the Run's thread count (1: every factorisation
// on the calling thread).
void BM_MaxEntropySolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  Problem p(n);
  BuildNormalEquations(p.s, NoiseModel::TIRI, 8);
  ContiContext().infoMessages = false;
  ContiSettings& cs = Conti();
  const ContiSettings before = cs;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = threads > 1;
  cs.normalEquationThreads = threads;
  for (auto _ : state) RegularizeDistribution();
  cs.multipleThreads = before.multipleThreads;
  cs.normalEquationThreads = before.normalEquationThreads;
  state.counters["ratio"] = MaxEnt().chiSquareCurrent / MaxEnt().chiSquareReference;
  state.counters["target"] = MaxEnt().targetRatio;
  state.counters["iterations"] = MaxEnt().iterationTotal;
}
BENCHMARK(BM_MaxEntropySolve)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{100, 200, 400}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#if defined(__x86_64__)
// The machine's double-precision peak: twelve independent FMA chains per
// thread, enough to fill both FMA pipes past their latency, of 512 and of
// 256 bits (which width the processor sustains better).
__attribute__((target("avx512f"), noinline)) double Fma512(long iterations) {
  __m512d a0 = _mm512_set1_pd(1.0), a1 = _mm512_set1_pd(1.1), a2 = _mm512_set1_pd(1.2);
  __m512d a3 = _mm512_set1_pd(1.3), a4 = _mm512_set1_pd(1.4), a5 = _mm512_set1_pd(1.5);
  __m512d a6 = _mm512_set1_pd(1.6), a7 = _mm512_set1_pd(1.7), a8 = _mm512_set1_pd(1.8);
  __m512d a9 = _mm512_set1_pd(1.9), a10 = _mm512_set1_pd(2.0), a11 = _mm512_set1_pd(2.1);
  const __m512d m = _mm512_set1_pd(0.9999999), c = _mm512_set1_pd(1e-9);
  for (long it = 0; it < iterations; ++it) {
    a0 = _mm512_fmadd_pd(a0, m, c);
    a1 = _mm512_fmadd_pd(a1, m, c);
    a2 = _mm512_fmadd_pd(a2, m, c);
    a3 = _mm512_fmadd_pd(a3, m, c);
    a4 = _mm512_fmadd_pd(a4, m, c);
    a5 = _mm512_fmadd_pd(a5, m, c);
    a6 = _mm512_fmadd_pd(a6, m, c);
    a7 = _mm512_fmadd_pd(a7, m, c);
    a8 = _mm512_fmadd_pd(a8, m, c);
    a9 = _mm512_fmadd_pd(a9, m, c);
    a10 = _mm512_fmadd_pd(a10, m, c);
    a11 = _mm512_fmadd_pd(a11, m, c);
  }
  __m512d s = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(a0, a1), _mm512_add_pd(a2, a3)),
                            _mm512_add_pd(_mm512_add_pd(a4, a5), _mm512_add_pd(a6, a7)));
  s = _mm512_add_pd(s, _mm512_add_pd(_mm512_add_pd(a8, a9), _mm512_add_pd(a10, a11)));
  alignas(64) double t[8];
  _mm512_store_pd(t, s);
  return t[0];
}

__attribute__((target("avx2,fma"), noinline)) double Fma256(long iterations) {
  __m256d a[12];
  for (int i = 0; i < 12; ++i) a[i] = _mm256_set1_pd(1.0 + 0.1 * i);
  const __m256d m = _mm256_set1_pd(0.9999999), c = _mm256_set1_pd(1e-9);
  for (long it = 0; it < iterations; ++it) {
#pragma GCC unroll 12
    for (int i = 0; i < 12; ++i) a[i] = _mm256_fmadd_pd(a[i], m, c);
  }
  __m256d s = a[0];
  for (int i = 1; i < 12; ++i) s = _mm256_add_pd(s, a[i]);
  alignas(32) double t[4];
  _mm256_store_pd(t, s);
  return t[0];
}

// The best of five short measurements, 0 where the processor lacks the
// width.
double PeakPerCpu(int bits) {
  static double peak[2] = {-1.0, -1.0};
  double& p = peak[bits == 512 ? 1 : 0];
  if (p >= 0.0) return p;
  p = 0.0;
  if (!VectorKernelSupported(bits == 512 ? VectorKernel::Avx512 : VectorKernel::Avx2)) return p;
  const long iterations = 5000000;
  for (int k = 0; k < 5; ++k) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    benchmark::DoNotOptimize(bits == 512 ? Fma512(iterations) : Fma256(iterations));
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    const double s = static_cast<double>(b.tv_sec - a.tv_sec) + 1e-9 * static_cast<double>(b.tv_nsec - a.tv_nsec);
    p = std::max(p, iterations * 12.0 * (bits == 512 ? 16.0 : 8.0) * 1e-9 / s);
  }
  return p;
}

void BM_PeakFma(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const bool wide = state.range(1) == 512;
  if (!(wide ? VectorKernelSupported(VectorKernel::Avx512) : VectorKernelSupported(VectorKernel::Avx2))) {
    state.SkipWithError("the processor lacks this width");
    return;
  }
  const long iterations = 50000000;
  const double cpu0 = ProcessCpuSeconds();
  for (auto _ : state) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&] { benchmark::DoNotOptimize(wide ? Fma512(iterations) : Fma256(iterations)); });
    for (auto& th : pool) th.join();
  }
  const double flops = threads * iterations * 12.0 * (wide ? 16.0 : 8.0);
  state.counters["GFLOPS"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  // Per busy thread: all threads running the FMA at once may run at a lower clock.
  state.counters["GFLOPS_cpu"] =
      flops * 1e-9 * static_cast<double>(state.iterations()) / (ProcessCpuSeconds() - cpu0);
}
BENCHMARK(BM_PeakFma)->ArgNames({"threads", "bits"})->ArgsProduct({{1, 8}, {256, 512}})->Unit(benchmark::kMillisecond)->UseRealTime();
#else
double PeakPerCpu(int) { return 0.0; }
#endif

}  // namespace

BENCHMARK_MAIN();
