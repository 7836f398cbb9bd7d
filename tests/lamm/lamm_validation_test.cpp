// Loading, validation and run dispatch of CLammIdeal: refusals with their
// codes and messages, output rules, rotor model and grid choice.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "lamm_test_support.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"

using namespace lammtest;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<std::string> BoxTexts(const platform::ScriptedUserInterface& ui) {
  std::vector<std::string> texts;
  for (const auto& t : ui.transcript) texts.push_back(t.text);
  return texts;
}

bool Untouched(const Experiment& e) {
  for (size_t k = 1; k < e.out.size(); ++k)
    for (size_t j = 1; j < e.out[k].size(); ++j)
      if (e.out[k][j] != -99.0f) return false;
  return true;
}

}  // namespace

TEST(LammValidation, InvalidSettingsAreRefusedWithTheirCodeAndMessages) {
  struct Case {
    const char* name;
    void (*experiment)(Experiment&);  // before the scans are made
    void (*scans)(Experiment&);       // edits of the scan records
    int code;
    std::vector<std::string> messages;
    void (*solver)(CLammIdeal&) = nullptr;  // edits of the loaded solver
  };
  const std::string geometry = "invalid geometry or s, D parameters loaded in CLammIdeal";
  const std::string output = "invalid output parameters loaded in CLammIdeal";
  auto none = [](Experiment&) {};
  const std::vector<Case> cases = {
      {"meniscus beyond bottom", [](Experiment& e) { e.meniscus = 7.3; }, none, 4,
       {"meniscus or bottom parameters in conflict with fitting limits in CLammIdeal"}},
      {"meniscus equal to bottom",
       [](Experiment& e) {
         e.meniscus = e.bottom = 7.0;
         e.left = e.right = 7.0f;
       },
       none, 4, {geometry}},
      {"meniscus zero", [](Experiment& e) { e.meniscus = 0; }, none, 4,
       {geometry, "meniscus or bottom <= 0 loaded in CLammIdeal"}},
      {"negative loading", [](Experiment& e) { e.c0 = -1; }, none, 4,
       {geometry, "c0 < 0 loaded in CLammIdeal"}},
      {"negative D", [](Experiment& e) { e.D = -1e-7; }, none, 4,
       {geometry, "diffcoeff < 0 loaded in CLammIdeal"}},
      {"NaN s", [](Experiment& e) { e.s = kNaN; }, none, 4, {geometry}},
      {"NaN D", [](Experiment& e) { e.D = kNaN; }, none, 4, {geometry}},
      {"NaN bottom", [](Experiment& e) { e.bottom = kNaN; }, none, 4, {geometry}},
      {"rotor at rest", none, [](Experiment& e) { e.records[2].rpm = 0; }, 4, {output}},
      {"scan times out of order", none,
       [](Experiment& e) { std::swap(e.records[1].time, e.records[2].time); }, 4, {output}},
      {"NaN scan time", none, [](Experiment& e) { e.records[3].time = kNaN; }, 4, {output}},
      {"too slow acceleration",
       [](Experiment& e) {
         e.rampRate = 100;
         e.rampDuration = 500;
       },
       none, 5, {"too slow rotor acceleration"}},
      {"no acceleration during a ramp",
       [](Experiment& e) {
         e.rampRate = 0;
         e.rampDuration = 300;
       },
       none, 5, {"too slow rotor acceleration"}},
      // An invalid geometry too: the planar refusal comes first.
      {"planar cell", [](Experiment& e) { e.meniscus = 7.3; }, none, 4,
       {"can't do special geometries in CLammIdeal"}, [](CLammIdeal& L) { L.SetSpecialGeometry(true); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Experiment e;
    c.experiment(e);
    e.Build();
    c.scans(e);
    platform::StopFlag() = false;
    platform::ScriptedUserInterface ui;
    ui.lenient = true;
    platform::ScopedUI guard(ui);
    auto L = MakeSolver(e, LammSolverSettings{});
    if (c.solver) c.solver(*L);
    EXPECT_EQ(L->CheckAndRun(), c.code);
    EXPECT_EQ(BoxTexts(ui), c.messages);
    EXPECT_TRUE(Untouched(e));
    EXPECT_EQ(platform::StopFlag().load(), c.code == 5);
    platform::StopFlag() = false;
  }
}

TEST(LammValidation, AccelerationCheckCanBeSwitchedOff) {
  Experiment e{.rampRate = 100, .rampDuration = 500};
  auto L = BuiltSolver(e);
  L->ClearRunFlag();
  EXPECT_EQ(L->CheckAndRun(), 0);
  // A rate of 150 rpm/s or more passes the check.
  Experiment fast{.rampRate = 150, .rampDuration = 50000 / 150.0};
  EXPECT_EQ(BuiltSolver(fast)->CheckAndRun(), 0);
}

TEST(LammValidation, SettersRecordWhatTheRunNeeds) {
  CLammIdeal L;
  L.SetOutputParameters(4, 1e-7, 6.0, 7.2, 1.0, 7.1f, 6.1f);  // limits swapped
  EXPECT_TRUE(L.GeometryValid());
  EXPECT_FLOAT_EQ(L.LeftFitLimit(), 6.1f);
  EXPECT_FLOAT_EQ(L.RightFitLimit(), 7.1f);
  L.SetOutputParameters(4, -1e-7, 0.0, 7.2, -1.0, 6.1f, 7.1f);  // the later detail wins
  EXPECT_FALSE(L.GeometryValid());
  EXPECT_EQ(L.DetailCode(), 3);

  Experiment e{.times = {100, 200, 300, 400, 500}};
  auto A = BuiltSolver(e);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(A->IndexMap()[k], k);
  {
    CLammIdeal copy;
    copy.CopySettings(*A);
    EXPECT_EQ(copy.IndexMap(), A->IndexMap());  // referenced, freed only by A
  }
  EXPECT_EQ(A->IndexMap()[5], 5);

  CLammIdeal B;
  B.SetModelOptions({.minNodes = 0, .maxNodes = 0, .pointsPerWidth = 0, .backDiffusionTolerance = 0,
                     .movingFrame = true, .truncateDynamically = true});
  EXPECT_EQ(B.MinNodes(), 100);
  EXPECT_TRUE(B.StaticGridChosen());
  EXPECT_FALSE(B.MovingFrameChosen());

  CLammIdeal C;
  C.SetOutputParameters(4, 0, 6.0, 7.2, 1, 6.1f, 7.1f);
  C.SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
  EXPECT_EQ(C.FrictionalRatio(), 0.0);
  // A 4 S species with 6e-7 cm^2/s: M = 58 kDa, f/f0 near 1.4.
  C.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1, 6.1f, 7.1f);
  C.SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
  EXPECT_NEAR(C.FrictionalRatio(), 1.3, 0.15);
}

// A copy made from a loaded template solves exactly as the template: every
// row loads settings whose loss in the copy changes the scans (speed steps,
// the convolution kernel built for the output grid, an initial profile, a
// nonideal component table, the pieces of a scan that takes time).
TEST(LammValidation, ACopySolvesAsItsTemplate) {
  struct Case {
    const char* name;
    void (*load)(CLammIdeal&, Experiment&);
  };
  const Case cases[] = {
      {"speed steps, radial convolution, initial profile",
       [](CLammIdeal& L, Experiment& e) {
         const float start[3] = {0, 0, 700}, rpm[3] = {0, 40000, 55000}, rate[3] = {0, 300, 200};
         L.LoadSpecies(2, start, rpm, rate, 0);
         L.SetRadialConvolution(true, 0.01f, 3.0f);
         std::vector<float> r(51), c(51);
         for (int i = 1; i <= 50; ++i) {
           r[i] = static_cast<float>(e.meniscus - 0.01 + (e.bottom - e.meniscus + 0.02) * (i - 1) / 49);
           c[i] = 0.5f + 0.02f * i;
         }
         ASSERT_TRUE(L.LoadInitialDistribution(50, r.data(), c.data()));
       }},
      {"speed steps, radial convolution, nonideal components",
       [](CLammIdeal& L, Experiment&) {
         const float start[3] = {0, 0, 700}, rpm[3] = {0, 40000, 55000}, rate[3] = {0, 300, 200};
         L.LoadSpecies(2, start, rpm, rate, 0);
         L.SetRadialConvolution(true, 0.01f, 3.0f);
         static const double conc[] = {0, 0.6, 0.4}, s[] = {0, 4.3, 8.0}, D[] = {0, 6e-7, 4.5e-7},
                             w[] = {0, 1, 2};
         L.SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true,
                                 .count = 2, .concentrations = conc, .sValues = s, .dValues = D,
                                 .weights = w, .s = s[1], .D = D[1], .c0 = 1.0});
         ConcDependentModel m;
         m.nonideality = true;
         m.a = -1;
         m.b = -2;
         L.SetConcDependentModel(m);
       }},
      // Three pieces where the rule would choose many more: a copy that
      // falls back on the rule writes other scans.
      {"scans that take time, in pieces fixed by the caller",
       [](CLammIdeal& L, Experiment& e) {
         L.SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(), .grid = e.grid.data(),
                         .gridLength = static_cast<int>(e.grid.size()) - 1,
                         .scanCount = static_cast<int>(e.times.size()), .timeResolution = true,
                         .scanVelocity = 2.43f, .absorbanceData = true});
         L.SetScanSegments(3);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Experiment e;
    auto templ = BuiltSolver(e, FixedGrid(400));
    c.load(*templ, e);
    CLammIdeal copy;
    copy.CopySettings(*templ);
    ASSERT_EQ(copy.CheckAndRun(), 0);
    const std::vector<std::vector<float>> copied = e.out;  // the copy writes the template's scans
    for (auto& scan : e.out) std::fill(scan.begin(), scan.end(), -99.0f);
    ASSERT_EQ(templ->CheckAndRun(), 0);
    EXPECT_EQ(copied, e.out);  // bit for bit
    EXPECT_EQ(copy.ScanSegments(), templ->ScanSegments());
  }
}

