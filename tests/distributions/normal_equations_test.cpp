#include "distributions/normal_equations.h"

#include <gtest/gtest.h>

#include <cmath>

#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/neq_kernel.h"
#include "numerics/vector_kernel.h"
#include "distributions/nnls.h"
#include "distributions/regularization_matrix.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "test_support.h"

using conti_test::RandomKernels;
using conti_test::TestScans;

namespace {

struct Truth {
  std::vector<double> c, ti, ri;
};

// Data = sum_k c_k a_k + TI(r) + RI_j on the whole grid.
Truth FillData(TestScans& t, int n, bool ti, bool ri, double baseline, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Truth truth;
  truth.c.assign(n + 1, 0.0);
  for (int k = 1; k <= n; ++k) truth.c[k] = (k % 4 == 0) ? 0.0 : 0.2 + u(gen);
  const int R = t.s.gridLength, M = t.s.count;
  truth.ti.assign(R + 1, 0.0);
  truth.ri.assign(M + 1, 0.0);
  for (int r = 1; r <= R; ++r) truth.ti[r] = ti ? 0.3 * std::sin(0.05 * r) + 0.1 * u(gen) : 0.0;
  for (int j = 1; j <= M; ++j) truth.ri[j] = ri ? 2.0 * u(gen) - 1.0 : 0.0;
  for (int j = 1; j <= M; ++j)
    for (int r = 1; r <= R; ++r) {
      double y = truth.ti[r] + truth.ri[j] + baseline;
      for (int k = 1; k <= n; ++k) y += truth.c[k] * WorkBlock().lammSolutions[k][j][r];
      t.s.gridSignals[j][r] = static_cast<float>(y);
    }
  return truth;
}

// Scan j's model at grid point r as the plain sum: the noise terms, then
// c_k a_k(j, r) for k = 1..n in order, each product rounded apart, the
// amplitudes of 0 left out.
__attribute__((optimize("fp-contract=off"))) float PlainModel(const ScanSet& s, NoiseModel model,
                                                               double constant, int j, int r) {
  const NormalEquationBlock& b = NeqBlock();
  const bool ti = model == NoiseModel::TI || model == NoiseModel::TIRI;
  const bool ri = model == NoiseModel::RI || model == NoiseModel::TIRI;
  double v = constant + (ri ? s.riNoise[j] : 0.0) + (ti ? s.tiNoise[r] : 0.0);
  for (int k = 1; k <= b.gridPoints; ++k) {
    const double c = b.solution[k];
    if (c != 0.0) v += c * WorkBlock().lammSolutions[k][j][r];
  }
  return static_cast<float>(v);
}

// The constant of the models: the baseline of the noise fill, for a fitted
// one the data mean less the kernels' means as CalculateppAFit forms it.
__attribute__((optimize("fp-contract=off"))) double ModelConstant(NoiseModel model, const NoiseFill& fill) {
  const NormalEquationBlock& b = NeqBlock();
  if (model == NoiseModel::Plain) return fill.baseline;
  if (model != NoiseModel::Baseline) return 0.0;
  double t = 0.0;
  for (int k = 1; k <= b.gridPoints; ++k)
    if (b.solution[k] != 0.0) t += b.solution[k] * b.kernelMean[k];
  return b.dataMean - t;
}

void SolveUnregularised(int n) {
  RegularizationShape shape;
  shape.m = n;
  AddRegularizationMatrix(NeqBlock(), shape, 0.0);
  ASSERT_TRUE(NNLS(NeqBlock(), n));
}

}  // namespace

