// The pieces of the mean field: frame times, the data-extrapolation table
// against a hand computation on sharp boundaries, the field summed from
// recorded profiles and its regridding.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "models/nonideal/mean_field/conti_nonid.h"

namespace {

TEST(MeanFieldFrames, EveryTwentySecondsToTwoHundredThenEveryHundred) {
  const struct {
    double lastScan;
    int count;
    double last;
  } cases[] = {{150, 11, 200}, {200, 11, 200}, {1250, 22, 1300}, {3600, 45, 3600}, {0, 11, 200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastScan);
    CContiNonid o;
    o.BuildFrameTimes(c.lastScan, nullptr);
    ASSERT_EQ(o.frameCount, c.count);
    EXPECT_EQ(o.frameTimes[1], 0.0);
    EXPECT_EQ(o.frameTimes[11], 200.0);
    EXPECT_EQ(o.frameTimes[o.frameCount], c.last);
    if (o.frameCount > 11) {
      EXPECT_EQ(o.frameTimes[12], 300.0);
    }
  }
}

// Scans of a sharp step of height `plateau` at rb = m exp(k t) on a 0.001 cm
// grid from the meniscus to the bottom.
struct SharpSteps {
  double m = 6.0, b = 7.2, k = 1.370778e-5;
  int n = 1201;
  std::vector<double> times;
  std::vector<float> grid;
  std::vector<std::vector<float>> signals;
  std::vector<const float*> rows;

  explicit SharpSteps(std::vector<double> t, double plateau = 1.0) {
    times.assign(1, 0.0);
    times.insert(times.end(), t.begin(), t.end());
    grid.assign(n + 1, 0.0f);
    for (int i = 1; i <= n; ++i) grid[i] = static_cast<float>(m + 0.001 * (i - 1));
    const int S = static_cast<int>(t.size());
    signals.assign(S + 1, std::vector<float>(n + 1, 0.0f));
    rows.assign(S + 1, nullptr);
    for (int j = 1; j <= S; ++j) {
      const double rb = m * std::exp(k * times[j]);
      for (int i = 1; i <= n; ++i) signals[j][i] = grid[i] >= rb ? static_cast<float>(plateau) : 0.0f;
      rows[j] = signals[j].data();
    }
  }
  ExtrapolationInput Input(int lammGridPoints = 1000) const {
    ExtrapolationInput in;
    in.scans = static_cast<int>(times.size()) - 1;
    in.times = times.data();
    in.signals = rows.data();
    in.grid = grid.data();
    in.first = 1;
    in.last = n;
    in.meniscus = m;
    in.bottom = b;
    in.lammGridPoints = lammGridPoints;
    return in;
  }
};

std::vector<double> TenSteps() {
  std::vector<double> t;
  for (int j = 1; j <= 10; ++j) t.push_back(300.0 * j);
  return t;
}

TEST(MeanFieldTable, SharpBoundariesGiveTheHandComputedTable) {
  SharpSteps d(TenSteps());
  CContiNonid o;
  ASSERT_TRUE(o.ExtrapolateFromData(d.Input()));
  ASSERT_EQ(o.levelCount, 100);
  EXPECT_NEAR(o.levels[1], 0.001, 1e-12);
  EXPECT_NEAR(o.levels[100], 0.999001, 1e-9);
  // The first three scans put every level at the first grid radius past
  // their boundary.
  for (int j : {1, 50, 100}) {
    EXPECT_NEAR(o.BoundaryPosition(1, j), 6.025, 1e-5);
    EXPECT_NEAR(o.BoundaryPosition(2, j), 6.050, 1e-5);
    EXPECT_NEAR(o.BoundaryPosition(3, j), 6.075, 1e-5);
  }
  // Times t_k = k 30 s. Before the first scan the line through the origin
  // a = sum(t d) / sum(t^2) = 8.3333e-5 cm/s (true boundary at 150 s: 6.01235);
  // after it the scans are interpolated in time.
  EXPECT_NEAR(o.tableTimes[5], 150.0, 1e-9);
  EXPECT_NEAR(o.tableTimes[100], 3000.0, 1e-9);
  for (int j : {1, 100}) {
    EXPECT_NEAR(o.TableRadius(5, j), 6.0125, 1e-5);
    EXPECT_NEAR(o.TableRadius(10, j), 6.025, 1e-5);
    EXPECT_NEAR(o.TableRadius(55, j), 6.1375, 1e-5);
  }
}

TEST(MeanFieldTable, LevelsAtTheMeniscusOrLateStayPut) {
  // A first scan that already holds signal at the meniscus (the lowest
  // levels): those levels stay at the meniscus before it.
  SharpSteps d(TenSteps());
  for (int i = 1; i <= d.n; ++i) d.signals[1][i] = std::max(d.signals[1][i], 0.3f);
  CContiNonid o;
  ASSERT_TRUE(o.ExtrapolateFromData(d.Input()));
  EXPECT_EQ(o.TableRadius(5, 1), 6.0);
  EXPECT_GT(o.TableRadius(5, 100), 6.0);

  // Levels the early scans place near the bottom and never move (one
  // usable early scan): the bottom, the mean early displacement being more
  // than half the column.
  SharpSteps far({300, 600, 900});
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= far.n; ++i) far.signals[j][i] = far.grid[i] >= 6.7f ? 1.0f : 0.0f;
  far.signals[1].assign(far.n + 1, 0.0f);  // never reached in the first scan: the bottom
  CContiNonid q;
  ASSERT_TRUE(q.ExtrapolateFromData(far.Input()));
  EXPECT_NEAR(q.TableRadius(5, 50), 7.2, 1e-9);
}

