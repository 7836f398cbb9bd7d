// Floating species of slow diffusion on the static grid: the bottom
// depletes, the plateau concentrates as exp(-2 s w^2 t) (s < 0), the pile
// at the meniscus holds the rest of the loading, at every rotor speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "fv_reference.h"
#include "lamm_test_support.h"

using namespace lammtest;

namespace {

constexpr double kSector = 1.2 * 0.03490658503988659;

LammSolverSettings StaticGridWithoutTruncation() {
  LammSolverSettings st;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.truncateGrid = 0;
  return st;
}

}  // namespace

TEST(LammFlotation, SlowFloatingSpeciesOnTheStaticGridAtEverySpeed) {
  struct Species {
    double s, D;
  };
  for (const Species sp : {Species{-10, 1e-8}, Species{-7, 1e-8}, Species{-5, 1e-8}, Species{-10, 3e-8}}) {
    for (const double rpm : {10000.0, 30000.0, 50000.0, 60000.0}) {
      for (const LammSolverSettings& st : {StaticGridWithoutTruncation(), FixedGrid(2000)}) {
        SCOPED_TRACE(testing::Message() << "s " << sp.s << " D " << sp.D << " rpm " << rpm << " N "
                                        << st.gridSize.setting);
        Experiment e{.s = sp.s, .D = sp.D, .rpm = rpm, .times = {600, 1800, 3600}};
        auto L = BuiltSolver(e, st);
        ASSERT_EQ(L->CheckAndRun(), 0);
        const double loaded = (e.bottom * e.bottom - e.meniscus * e.meniscus) / 2;
        for (int k = 1; k <= 3; ++k) {
          const double x = e.s * 1e-13 * e.W2t(e.times[k - 1]);  // < 0
          const double boundary = e.bottom * std::exp(x), plateau = std::exp(-2 * x);
          const double spread = 6 * std::sqrt(2 * e.D * e.times[k - 1]) + 0.01;
          for (size_t j = 1; j < e.grid.size(); ++j) {
            const double r = e.grid[j];
            if (r < e.left || std::fabs(r - boundary) < spread) continue;
            ASSERT_NEAR(e.out[k][j], r < boundary ? plateau : 0.0, 2e-3) << "scan " << k << " r " << r;
          }
        }
        // Outside the pile the closed form holds this much of the loading;
        // the pile holds the rest, whether the grid keeps it or it leaves
        // through the meniscus.
        const double x = e.s * 1e-13 * e.W2t(3600);
        const double outsidePile =
            (e.bottom * e.bottom - e.meniscus * e.meniscus * std::exp(-2 * x)) / 2 / loaded;
        const double content = L->CellContent() / kSector / loaded;
        if (std::fabs(content - 1) > 1e-9) {
          EXPECT_NEAR(content, outsidePile, 2e-3);
        }
        EXPECT_LE(content, 1 + 1e-9);
      }
    }
  }
}

// A species the static grid cannot carry on a fixed grid (a sharp
// sedimenting boundary without outflow at the bottom) is handed to the
// moving frame on a grid of the same size; whatever the outcome, success
// means finite scans that hold the loading.
TEST(LammFlotation, FallbackAfterACollapsedStaticGridKeepsTheGrid) {
  Experiment e{.s = 10, .D = 1e-8, .times = {600, 1800, 3600}};
  auto L = BuiltSolver(e, FixedGrid(1000));
  const int rc = L->CheckAndRun();
  if (rc != 0) return;
  EXPECT_GE(L->NodeCount(), 1000);
  const double loaded = (e.bottom * e.bottom - e.meniscus * e.meniscus) / 2 * kSector;
  EXPECT_NEAR(L->CellContent() / loaded, 1.0, 0.05);
  for (int k = 1; k <= 3; ++k)
    for (size_t j = 1; j < e.grid.size(); ++j) ASSERT_TRUE(std::isfinite(e.out[k][j]));
}