TEST(NormalEquations, PlainSumsEqualDirectProducts) {
  const int n = 7, M = 3, R = 40;
  TestScans t(M, R, 5, 33);
  RandomKernels(n, M, R, 1);
  FillData(t, n, false, false, 0.0, 2);
  NeqInputs() = NormalEquationInputs{};
  NeqInputs().baselineValue = 0.25f;
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::Plain, 0));
  const NormalEquationBlock& b = NeqBlock();
  float*** a = WorkBlock().lammSolutions;
  double S = 0.0;
  for (int j = 1; j <= M; ++j)
    for (int r = 5; r <= 33; ++r) S += std::pow(t.s.gridSignals[j][r] - 0.25, 2);
  EXPECT_NEAR(b.sumSquaresData, S, 1e-12 * S);
  for (int k = 1; k <= n; ++k) {
    double bk = 0.0;
    for (int j = 1; j <= M; ++j)
      for (int r = 5; r <= 33; ++r) bk += a[k][j][r] * (t.s.gridSignals[j][r] - 0.25);
    EXPECT_NEAR(b.rhs[k], bk, 1e-12 * std::fabs(bk));
    for (int l = 1; l <= n; ++l) {
      double s = 0.0;
      for (int j = 1; j <= M; ++j)
        for (int r = 5; r <= 33; ++r) s += static_cast<double>(a[k][j][r]) * a[l][j][r];
      EXPECT_NEAR(b.normalMatrix[k][l], s, 1e-12 * s);
      EXPECT_EQ(b.normalMatrix[k][l], b.normalMatrix[l][k]);
    }
  }
  EXPECT_EQ(ContiContext().fitRangePoints, 29);
  EXPECT_EQ(ContiContext().scanCount, 3);
}

TEST(NormalEquations, NoiseModelsRecoverAmplitudesAndNoise) {
  struct Case {
    NoiseModel model;
    bool ti, ri;
    double baseline;
  };
  const Case cases[] = {{NoiseModel::Plain, false, false, 0.0},
                        {NoiseModel::Baseline, false, false, 0.7},
                        {NoiseModel::TI, true, false, 0.0},
                        {NoiseModel::RI, false, true, 0.0},
                        {NoiseModel::TIRI, true, true, 0.0}};
  const int n = 12, M = 8, R = 60, first = 6, last = 55;
  for (const Case& cs : cases) {
    TestScans t(M, R, first, last);
    RandomKernels(n, M, R, 11);
    const Truth truth = FillData(t, n, cs.ti, cs.ri, cs.baseline, 12);
    NeqInputs() = NormalEquationInputs{};
    ASSERT_TRUE(BuildNormalEquations(t.s, cs.model, 2));
    SolveUnregularised(n);
    for (int k = 1; k <= n; ++k)
      EXPECT_NEAR(NeqBlock().solution[k], truth.c[k], 1e-5) << static_cast<int>(cs.model);
    const NoiseFill fill = CalculateppAFit(t.s, cs.model);
    if (cs.model == NoiseModel::Baseline) {
      EXPECT_NEAR(fill.baseline, cs.baseline, 1e-5);
    }
    // TI and RI are fixed only up to a shared constant: compare their sum,
    // and the model with the data, over the fitted points.
    for (int j = 1; j <= M; ++j)
      for (int r = first; r <= last; ++r) {
        const double noise = t.s.tiNoise[r] + t.s.riNoise[j];
        EXPECT_NEAR(noise, truth.ti[r] + truth.ri[j], 1e-5) << static_cast<int>(cs.model);
        EXPECT_NEAR(t.s.model[j][r], t.s.gridSignals[j][r], 2e-5);
        EXPECT_EQ(t.s.gridModel[j][r], t.s.model[j][r]);
      }
    // Every vector kernel and thread count forms the models bit for bit as
    // the plain sum does.
    const VectorKernel original = ActiveVectorKernel();
    ContiSettings& settings = Conti();
    const uint8_t keptMultiple = settings.multipleThreads;
    const int32_t keptThreads = settings.normalEquationThreads;
    for (VectorKernel kernel : kAllVectorKernels) {
      if (!SetActiveVectorKernel(kernel)) continue;
      for (int threads : {1, 3}) {
        settings.multipleThreads = threads > 1;
        settings.normalEquationThreads = threads;
        const double constant = ModelConstant(cs.model, CalculateppAFit(t.s, cs.model));
        for (int j = 1; j <= M; ++j)
          for (int r = 1; r <= R; ++r)
            ASSERT_EQ(t.s.gridModel[j][r], PlainModel(t.s, cs.model, constant, j, r))
                << static_cast<int>(cs.model) << " " << VectorKernelName(kernel) << " threads " << threads
                << " scan " << j << " point " << r;
      }
    }
    SetActiveVectorKernel(original);
    settings.multipleThreads = keptMultiple;
    settings.normalEquationThreads = keptThreads;
    if (cs.model == NoiseModel::TI) {
      for (int j = 1; j <= M; ++j) EXPECT_EQ(t.s.riNoise[j], 0.0f);
    }
    if (cs.model == NoiseModel::RI) {
      for (int r = 1; r <= R; ++r) EXPECT_EQ(t.s.tiNoise[r], 0.0f);
    }
  }
}

