// Scans that take time: the scanner leaves the meniscus at the scan time and
// moves out at its velocity, so each radius is recorded a little later than
// the one before. Checked against a brute-force scan made of many
// instantaneous profiles over the scan's travel, each radius read at the
// moment the scanner passes it.
#include <algorithm>
#include <cmath>

#include "lamm_test_support.h"

using namespace lammtest;

namespace {

constexpr float kVelocity = 2.43f;  // cm/min

// A solver of the experiment whose scans take time (segments 0: by the rule).
std::unique_ptr<CLammIdeal> FiniteScanSolver(Experiment& e, const LammSolverSettings& st, int segments) {
  auto L = std::make_unique<CLammIdeal>();
  L->MarkLoaded();
  L->SetOutputParameters(e.s, e.D, e.meniscus, e.bottom, e.c0, e.left, e.right);
  L->SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(), .grid = e.grid.data(),
                   .gridLength = static_cast<int>(e.grid.size()) - 1,
                   .scanCount = static_cast<int>(e.times.size()), .timeResolution = true,
                   .scanVelocity = kVelocity, .absorbanceData = true});
  LoadOptions(*L, st);
  L->SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
  L->SetScanSegments(segments);
  return L;
}

double ScanDuration(const Experiment& e) { return (e.bottom - e.meniscus) / (kVelocity / 60.0); }

// The scan that starts at t0 as the scanner sees it, from instantaneous
// profiles every duration / steps seconds, linear in time between them.
std::vector<double> BruteForceScan(const Experiment& base, const LammSolverSettings& st, double t0, int steps) {
  Experiment e = base;
  const double T = ScanDuration(e);
  e.times.clear();
  for (int j = 0; j <= steps; ++j) e.times.push_back(t0 + T * j / steps);
  auto L = BuiltSolver(e, st);
  EXPECT_EQ(L->CheckAndRun(), 0);
  std::vector<double> scan(e.grid.size(), 0.0);
  for (std::size_t p = 1; p < e.grid.size(); ++p) {
    const double x = std::clamp((e.grid[p] - e.meniscus) / (kVelocity / 60.0), 0.0, T) / T * steps;
    const int j = std::min(static_cast<int>(x), steps - 1);
    const double f = x - j;
    scan[p] = (1 - f) * e.out[static_cast<std::size_t>(j) + 1][p] + f * e.out[static_cast<std::size_t>(j) + 2][p];
  }
  return scan;
}

// Largest difference over the fitted range.
template <typename A, typename B>
double MaxDifference(const Experiment& e, const A& a, const B& b) {
  double worst = 0;
  for (std::size_t p = 1; p < e.grid.size(); ++p)
    if (e.grid[p] >= e.left && e.grid[p] <= e.right)
      worst = std::max(worst, std::fabs(static_cast<double>(a[p]) - static_cast<double>(b[p])));
  return worst;
}

// Both solver paths, with steps small enough that the runs' different step
// histories do not show at the 1e-4 level.
std::vector<LammSolverSettings> Paths() {
  LammSolverSettings moving = FixedGrid(400, 0.1);
  moving.claverieAlgorithm = 0;
  moving.movingHatAlgorithm = 1;
  return {FixedGrid(400, 0.1), moving};
}

Experiment TwoScans() {
  Experiment e{.times = {900, 1500}, .gridPoints = 300};
  e.Build();
  return e;
}

}  // namespace

TEST(LammFiniteScan, ScansAgreeWithTheScannerPassingEachRadius) {
  for (const LammSolverSettings& st : Paths()) {
    SCOPED_TRACE(st.movingHatAlgorithm ? "moving frame" : "static grid");
    Experiment e = TwoScans();
    auto L = FiniteScanSolver(e, st, 0);
    ASSERT_EQ(L->CheckAndRun(), 0);
    Experiment still = TwoScans();
    ASSERT_EQ(MakeSolver(still, st)->CheckAndRun(), 0);
    for (std::size_t k = 1; k <= e.times.size(); ++k) {
      const std::vector<double> brute = BruteForceScan(e, st, e.times[k - 1], 100);
      EXPECT_LT(MaxDifference(e, e.out[k], brute), 2e-4) << k;
      // The half minute the scanner needs shows twenty times above that.
      EXPECT_GT(MaxDifference(e, e.out[k], still.out[k]), 1.5e-3) << k;
    }
  }
}

TEST(LammFiniteScan, DoublingTheChosenPiecesChangesLessThanTheLimit) {
  for (const LammSolverSettings& st : Paths()) {
    SCOPED_TRACE(st.movingHatAlgorithm ? "moving frame" : "static grid");
    Experiment chosen = TwoScans(), doubled = TwoScans();
    auto L = FiniteScanSolver(chosen, st, 0);
    ASSERT_EQ(L->CheckAndRun(), 0);
    ASSERT_GT(L->ScanSegments(), 2);
    ASSERT_EQ(FiniteScanSolver(doubled, st, 2 * L->ScanSegments())->CheckAndRun(), 0);
    for (std::size_t k = 1; k <= chosen.times.size(); ++k)
      EXPECT_LT(MaxDifference(chosen, chosen.out[k], doubled.out[k]), 1e-4 * chosen.c0) << k;
  }
}

TEST(LammFiniteScan, TwoPiecesOrFewerAreOneInstantaneousScan) {
  const LammSolverSettings st = FixedGrid(400, 0.1);
  Experiment two = TwoScans(), still = TwoScans();
  ASSERT_EQ(FiniteScanSolver(two, st, 2)->CheckAndRun(), 0);
  ASSERT_EQ(MakeSolver(still, st)->CheckAndRun(), 0);
  for (std::size_t k = 1; k <= two.times.size(); ++k) EXPECT_EQ(two.out[k], still.out[k]) << k;
}

TEST(LammFiniteScan, PiecesFollowTheFastestChangeOfTheFittedSignal) {
  const double omega2 = std::pow(Omega(50000), 2);
  auto pieces = [omega2](double s, double D, double t1, double distance, double v = kVelocity) {
    return CLammIdeal::FiniteScanSegments(s, D, omega2, 6.0, 7.2, v, t1, distance);
  };
  EXPECT_EQ(pieces(4.3, 6e-7, 900, 0.1, 0.0), 0);  // no scanner speed, no pieces
  EXPECT_EQ(pieces(4.3, 0.0, 900, 0.1), 1000);     // a sharp boundary takes the most
  EXPECT_EQ(pieces(0.01, 1e-5, 900, 0.1), 3);      // nearly nothing moves: the fewest
  // Faster species and earlier, sharper boundaries need more pieces.
  EXPECT_LT(pieces(2.0, 6e-7, 900, 0.1), pieces(4.3, 6e-7, 900, 0.1));
  EXPECT_LT(pieces(4.3, 6e-7, 3000, 0.1), pieces(4.3, 6e-7, 900, 0.1));
  // A fit range up to the bottom sees the material piling up there.
  EXPECT_EQ(pieces(4.3, 6e-7, 900, 0.0), 1000);
  // Floating species pile up at the meniscus instead: the same in mirror.
  EXPECT_EQ(pieces(-4.3, 6e-7, 900, 0.1), pieces(4.3, 6e-7, 900, 0.1));
}