// Species that crossed the whole cell before the first scan (600 s at
// 50000 rpm: beyond 140 S), as a fit's search walks them to the ends of
// their s range. Gone from the fit range, they leave it empty in every scan
// by the independent finite-volume solution; one whose layer at the far end
// reaches into the range is not taken as gone. Asked to, the solver follows
// a layer wider than two spacings of its grid on the static grid in a few
// hundred steps instead of the moving frame's one per element travelled
// (some 10 000 by 40 minutes at 280 S), as close to that solution; so it does
// with any species of 0.1-100 S, the layered grid's checked range, whose
// layer at the bottom the fit range does not see, and with any floating one
// of 0.1-300 S, on the layered grid. A sedimenting species beyond 100 S that
// has not crossed is solved bit for bit as without the request. A species
// that has crossed (beyond 111 S here) is solved so unasked: the frame took
// up to 18 000 steps for such species over a fit's three hours, and the
// scans see no boundary of theirs.
TEST(LammFlotation, SpeciesThatCrossedTheCellBeforeTheFirstScan) {
  struct Row {
    double s, D;
    bool empty, staticGrid;
    float left = 6.05f;
    int steps = 1000;  // at most, on the static grid
  };
  const Row rows[] = {
      {-280, 1e-10, true, true, 6.05f, 5000},  // the floor of D at the end of the s range
      {280, 1e-10, true, false},   {-280, 1e-6, true, true, 6.05f, 5000},   {280, 1e-6, true, false},
      {-140, 1e-6, false, true, 6.05f, 5000},  // crossed, yet its lag is not bounded that far below
      {-280, 3e-5, false, true, 6.05f, 1500},   {280, 1e-4, false, true},    {-280, 1.9e-3, false, true},
      // Over 40 minutes the frame's travel is short yet: these take about
      // as many steps either way; over three hours the frame takes 13 000.
      {-140, 1e-3, false, true},   {30, 1e-6, false, true},     {-30, 1e-6, false, true, 6.05f, 1500},
      {60, 1e-6, false, true},     {-60, 2e-6, false, true, 6.05f, 1500},
      {100, 1e-6, false, false},  // solved alike with the request and without
      // Floating piles 0.01 cm from the fit limit, the first data point taken
      // as the meniscus: the even grid of a species without a frictional
      // ratio (-10 S) put their tails 10-50 % off, the frame 1-10 %.
      {-100, 8e-7, false, true, 6.01f, 3000}, {-78, 1.5e-6, false, true, 6.01f, 3000},
      {-50, 2.2e-6, false, true, 6.01f, 1500}, {-22, 4.5e-6, false, true, 6.01f},
      {-100, 3e-5, false, true, 6.01f},        {-30, 1e-6, false, true, 6.01f, 1500},
      {-10, 1e-6, false, true, 6.01f},         {-90, 5e-6, false, true, 6.01f, 1500},
      // Floating up to 300 S, the ends of annealing's s range.
      {-130, 2.5e-6, false, true, 6.01f, 3000}, {-228, 4.4e-6, false, true, 6.01f, 3000},
      {-200, 3e-6, false, true, 6.01f, 3000},   {-160, 1.5e-6, false, true, 6.01f, 3000},
      {-250, 2e-5, false, true, 6.01f, 3000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "s " << row.s << " D " << row.D << " left " << row.left);
    Experiment e{.s = row.s, .D = row.D, .left = row.left, .times = {600, 2400}, .gridPoints = 390};
    auto plain = BuiltSolver(e);
    EXPECT_EQ(plain->FitRangeEmptyInEveryScan(), row.empty);
    ASSERT_EQ(plain->CheckAndRun(), 0);
    const std::vector<std::vector<float>> byDefault = e.out;
    // Crossed: the sharp boundary past the far end by the first scan.
    const bool unasked = std::fabs(row.s) * 1e-13 * e.W2t(e.times[0]) >= std::log(e.bottom / e.meniscus);
    if (unasked) {
      EXPECT_EQ(plain->StaticGridChosen(), row.staticGrid);
    }
    auto L = BuiltSolver(e);
    L->SetWideEndLayersOnStaticGrid(true);
    ASSERT_EQ(L->CheckAndRun(), 0);
    EXPECT_EQ(L->StaticGridChosen() && (unasked || e.out != byDefault), row.staticGrid);
    if (unasked) {
      EXPECT_EQ(e.out, byDefault);
    }
    if (row.staticGrid) {
      EXPECT_LT(L->AcceptedSteps(), row.steps);
    } else {
      EXPECT_EQ(e.out, byDefault);
    }

    FvLamm fv;
    fv.s = row.s;
    fv.D = row.D;
    // Fine enough for the sharp boundaries of 30-100 S at D 1e-6.
    fv.cells = 6000;
    fv.dt = 0.5;
    fv.Start(1.0);
    double inRange = 0, error = 0;
    for (size_t k = 1; k <= e.times.size(); ++k) {
      fv.AdvanceTo(e.times[k - 1]);
      // The fit limits and the grid radii just outside them.
      for (size_t j = 2; j + 1 < e.grid.size(); ++j) {
        if (e.grid[j + 1] < e.left || e.grid[j - 1] > e.right) continue;
        const double c = fv.At(e.grid[j]);
        inRange = std::max(inRange, c);
        error = std::max(error, std::fabs(e.out[k][j] - c));
      }
    }
    if (row.empty) {
      EXPECT_LT(inRange, 1e-12);
    } else if (row.staticGrid) {
      EXPECT_LT(error, 4e-3 * std::max(1.0, inRange)) << inRange;
    }
  }
  // Nothing is taken as gone where the scans see through a radial
  // convolution, or before the rotor has reached its speed.
  Experiment e{.s = -280, .D = 1e-10, .times = {600, 1800}};
  auto convolved = BuiltSolver(e);
  convolved->SetRadialConvolution(true, 0.01f, 3.0f);
  EXPECT_FALSE(convolved->FitRangeEmptyInEveryScan());
  e.rampRate = 200;
  e.rampDuration = 250;  // 50000 rpm by 250 s
  EXPECT_TRUE(BuiltSolver(e)->FitRangeEmptyInEveryScan());
  e.rampDuration = 550;
  EXPECT_FALSE(BuiltSolver(e)->FitRangeEmptyInEveryScan());
}