TEST(NormalEquations, WorkerThreadsGiveIdenticalSums) {
  struct Case {
    int n, M, R, last;
  };
  // 37 kernels over 40 x 2988 points: 117 chunks, shared in two passes of
  // chunk blocks by up to 3 workers. The same kernels over fewer points
  // next reuse that larger design, whose rows and tails it wrote before.
  // 250 kernels: a product too large to share by chunks, shared by regions.
  const Case cases[] = {{5, 4, 300, 290}, {37, 40, 3000, 2990}, {37, 4, 300, 290}, {250, 4, 300, 290}};
  for (NoiseModel model : {NoiseModel::Plain, NoiseModel::RI, NoiseModel::TIRI}) {
    for (const Case& c : cases) {
      const int n = c.n, M = c.M, R = c.R;
      SCOPED_TRACE(testing::Message() << n << " kernels, " << M << " x " << R);
      TestScans t(M, R, 3, c.last);
      RandomKernels(n, M, R, 5 + n);
      FillData(t, n, true, true, 0.1, 6);
      NeqInputs() = NormalEquationInputs{};
      ASSERT_TRUE(BuildNormalEquations(t.s, model, 0));
      if (model == NoiseModel::Plain) {
        // The sums themselves, in double from the floats: what the design
        // held beyond the rows and points in use must not enter them.
        float*** a = WorkBlock().lammSolutions;
        for (int k = 1; k <= n; k += 6) {
          double bk = 0.0, size = 0.0;
          for (int j = 1; j <= M; ++j)
            for (int r = 3; r <= c.last; ++r) {
              const double term = static_cast<double>(a[k][j][r]) * t.s.gridSignals[j][r];
              bk += term;
              size += std::fabs(term);
            }
          // Float products are exact in double; the sums' orders differ: 1e-13 of the terms' size.
          EXPECT_NEAR(NeqBlock().rhs[k], bk, 1e-13 * size) << k;
        }
      }
      std::vector<double> A, b;
      const double S = NeqBlock().sumSquaresData;
      for (int k = 1; k <= n; ++k) {
        b.push_back(NeqBlock().rhs[k]);
        for (int l = 1; l <= n; ++l) A.push_back(NeqBlock().normalMatrix[k][l]);
      }
      for (int threads : {1, 2, 3, n + 4}) {
        for (int k = 1; k <= n; ++k) {
          NeqBlock().rhs[k] = -1.0;
          for (int l = 1; l <= n; ++l) NeqBlock().normalMatrix[k][l] = -1.0;
        }
        ASSERT_TRUE(BuildNormalEquations(t.s, model, threads));
        EXPECT_EQ(NeqBlock().sumSquaresData, S);
        size_t q = 0;
        for (int k = 1; k <= n; ++k) {
          EXPECT_EQ(NeqBlock().rhs[k], b[k - 1]) << "threads " << threads;
          for (int l = 1; l <= n; ++l, ++q)
            ASSERT_EQ(NeqBlock().normalMatrix[k][l], A[q]) << "threads " << threads;
        }
      }
    }
  }
}

TEST(NormalEquations, SingleScanWithTiNoiseLeavesNothing) {
  TestScans t(1, 30, 2, 29);
  RandomKernels(4, 1, 30, 3);
  FillData(t, 4, true, false, 0.0, 4);
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TI, 0));
  EXPECT_EQ(NeqBlock().sumSquaresData, 0.0);
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(NeqBlock().rhs[k], 0.0);
    for (int l = 1; l <= 4; ++l) EXPECT_EQ(NeqBlock().normalMatrix[k][l], 0.0);
  }
}