TEST(LammValidation, StartTimeOffsetIsTheScannerTravelInSeconds) {
  Experiment e;
  e.Build();
  CLammIdeal L;
  L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1, 6.1f, 7.1f);
  L.SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(), .grid = e.grid.data(),
                  .gridLength = static_cast<int>(e.grid.size()) - 1, .scanCount = 3,
                  .timeResolution = true, .scanVelocity = 2.43f, .absorbanceData = true});
  L.SetStartTimeOffset(5.9f);
  EXPECT_NEAR(L.StartTimeOffset(), (6.0 - 5.9f) * 60 / 2.43f, 1e-9);
  L.SetStartTimeOffset(6.2f);  // first radius beyond the meniscus
  EXPECT_EQ(L.StartTimeOffset(), 0.0);
  // Without absorbance data the scan time is not modelled at all.
  L.SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(), .grid = e.grid.data(),
                  .gridLength = static_cast<int>(e.grid.size()) - 1, .scanCount = 3,
                  .timeResolution = true, .scanVelocity = 2.43f, .absorbanceData = false});
  L.SetStartTimeOffset(5.9f);
  EXPECT_EQ(L.StartTimeOffset(), 0.0);
}

TEST(LammRun, CommonGridReplacesAndScanRadiiAccumulate) {
  Experiment e;
  ASSERT_EQ(BuiltSolver(e)->CheckAndRun(), 0);
  const std::vector<float> first = e.out[2];
  ASSERT_EQ(MakeSolver(e, LammSolverSettings{})->CheckAndRun(), 0);
  EXPECT_EQ(e.out[2], first);

  // The same scans on their own radii (every second grid point).
  const int n = 300;
  std::vector<std::vector<float>> radii(4, std::vector<float>(n + 1)), sums(4, std::vector<float>(n + 1, 0.0f));
  std::vector<float*> radiiPtr(4), sumPtr(4);
  std::vector<int> counts(4, n);
  for (int k = 1; k <= 3; ++k) {
    for (int j = 1; j <= n; ++j) radii[k][j] = e.grid[2 * j - 1];
    radiiPtr[k] = radii[k].data();
    sumPtr[k] = sums[k].data();
  }
  for (int run = 0; run < 2; ++run) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(e.s, e.D, e.meniscus, e.bottom, e.c0, e.left, e.right);
    L.SetScanTimes({.records = e.records.data(), .output = sumPtr.data(), .grid = nullptr,
                    .gridLength = 0, .perScanRadii = radiiPtr.data(),
                    .perScanCounts = counts.data(), .scanCount = 3, .absorbanceData = true});
    LoadOptions(L, LammSolverSettings{});
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
    ASSERT_EQ(L.CheckAndRun(), 0);
  }
  for (int j = 1; j <= n; j += 17) EXPECT_NEAR(sums[2][j], 2 * first[2 * j - 1], 1e-5) << j;
}