TEST(MeanFieldTable, DegenerateDataDivideByNothing) {
  struct Case {
    const char* name;
    std::vector<double> times;
    double plateau;
    int lammGridPoints;
    bool built;
  } cases[] = {
      {"one scan", {1200}, 1.0, 1000, true},
      {"scans at time 0", {0, 0, 600}, 1.0, 1000, true},
      {"equal times", {600, 600, 900, 900}, 1.0, 1000, true},
      {"one Lamm grid point", {300, 600, 900}, 1.0, 1, true},
      {"no signal", {300, 600}, 0.0, 1000, false},
      {"negative signal", {300, 600}, -1.0, 1000, false},
      {"all at time 0", {0, 0}, 1.0, 1000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SharpSteps d(c.times, c.plateau);
    CContiNonid o;
    EXPECT_EQ(o.ExtrapolateFromData(d.Input(c.lammGridPoints)), c.built);
    if (!c.built) continue;
    for (int k = 1; k <= o.extrapolationTimes; ++k)
      for (int j = 1; j <= o.levelCount; ++j) ASSERT_TRUE(std::isfinite(o.TableRadius(k, j))) << k << " " << j;
  }
  // With fewer Lamm grid points than 100 there are as many levels.
  SharpSteps d(TenSteps());
  CContiNonid o;
  ASSERT_TRUE(o.ExtrapolateFromData(d.Input(40)));
  EXPECT_EQ(o.levelCount, 40);
  // One scan: the line through the origin and its own positions.
  SharpSteps one({1200});
  CContiNonid p;
  ASSERT_TRUE(p.ExtrapolateFromData(one.Input()));
  EXPECT_EQ(p.TableRadius(100, 10), p.BoundaryPosition(1, 10));
}

// Profiles P_k,t(r) = k t (r - m) recorded for three species; the field is
// the amplitude-weighted sum, extended by the end values, regridded linearly.
TEST(MeanFieldFromFit, WeightedSumOfTheProfilesRegriddedOnTheSolverGrid) {
  const double m = 6.0, b = 7.2;
  CContiNonid o(500, 100);
  o.BuildFrameTimes(1250, nullptr);
  ASSERT_TRUE(o.AllocProfileStore(3, m, b));
  for (int k = 1; k <= 3; ++k)
    for (int f = 1; f <= o.frameCount; ++f)
      for (int i = 1; i <= 100; ++i)
        o.ProfileStore()[k][f][i] = static_cast<float>(k * o.frameTimes[f] * (o.profileRadii[i] - m));
  const double c[] = {0, 0.5, 0.25, 2.0};
  for (int first : {1, 2}) {
    SCOPED_TRACE(first);
    o.ComputeCtotFromFit(first, 3, c, m, b);
    ASSERT_TRUE(o.ctotValid);
    double weight = 0;
    for (int k = first; k <= 3; ++k) weight += c[k] * k;
    ASSERT_EQ(o.extendedRadii.size(), 103u);
    EXPECT_FLOAT_EQ(o.extendedRadii[1], 5.5f);
    EXPECT_FLOAT_EQ(o.extendedRadii[102], 7.7f);
    for (int f : {2, 15, 22}) {
      const double t = o.frameTimes[f];
      EXPECT_NEAR(o.ctotFrames[f][50], weight * t * (o.profileRadii[49] - m), 1e-3 * weight * t);
      EXPECT_EQ(o.ctotFrames[f][1], o.ctotFrames[f][2]);
      EXPECT_EQ(o.ctotFrames[f][102], o.ctotFrames[f][101]);
      ASSERT_EQ(o.regriddedCount, 500);
      for (int i : {1, 137, 500})
        EXPECT_NEAR(o.regridded[f][i], weight * t * (o.regriddedRadii[i] - m), 1e-4 * weight * t + 1e-6);
    }
  }
  // The frames follow a moved meniscus; unchanged ones are left alone.
  o.RegridCtotFrames(6.01, b, 500, false);
  EXPECT_FLOAT_EQ(o.regriddedRadii[1], 6.01f);
  EXPECT_FLOAT_EQ(o.gridStart, 6.01f);
}

}  // namespace