TEST(NormalEquations, FixedComponentEntersWithUnitAmplitudeAndClearsLastRow) {
  const int n = 9, M = 6, R = 50;
  TestScans t(M, R, 4, 47);
  RandomKernels(n, M, R, 21);
  Truth truth = FillData(t, n, true, true, 0.0, 22);
  // Kernel 1 carries the buffer signal at amplitude exactly 1.
  for (int j = 1; j <= M; ++j)
    for (int r = 1; r <= R; ++r)
      t.s.gridSignals[j][r] += static_cast<float>((1.0 - truth.c[1]) * WorkBlock().lammSolutions[1][j][r]);
  // Values of an earlier, larger system left in the block.
  for (int l = 1; l <= n; ++l) {
    NeqBlock().normalMatrix[n][l] = NeqBlock().normalMatrix[l][n] = 5.0;
    NeqBlock().regularizedMatrix[n][l] = NeqBlock().regularizedMatrix[l][n] = 5.0;
  }
  NeqBlock().rhs[n] = 7.0;
  NeqInputs() = NormalEquationInputs{};
  NeqInputs().bufferValue1 = 0.5;
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRIFixedComponent, 3));
  NormalEquationBlock& b = NeqBlock();
  EXPECT_TRUE(b.fixedComponent);
  EXPECT_EQ(b.fixedComponentValue1, 0.5);
  for (int l = 1; l <= n; ++l) {
    EXPECT_EQ(b.normalMatrix[n][l], 0.0);
    EXPECT_EQ(b.regularizedMatrix[l][n], 0.0);
  }
  EXPECT_EQ(b.rhs[n], 0.0);
  RegularizationShape shape;
  shape.m = n - 1;
  AddRegularizationMatrix(b, shape, 0.0);
  ASSERT_TRUE(NNLS(b, n));
  EXPECT_EQ(b.solution[n], 0.0);
  for (int k = 2; k <= n; ++k) EXPECT_NEAR(b.solution[k - 1], truth.c[k], 1e-5);
  CalculateppAFit(t.s, NoiseModel::TIRIFixedComponent);
  for (int j = 1; j <= M; ++j)
    for (int r = 4; r <= 47; ++r) {
      EXPECT_NEAR(t.s.model[j][r], t.s.gridSignals[j][r], 2e-5);
      EXPECT_NEAR(t.s.tiNoise[r] + t.s.riNoise[j], truth.ti[r] + truth.ri[j], 1e-5);
    }
  b.fixedComponent = false;
}

// On one thread and on several: a stop raised before the build ends it
// before it has packed a row (the data's sums stay as they were), a key
// queued for its first look at the keyboard ends it too, and it says so;
// once the stop is taken, the next build is whole and equals one never
// stopped.
TEST(NormalEquations, StopFlagAndKeyPressInterrupt) {
  TestScans t(3, 600, 1, 600);
  RandomKernels(20, 3, 600, 8);
  FillData(t, 20, false, false, 0.0, 9);
  NormalEquationBlock& b = NeqBlock();
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRI, 0));
  const double whole = b.normalMatrix[20][7];
  for (const int threads : {0, 1, 4}) {
    SCOPED_TRACE(threads);
    for (const bool key : {false, true}) {
      b.dataSum = -1.0;
      platform::ClearInput();
      if (key)
        platform::PostKeyDown();
      else
        platform::StopFlag() = true;
      EXPECT_FALSE(BuildNormalEquations(t.s, NoiseModel::TIRI, threads));
      EXPECT_TRUE(platform::StopFlag().load());
      // The workers may have begun before the key is looked at.
      if (!key) {
        EXPECT_EQ(b.dataSum, -1.0) << "rows were packed after the stop";
      }
      platform::StopFlag() = false;
    }
    b.normalMatrix[20][7] = 0.0;
    EXPECT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRI, threads));
    EXPECT_EQ(b.normalMatrix[20][7], whole);
  }
}

