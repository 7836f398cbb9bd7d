// Dense LU and Cholesky solves of symmetric positive definite systems of the
// sizes the fits and the distributions produce.
#include <benchmark/benchmark.h>

#include <random>

#include "numerics/arrays.h"
#include "numerics/linear_solvers.h"

namespace {

// A = M^T M + n I: symmetric, positive definite, well conditioned.
void FillSpd(double** a, int n) {
  std::mt19937 gen(42);
  std::uniform_real_distribution<double> u(-1, 1);
  DoubleMat m(1, n, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) m[i][j] = u(gen);
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j) {
      double s = i == j ? n : 0.0;
      for (int k = 1; k <= n; ++k) s += m[k][i] * m[k][j];
      a[i][j] = a[j][i] = s;
    }
}

void BM_LuSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  DoubleMat a(1, n, 1, n), work(1, n, 1, n);
  DoubleVec b(1, n);
  FillSpd(a, n);
  for (auto _ : state) {
    for (int i = 1; i <= n; ++i) {
      b[i] = 1.0;
      for (int j = 1; j <= n; ++j) work[i][j] = a[i][j];
    }
    SolveLinearSystemD(work, b, n, false);
    benchmark::DoNotOptimize(b[1]);
  }
  state.SetComplexityN(n);
}

void BM_CholeskySolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  DoubleMat a(1, n, 1, n);
  DoubleVec b(1, n), x(1, n), p(1, n);
  FillSpd(a, n);
  for (int i = 1; i <= n; ++i) b[i] = 1.0;
  for (auto _ : state) {
    dcholsolve(a, b, n, x, p);  // copies A, factors, solves
    benchmark::DoNotOptimize(x[1]);
  }
  state.SetComplexityN(n);
}

void BM_FloatLuSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  DoubleMat a(1, n, 1, n);
  FillSpd(a, n);
  FloatMat af(1, n, 1, n);
  FloatVec b(1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) af[i][j] = static_cast<float>(a[i][j]);
  for (auto _ : state) {
    for (int i = 1; i <= n; ++i) b[i] = 1.0f;
    SolveLinearSystem(af, b, n, true);
    benchmark::DoNotOptimize(b[1]);
  }
}

}  // namespace

BENCHMARK(BM_LuSolve)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CholeskySolve)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloatLuSolve)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