// Nothing moves, or nothing is there to move: every scan shows the loading.
TEST(LammRun, WithoutTransportOrLoadingEveryScanShowsTheLoading) {
  struct Case {
    const char* name;
    double s, D, c0;
    bool noSteps;  // nothing to integrate
  };
  const Case cases[] = {{"without transport", 0, 0, 0.7, false}, {"empty loading", 4.3, 6e-7, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Experiment e{.s = c.s, .D = c.D, .c0 = c.c0};
    auto L = BuiltSolver(e);
    ASSERT_EQ(L->CheckAndRun(), 0);
    if (c.noSteps) {
      EXPECT_EQ(L->AcceptedSteps(), 0);
    }
    for (int k = 1; k <= 3; ++k)
      for (size_t j = 1; j < e.grid.size(); ++j) EXPECT_FLOAT_EQ(e.out[k][j], static_cast<float>(c.c0)) << j;
  }
}

TEST(LammRun, WithoutDiffusionTheBoundaryIsSharp) {
  Experiment e{.D = 0};
  ASSERT_EQ(BuiltSolver(e)->CheckAndRun(), 0);
  for (int k = 1; k <= 3; ++k) {
    const double w2t = e.W2t(e.times[k - 1]);
    const double rb = e.meniscus * std::exp(e.s * 1e-13 * w2t);
    const float plateau = static_cast<float>(std::exp(-2 * e.s * 1e-13 * w2t));
    for (size_t j = 1; j < e.grid.size(); ++j) {
      if (std::fabs(e.grid[j] - rb) < 1e-4) continue;
      EXPECT_FLOAT_EQ(e.out[k][j], e.grid[j] < rb ? 0.0f : plateau) << e.grid[j];
    }
  }
}

TEST(LammRun, NumericalBreakdownIsReportedNotHidden) {
  // A diffusion coefficient so large that the operator overflows: the run
  // must end with an error code, never as a success.
  Experiment e{.D = 1e308};
  e.Build();
  LammSolverSettings st = FixedGrid(200);
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI guard(ui);
  auto L = MakeSolver(e, st);
  const int code = L->CheckAndRun();
  EXPECT_TRUE(code == 2 || code == 3) << code;
  for (int k = 1; k <= 3; ++k)
    for (size_t j = 1; j < e.grid.size(); ++j) ASSERT_TRUE(std::isfinite(e.out[k][j]));
}

namespace {
// Reaches the tridiagonal solver directly to check every pivot.
class PivotProbe : public CLammIdeal {
 public:
  bool Solve(std::vector<double> lo, std::vector<double> di, std::vector<double> up) {
    N_ = static_cast<int>(di.size()) - 1;
    AllocWorkMemory();
    std::vector<double> rhs(di.size(), 1.0), x(di.size(), 0.0);
    return TridagActive(lo.data(), di.data(), up.data(), rhs.data(), x.data(), N_);
  }
  bool Aborted() const { return abortFlag_ && pivotFailed_; }
};
}  // namespace

TEST(LammRun, EveryTridiagonalPivotIsChecked) {
  struct Case {
    std::vector<double> lo, di, up;
    const char* message;
  };
  const Case cases[] = {
      {{0, 0, 1, 1}, {0, 0, 2, 2}, {0, 1, 1, 0}, "Error 1 in tridag"},
      {{0, 0, 1, 1}, {0, 1, 1, 2}, {0, 1, 1, 0}, "Error 2 in tridag"},  // 1 - 1*1 = 0 in row 2
      {{0, 0, 1, 1}, {0, 2, kNaN, 2}, {0, 1, 1, 0}, "Error 2 in tridag"},
  };
  for (const Case& c : cases) {
    platform::ScriptedUserInterface ui;
    ui.ExpectBox("Error", c.message);
    platform::ScopedUI guard(ui);
    PivotProbe p;
    p.SetOutputParameters(1, 1e-7, 6, 7, 1, 6.1f, 6.9f);
    EXPECT_FALSE(p.Solve(c.lo, c.di, c.up));
    EXPECT_TRUE(p.Aborted());
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  }
}

TEST(LammRotor, ScheduleSpeedsAndStepLimits) {
  Experiment e{.times = {100, 200, 400}};
  auto L = BuiltSolver(e);
  const float start[2] = {0, 0}, rpm[2] = {0, 50000}, rate[2] = {0, 300};
  L->LoadSpecies(1, start, rpm, rate, 2);
  EXPECT_DOUBLE_EQ(L->RpmAtTime(100), 30000);
  EXPECT_DOUBLE_EQ(L->RpmAtTime(200), 50000);
  // Check mode 2 writes the schedule's speed into every scan.
  EXPECT_FLOAT_EQ(e.records[1].rpm, 30000);
  EXPECT_FLOAT_EQ(e.records[3].rpm, 50000);
  EXPECT_TRUE(L->IsScheduleMonotonicAfter(50));

  // A ramp that would run past the next step's start ends 1 s before it.
  const float start2[3] = {0, 0, 100}, rpm2[3] = {0, 30000, 20000}, rate2[3] = {0, 200, 10};
  L->LoadSpecies(2, start2, rpm2, rate2, 0);
  EXPECT_DOUBLE_EQ(L->RpmAtTime(99), 99 * 200.0);
  EXPECT_DOUBLE_EQ(L->RpmAtTime(150), 30000 - 50 * 10.0);
  EXPECT_FALSE(L->IsScheduleMonotonicAfter(50));
}

TEST(LammRotor, ShortRampsAreConstantSpeedAndRampsNeverOvershoot) {
  Experiment e{.rampRate = 5000, .rampDuration = 9.9};
  auto L = BuiltSolver(e);
  L->InitRotorRamp();
  EXPECT_DOUBLE_EQ(L->RotorOmegaInStep(0, 1), 50000);

  Experiment r{.rampRate = 200, .rampDuration = 250};
  auto R = BuiltSolver(r);
  R->InitRotorRamp();
  for (double t = 0; t < 260; t += 7) EXPECT_LE(R->RotorOmegaInStep(t, 20), 50000);
  // Over a ramp piece the effective speed carries the exact mean of w^2.
  const double mean = R->RotorOmegaInStep(100, 10);
  EXPECT_NEAR(mean * mean, 200.0 * 200.0 * (100 * 100 + 100 * 110 + 110 * 110) / 3.0, 1e-6);
}

TEST(LammGridChoice, ReducedSChoosesTheAlgorithm) {
  struct Case {
    double s, D;
    bool schedule, moving;
  };
  const Case cases[] = {{1.3, 6e-7, false, true},
                        {1.2, 6e-7, false, false},
                        {1.3, 6e-7, true, false},
                        {-0.2, 5e-9, false, true}};  // tenth of the threshold
  for (const Case& c : cases) {
    Experiment e{.s = c.s, .D = c.D, .rpm = 60000};
    e.Build();
    LammSolverSettings st;
    st.optimiseTimeInvariantGrid = 0;  // reduced-s threshold 5.0
    auto L = MakeSolver(e, st);
    if (c.schedule) {
      const float start[2] = {0, 0}, rpm[2] = {0, 60000}, rate[2] = {0, 300};
      L->LoadSpecies(1, start, rpm, rate, 0);
    }
    L->InitRotorRamp();
    L->ChooseTimeStep();
    EXPECT_EQ(L->MovingFrameChosen(), c.moving) << c.s;
    EXPECT_EQ(L->StaticGridChosen(), !c.moving) << c.s;
  }
}

TEST(LammGridChoice, AdaptiveGridSizeIsClampedAndSkippedForSmallFrictionalRatios) {
  Experiment e;
  e.right = 7.0f;  // the pile-up at the bottom stays out of the fit range
  e.Build();
  LammSolverSettings st;
  st.gridSizeLowerLimit = 400;
  auto L = MakeSolver(e, st);
  L->InitRotorRamp();
  L->ChooseTimeStep();
  L->SetupGrid();
  // The rule asks for fewer (142 layered, 309 even): the layered grid is
  // then nowhere coarser than an even grid of the minimum.
  EXPECT_GE(L->NodeCount(), 400);
  EXPECT_LE(L->NodeCount(), 405);

  auto F = MakeSolver(e, LammSolverSettings{});
  F->SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
  F->SetModelOptions({.minNodes = 75, .ff0 = 0.4f, .stepLowerTolerance = 0.05, .stepTarget = 0.2,
                      .truncateDynamically = true});
  F->SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
  F->SetOutputParameters(0.5, 2e-5, 6.0, 7.2, 1, 6.05f, 7.1f);  // a very small f/f0
  F->SetSolventAndComputeFrictionalRatio(20, 0.73, 1, 1);
  ASSERT_LT(F->FrictionalRatio(), 0.5);
  F->InitRotorRamp();
  F->ChooseTimeStep();
  F->SetupGrid();
  EXPECT_EQ(F->NodeCount(), 1000);
}

TEST(LammRotor, ARunStartingAfterTheRampSeesTheFullSpeed) {
  for (bool schedule : {false, true}) {
    Experiment e{.rampRate = 200, .rampDuration = 250, .times = {900, 1800}};
    auto L = BuiltSolver(e, FixedGrid(400));
    if (schedule) {
      const float start[2] = {0, 0}, rpm[2] = {0, 50000}, rate[2] = {0, 200};
      L->LoadSpecies(1, start, rpm, rate, 0);
    }
    L->SetInitialTime(500);
    ASSERT_EQ(L->CheckAndRun(), 0) << schedule;
    const double expected = std::exp(-2 * e.s * 1e-13 * (e.W2t(1800) - e.W2t(500)));
    size_t j = 1;
    while (e.grid[j] < 6.9f) ++j;
    EXPECT_NEAR(e.out[2][j] / expected, 1.0, 1e-6) << schedule;
  }
}

TEST(LammRun, ScansAfterTheBoundaryLeftTheFitRangeShowTheFinalProfile) {
  // 60 S at 50000 rpm has cleared the region left of 7.1 cm well before the
  // later scans; the run stops there and those scans repeat its profile.
  Experiment e{.s = 60, .D = 2e-7, .times = {300, 3000, 6000, 9000}};
  auto L = BuiltSolver(e, FixedGrid(600));
  ASSERT_EQ(L->CheckAndRun(), 0);
  EXPECT_TRUE(L->EndedEarly());
  EXPECT_LT(L->Time(), 6000);
  for (size_t j = 1; j < e.grid.size(); ++j) {
    ASSERT_NE(e.out[4][j], -99.0f);
    EXPECT_EQ(e.out[4][j], e.out[3][j]);
    if (e.grid[j] < 7.05f) {
      EXPECT_LT(e.out[4][j], 1e-3f);
    }
  }
}