TEST(NormalEquations, FixedBufferNeedsTiAndRiNoise) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("ERROR",
               "buffer mismatch with fixed concentration not implemented in c(s) for this noise "
               "model\n(need RI+TI noise)");
  NeqInputs() = NormalEquationInputs{};
  NeqInputs().bufferSedimentation = true;
  NeqInputs().fitTI = true;
  EXPECT_FALSE(SelectAndBuildNormalEquations());
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
  NeqInputs() = NormalEquationInputs{};
}

TEST(NormalEquations, ExportedMatricesReadBack) {
  const int n = 4, M = 2, R = 30;
  conti_test::TestScans t(M, R, 3, 27, true);
  RandomKernels(n, M, R, 31);
  FillData(t, n, false, false, 0.0, 32);
  NeqInputs() = NormalEquationInputs{};
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::Plain, 0));
  const std::string folder = platform::SystemTempFolder();
  const float grid[] = {0, 1.0f, 2.0f, 3.0f, 4.0f};
  ASSERT_TRUE(ExportNormalEquationMatrices(folder, grid, n));
  auto read = [&](const char* name) {
    std::FILE* f = std::fopen(platform::Combine(folder, name).c_str(), "r");
    std::vector<double> v;
    double x;
    while (f && std::fscanf(f, "%lf", &x) == 1) v.push_back(x);
    if (f) std::fclose(f);
    return v;
  };
  EXPECT_EQ(read("dim.txt"), std::vector<double>{1.0});
  EXPECT_EQ(read("ngrid.txt"), std::vector<double>{4.0});
  EXPECT_EQ(read("npoints.txt"), std::vector<double>{50.0});
  const std::vector<double> m = read("matrix.txt"), b = read("vector.txt");
  ASSERT_EQ(m.size(), 16u);
  ASSERT_EQ(b.size(), 4u);
  for (int k = 1; k <= n; ++k) {
    EXPECT_NEAR(b[k - 1], NeqBlock().rhs[k], 1e-5 * std::fabs(NeqBlock().rhs[k]));
    for (int l = 1; l <= n; ++l)
      EXPECT_NEAR(m[(k - 1) * n + l - 1], NeqBlock().normalMatrix[k][l],
                  1e-5 * NeqBlock().normalMatrix[k][l]);
  }
  EXPECT_NEAR(read("sumsquaredata.txt")[0], NeqBlock().sumSquaresData,
              1e-5 * NeqBlock().sumSquaresData);
}

TEST(NormalEquations, EveryVectorKernelGivesTheSameSums) {
  const int n = 23, M = 3, R = 700;
  TestScans t(M, R, 2, 690);
  RandomKernels(n, M, R, 41);
  FillData(t, n, true, true, 0.0, 42);
  const VectorKernel original = ActiveVectorKernel();
  ASSERT_TRUE(SetActiveVectorKernel(VectorKernel::Generic));
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRI, 2));
  std::vector<double> ref;
  for (int k = 1; k <= n; ++k)
    for (int l = 0; l <= n; ++l)
      ref.push_back(l == 0 ? NeqBlock().rhs[k] : NeqBlock().normalMatrix[k][l]);
  const double S = NeqBlock().sumSquaresData;
  for (VectorKernel k : {VectorKernel::Avx2, VectorKernel::Avx512}) {
    if (!SetActiveVectorKernel(k)) continue;
    const char* name = VectorKernelName(k);
    ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRI, 3));
    EXPECT_NEAR(NeqBlock().sumSquaresData, S, 1e-12 * S) << name;
    size_t q = 0;
    for (int k = 1; k <= n; ++k)
      for (int l = 0; l <= n; ++l, ++q) {
        const double v = l == 0 ? NeqBlock().rhs[k] : NeqBlock().normalMatrix[k][l];
        EXPECT_NEAR(v, ref[q], 1e-12 * std::fabs(ref[q]) + 1e-14) << name << " " << k << "," << l;
      }
  }
  SetActiveVectorKernel(original);
}