// Species of s near 0 at the floor of D a fit's range allows (a boundary
// half a radial spacing wide by the last scan), as a search over featureless
// scans holds them, and their neighbours: where neither end of the cell
// reaches the fit range in any scan, the closed form's plateau is what the
// solver computes there; where a boundary or a pile does, or a ramp is in
// effect, nothing is written. Then species drawn at random over the same
// region: wherever the closed form is taken, it agrees with the solver.
TEST(LammFlotation, FitRangeInThePlateauInClosedForm) {
  struct Row {
    double s, D;
    bool plateau;
    double rampDuration = 0;
  };
  const Row rows[] = {
      {0.1, 1e-10, true},   {-0.2, 1e-10, true},  {1e-3, 1e-9, true},   {-0.3, 1e-10, true},
      {0.2, 8e-11, true},   {0.2, 1e-9, false},   // its meniscus boundary spreads into the range
      {1e-3, 1e-8, false},  {0.5, 1e-10, false},  // the boundary has entered the range
      {-0.5, 1e-10, false},                       // the floating boundary has entered it
      {0.1, 1e-10, false, 250},                   // a ramp of 250 s
  };
  // Whether the closed form was taken goes to *taken.
  const auto check = [](const Row& row, std::vector<double> times, bool* taken) {
    SCOPED_TRACE(testing::Message() << "s " << row.s << " D " << row.D << " ramp " << row.rampDuration);
    Experiment e{.s = row.s, .D = row.D, .times = std::move(times), .gridPoints = 390};
    e.rampRate = row.rampDuration > 0 ? 200 : 0;
    e.rampDuration = row.rampDuration;
    auto closed = BuiltSolver(e);
    const bool plateau = *taken = closed->FitRangeInPlateauInEveryScan();
    EXPECT_EQ(closed->SolvePlateauOfTheFitRange(), plateau);
    const std::vector<std::vector<float>> written = e.out;
    if (!plateau) {
      for (size_t k = 1; k < written.size(); ++k)
        for (size_t j = 1; j < written[k].size(); ++j) ASSERT_EQ(written[k][j], -99.0f);
      return;
    }
    ASSERT_EQ(BuiltSolver(e)->CheckAndRun(), 0);
    for (size_t k = 1; k <= e.times.size(); ++k) {
      const double exact = std::exp(-2 * e.s * 1e-13 * e.W2t(e.times[k - 1]));
      // The fit limits and the grid radii just outside them.
      for (size_t j = 2; j + 1 < e.grid.size(); ++j) {
        if (e.grid[j + 1] < e.left || e.grid[j - 1] > e.right) continue;
        ASSERT_NEAR(written[k][j], exact, 2e-7) << "scan " << k << " r " << e.grid[j];
        ASSERT_NEAR(e.out[k][j], exact, 2e-5) << "scan " << k << " r " << e.grid[j];
      }
    }
  };
  // The featureless scans of a fit: 600 s to three hours at 50000 rpm.
  for (const Row& row : rows) {
    bool taken = false;
    check(row, {600, 2400, 11100}, &taken);
    EXPECT_EQ(taken, row.plateau);
  }
  std::mt19937 random(104);
  std::uniform_real_distribution<double> s(-0.6, 0.6), logD(-11, -7);
  int taken = 0;
  for (int draw = 0; draw < 40; ++draw) {
    const Row row{s(random), std::pow(10.0, logD(random)), false};
    bool plateau = false;
    check(row, {600, 3600, 7200}, &plateau);
    taken += plateau ? 1 : 0;
  }
  EXPECT_GE(taken, 5);
}
