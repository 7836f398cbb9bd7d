// Detection corrections and run extras of CLammIdeal.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lamm_test_support.h"
#include "platform/scripted_ui.h"

using namespace lammtest;

TEST(LammDetection, ExcitationShadowCutsOffTheConeAtTheBottom) {
  const double bottom = 7.0, R = 0.25;  // exact in single precision
  // Radii: far inside, exactly R inside, at the bottom, R outside, beyond.
  std::vector<float> r = {0, 6.5f, 6.75f, 7.0f, 7.25f, 7.5f};
  std::vector<float> y(6, 2.0f);
  CLammIdeal::ApplyExcitationShadow(y.data(), r.data(), 5, bottom, R);
  EXPECT_EQ(y[1], 2.0f);
  EXPECT_NEAR(y[2], 2.0f, 1e-6);  // theta = 0 keeps the value
  EXPECT_NEAR(y[3], 2.0f * (1 - 2 * R * R * (M_PI / 2) / (R * R * 6.2831855)), 1e-6);  // half
  EXPECT_EQ(y[4], 0.0f);
  EXPECT_EQ(y[5], 0.0f);
}

TEST(LammDetection, RadialConvolutionKeepsAConstantAwayFromTheCellEnds) {
  for (bool perScan : {false, true}) {
    const int n = 400;
    std::vector<float> r(n + 1), y(n + 1, 1.0f);
    for (int j = 1; j <= n; ++j) r[j] = 5.9f + 1.4f * (j - 1) / (n - 1);
    const double w = 0.01, k = 3;
    if (perScan) {
      CLammIdeal::ConvolveRadiallyGeneral(y.data(), r.data(), n, w, k, 6.0, 7.2);
    } else {
      // The kernel path of a uniform common grid, through a run's corrections.
      Experiment e{.s = 0, .D = 0, .gridPoints = n, .gridFrom = 5.9, .gridTo = 7.3};
      auto L = BuiltSolver(e);
      L->SetRadialConvolution(true, static_cast<float>(w), static_cast<float>(k));
      ASSERT_EQ(L->CheckAndRun(), 0);
      // Outside the cell the loading is extended as constant here.
      for (int j = 1; j <= n; ++j) y[j] = e.out[2][j];
      for (int j = 1; j <= n; ++j) r[j] = e.grid[j];
    }
    for (int j = 1; j <= n; ++j) {
      if (r[j] > 6.0 + k * w + 0.005 && r[j] < 7.2 - k * w - 0.005) {
        EXPECT_NEAR(y[j], 1.0f, 1e-6) << r[j];
      }
    }
    // Near the meniscus part of the kernel falls outside the cell.
    int j = 1;
    while (r[j] < 6.0f) ++j;
    EXPECT_LT(y[j], 0.9f);
  }
}

TEST(LammDetection, ConvolutionNeedsAWidthAboveOneMicron) {
  Experiment e{.s = 0, .D = 0};
  auto L = BuiltSolver(e);
  L->SetRadialConvolution(true, 0.001f, 3);  // stays off
  ASSERT_EQ(L->CheckAndRun(), 0);
  EXPECT_FLOAT_EQ(e.out[1][1], 1.0f);  // no smoothing at the meniscus
}

TEST(LammDetection, AmplitudeDriftAndMagnificationScaleTheSignal) {
  struct Case {
    bool linear, exponential;
    double linearPerHour, expPerHour, level, dadr;
  };
  const Case cases[] = {{true, false, 0.36, 0, 1, 1.0},
                        {false, true, 0, 1.8, 1.0, 1.0},  // level 1: no change at all
                        {false, true, 0, 1.8, 0.25, 1.0},
                        {false, false, 0, 0, 1, 1.1}};
  for (const Case& c : cases) {
    Experiment e{.s = 0, .D = 0, .times = {3600, 7200}};
    auto L = BuiltSolver(e);
    L->SetTimeShiftOptions(c.linear || c.exponential, c.linear, c.linearPerHour, c.exponential,
                           c.expPerHour, c.level);
    L->SetStretchFactor(c.dadr != 1.0, static_cast<float>(c.dadr));
    ASSERT_EQ(L->CheckAndRun(), 0);
    for (int k = 1; k <= 2; ++k) {
      const double t = e.times[k - 1];
      double factor = 1;
      if (c.linear) factor *= 1 + t * c.linearPerHour / 3600;
      if (c.exponential) factor *= (1 - c.level) * std::exp(-c.expPerHour / 3600 * t) + c.level;
      for (size_t j = 1; j < e.grid.size(); j += 97) {
        const double mag = (e.grid[j] - e.meniscus) * (c.dadr - 1) + 1;
        EXPECT_NEAR(e.out[k][j], factor * mag, 1e-5);
      }
    }
  }
}

TEST(LammDetection, TransmittanceSmoothingLeavesOpaqueValuesAndPlateaus) {
  const int n = 50;
  std::vector<double> r(n + 1), y(n + 1, 0.8);
  for (int j = 1; j <= n; ++j) r[j] = 6 + 0.002 * j;
  y[25] = 150;  // opaque: unchanged
  CLammIdeal::SmoothInTransmittance(n, 0.01, r.data(), y.data());
  EXPECT_EQ(y[25], 150);
  EXPECT_NEAR(y[5], 0.8, 1e-12);
  std::vector<float> rf(n + 1), yf(n + 1, 0.5f);
  for (int j = 1; j <= n; ++j) rf[j] = static_cast<float>(r[j]);
  CLammIdeal::SmoothInTransmittanceFloat(n, 0.01f, rf.data(), yf.data());
  EXPECT_NEAR(yf[20], 0.5f, 1e-6);
}

TEST(LammDetection, WienerSkewingShiftsAlongTheReferenceGradient) {
  CLammIdeal L;
  L.EnableOptionWithTwoValues(0.01f, 0);
  const int n = 40;
  std::vector<double> r(n + 1), y(n + 1), q(n + 1, 2.0);
  for (int i = 1; i <= n; ++i) {
    r[i] = 6 + 0.01 * i;
    y[i] = r[i];
  }
  L.AllocProfileBuffers(n);
  L.ApplyWienerSkewing(n, r.data(), y.data(), n, q.data());  // flat reference: no shift
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(y[i], r[i], 1e-12);
  for (int i = 1; i <= n; ++i) q[i] = 3 * r[i];  // gradient 3: radii move by 0.03
  L.ApplyWienerSkewing(n, r.data(), y.data(), n, q.data());
  for (int i = 6; i <= n - 6; ++i) EXPECT_NEAR(y[i], r[i] - 0.03, 1e-9) << i;
  std::vector<double> before = y;
  L.ApplyWienerSkewing(n, r.data(), y.data(), n - 1, q.data());  // counts differ: refused
  EXPECT_EQ(y, before);
}

TEST(LammNonIdeality, ComponentTablesAreTrimmedAndValidated) {
  const double conc[5] = {0, 1.0, 0.5, 0, 0}, s[5] = {0, 4, 6, 8, 9},
               D[5] = {0, 6e-7, 5e-7, 4e-7, 3e-7};
  CLammIdeal L;
  L.SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true, .count = 4,
                          .concentrations = conc, .sValues = s, .dValues = D, .s = 4, .D = 6e-7,
                          .c0 = 1.5});
  EXPECT_EQ(L.ComponentCount(), 2);

  const double badD[3] = {0, 6e-7, 0};
  Experiment e;
  auto M = BuiltSolver(e);
  M->SetSolventComponents({.model = true, .concDependentSolver = true, .count = 2,
                           .concentrations = conc, .sValues = s, .dValues = badD, .s = 4.3,
                           .D = 6e-7, .c0 = 1});
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "non-ideality parameters not loaded properly in CLammIdeal");
  platform::ScopedUI guard(ui);
  EXPECT_EQ(M->CheckAndRun(), 6);
  EXPECT_TRUE(ui.failures.empty());
}

TEST(LammDetection, AnInitialProfileMustCoverTheCellAndNeedsNoComponentTable) {
  Experiment e;
  e.Build();
  struct Case {
    const char* name;
    float from, to;
    bool table, taken;
  };
  const float m = static_cast<float>(e.meniscus), b = static_cast<float>(e.bottom);
  const Case cases[] = {{"meniscus to bottom", m, b, false, true},
                        {"starts inside the cell", m + 0.01f, b, false, false},
                        {"ends inside the cell", m, b - 0.01f, false, false},
                        {"component table", m, b, true, false}};
  const double conc[3] = {0, 1.0, 0.5}, s[3] = {0, 4, 6}, D[3] = {0, 6e-7, 5e-7};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto L = MakeSolver(e, LammSolverSettings{});
    if (c.table)
      L->SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true,
                               .count = 2, .concentrations = conc, .sValues = s, .dValues = D,
                               .s = 4, .D = 6e-7, .c0 = 1});
    const int n = 50;
    std::vector<float> r(n + 1), y(n + 1, 0.7f);
    for (int i = 1; i <= n; ++i) r[i] = c.from + (c.to - c.from) * (i - 1) / (n - 1);
    EXPECT_EQ(L->LoadInitialDistribution(n, r.data(), y.data()), c.taken);
  }
}

// Scans that start in the air gap above the meniscus: no solute there, and
// the signal inside is that of a scan starting at the meniscus.
TEST(LammOutput, NoSignalInTheAirGapAndTheSameProfileInside) {
  Experiment wide;
  wide.gridFrom = wide.meniscus - 0.03;
  wide.gridPoints = 411;  // 0.003 cm apart
  wide.Build();
  std::vector<int> inside;
  for (int j = 1; j <= wide.gridPoints; ++j)
    if (wide.grid[j] >= static_cast<float>(wide.meniscus)) inside.push_back(j);
  Experiment cell{.gridPoints = static_cast<int>(inside.size())};
  cell.Build();
  for (std::size_t p = 0; p < inside.size(); ++p) cell.grid[p + 1] = wide.grid[inside[p]];

  const LammSolverSettings st;
  ASSERT_EQ(MakeSolver(wide, st)->CheckAndRun(), 0);
  ASSERT_EQ(MakeSolver(cell, st)->CheckAndRun(), 0);
  const int airPoints = static_cast<int>(std::lround(0.03 / 0.003));
  for (int k = 1; k <= static_cast<int>(wide.times.size()); ++k) {
    int zeros = 0;
    for (int j = 1; j <= wide.gridPoints; ++j) {
      const float r = wide.grid[j];
      if (r < static_cast<float>(wide.meniscus)) {
        EXPECT_EQ(wide.out[k][j], 0.0f) << "scan " << k << " r " << r;
        ++zeros;
      }
    }
    EXPECT_GE(zeros, airPoints);
    for (std::size_t p = 0; p < inside.size(); ++p)
      EXPECT_EQ(wide.out[k][inside[p]], cell.out[k][p + 1]) << "scan " << k;
    // The plateau is really there: a nonzero profile was compared.
    EXPECT_GT(cell.out[k][cell.gridPoints / 2], 0.5f);
  }
}
