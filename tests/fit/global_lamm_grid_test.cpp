// The grid arrays of the global-array solvers: allocation and sizing, the
// node-placement rules, the two-zone and stretched static grids, and the
// cosolute arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "fit/lamm_grid.h"
#include "lamm/lamm_run_state.h"
#include "fit_test_support.h"
#include "lamm/lamm_settings.h"
#include "lamm/radial_nodes.h"

namespace {

class LammGridTest : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    gModelParams.meniscus = 6.0f;
    gModelParams.bottom = 7.2f;
  }
  void TearDown() override {
    FreeCosoluteArrays();
    FitStateTest::TearDown();
  }
  static void Algorithm(bool movingHat, bool claverie) {
    LammSettings().movingHatAlgorithm = movingHat;
    LammSettings().claverieAlgorithm = claverie;
  }
};

TEST_F(LammGridTest, SizingBeforeAndAfterAllocation) {
  LammSettings().gridSize.inUse = 321;
  EXPECT_FALSE(SetLammGridSize(500));  // nothing allocated: no change
  EXPECT_EQ(LammSettings().gridSize.inUse, 321);
  ASSERT_TRUE(AllocLammArrays());
  const LammGrid& g = CurrentLammGrid();
  EXPECT_EQ(g.AllocatedGridSize, 321);
  ASSERT_TRUE(SetLammGridSize(500));
  EXPECT_EQ(g.AllocatedGridSize, 500);
  EXPECT_EQ(g.Concentration[500], 0.0);  // zero-filled
  // The moving-frame block exists with the moving hat only; its new-time
  // stiffness shares the main arrays.
  EXPECT_NE(g.FrameRadius, nullptr);
  EXPECT_EQ(g.FrameNewDiag, g.StiffnessNewDiag);
  Algorithm(false, true);
  ASSERT_TRUE(SetLammGridSize(500));
  EXPECT_EQ(g.FrameRadius, nullptr);
  EXPECT_EQ(g.FrameNewDiag, nullptr);
  FreeLammArrays();
  FreeLammArrays();  // twice is harmless
  EXPECT_EQ(g.GridAllocated, 0);
  EXPECT_EQ(g.Radius, nullptr);
}

TEST_F(LammGridTest, NodePlacementRules) {
  const double m = 6.0, b = 7.2;
  LammSettings().gridSize.inUse = 11;
  const LammGrid& g = CurrentLammGrid();
  // Equidistant (static grid).
  Algorithm(false, true);
  ASSERT_TRUE(AllocLammArrays());
  for (int i = 1; i <= 11; ++i) EXPECT_NEAR(g.Radius[i], m + (i - 1) * (b - m) / 10, 1e-6);
  // Cell-centred (neither algorithm).
  Algorithm(false, false);
  MakeRadialGrid();
  for (int i = 1; i <= 11; ++i) EXPECT_NEAR(g.Radius[i], m + (i - 0.5) * (b - m) / 11, 1e-6);
  // Geometric moving frame: half a step at the meniscus for s* >= 0, at the
  // bottom for s* < 0.
  Algorithm(true, false);
  ASSERT_TRUE(SetLammGridSize(11));
  const float bf = 7.2f;
  const double q = std::pow(bf / m, 0.1);
  EXPECT_NEAR(g.Radius[2] / g.Radius[1], std::sqrt(q), 1e-12);
  EXPECT_NEAR(g.Radius[5] / g.Radius[4], q, 1e-12);
  EXPECT_EQ(g.Radius[11], bf);
  CurrentLammRunState().sStar = -2.0;
  MakeRadialGrid();
  EXPECT_NEAR(g.Radius[2] / g.Radius[1], q * std::sqrt(q), 1e-12);
  // Two nodes: meniscus and bottom in both algorithms.
  for (bool moving : {true, false}) {
    Algorithm(moving, !moving);
    ASSERT_TRUE(SetLammGridSize(2));
    EXPECT_EQ(g.Radius[1], 6.0);
    EXPECT_EQ(g.Radius[2], bf);
  }
}

TEST_F(LammGridTest, TwoZoneGrid) {
  Algorithm(false, true);
  LammSettings().gridSize.inUse = 200;
  ASSERT_TRUE(AllocLammArrays());
  LammGrid& g = CurrentLammGrid();
  // rc at or below the meniscus: a reallocation at the same size.
  EXPECT_EQ(SetTwoZoneGridSize(6.0f), 200);
  EXPECT_EQ(g.TwoZoneGridBuilt, 0);
  const int n = SetTwoZoneGridSize(6.6f);
  EXPECT_EQ(g.AllocatedGridSize, n);
  EXPECT_EQ(g.TwoZoneGridBuilt, 1);
  EXPECT_GT(n, 100);
  EXPECT_LT(n, 200);
  const double dr = 1.2f / 199.0f;
  EXPECT_NEAR(g.Radius[2] - g.Radius[1], dr, 1e-6);
  EXPECT_NEAR(g.Radius[n], 7.2f, 1e-6);
  for (int i = 2; i <= n; ++i) ASSERT_GT(g.Radius[i], g.Radius[i - 1]) << i;
  // Beyond rc the spacing grows.
  EXPECT_GT(g.Radius[n - 1] - g.Radius[n - 2], 1.2 * dr);
  // Too few nodes: an equidistant grid of 50.
  LammSettings().gridSize.inUse = 60;
  ASSERT_TRUE(SetLammGridSize(60));
  EXPECT_EQ(SetTwoZoneGridSize(6.05f), 50);
  EXPECT_EQ(g.TwoZoneGridBuilt, 0);
  EXPECT_NEAR(g.Radius[2] - g.Radius[1], 1.2 / 49, 1e-6);
  // A spacing that never advances, or a bottom that is not a number, gives
  // no grid instead of a loop without end.
  EXPECT_EQ(GradedNodes(6.0, 7.2, 6.6, 0.0, 1000, nullptr), 0);
  EXPECT_EQ(GradedNodes(6.0, std::nan(""), 6.6, 0.01, 1000, nullptr), 0);
  // Beyond the transition the spacing follows h0 sqrt((Rt/r)(r - m)/(Rt - m)):
  // at the bottom of a 6.0..7.2 cell with Rt = 6.6 it has grown by
  // sqrt((6.6/7.2)(1.2/0.6)) = 1.354, so the fine zone of 0.6 cm at h0 = 0.01
  // holds 60 elements and the graded zone between 60/1.354 and 60 of them.
  const int graded = GradedNodes(6.0, 7.2, 6.6, 0.01, 1000, nullptr);
  EXPECT_GT(graded, 61 + 44);
  EXPECT_LT(graded, 61 + 60);
  // A spacing that puts a node a hair short of the bottom (in the even zone,
  // Rt in its last interval, or in the graded one) leaves no sliver there.
  double r[1000];
  for (const double Rt : {7.199, 6.6})
    for (const double shortBy : {1e-12, 1e-8, 1e-6, 3e-5}) {
      const double h0 = (1.2 - shortBy) / 200;
      const int n = GradedNodes(6.0, 7.2, Rt, h0, 1000, r);
      ASSERT_GT(n, 2);
      EXPECT_EQ(r[n], 7.2);
      double shortest = 1;
      for (int i = 2; i <= n; ++i) shortest = std::min(shortest, r[i] - r[i - 1]);
      EXPECT_GE(shortest, 0.01 * h0) << "Rt " << Rt << ", short by " << shortBy;
    }
}

TEST_F(LammGridTest, StretchedTwoZoneGridEndsAtTheBottom) {
  Algorithm(false, true);
  LammSettings().gridSize.inUse = 300;
  ASSERT_TRUE(AllocLammArrays());
  EXPECT_FALSE(StretchTwoZoneGrid(5.0));  // no two-zone grid yet
  const int n = SetTwoZoneGridSize(6.9f);
  LammGrid& g = CurrentLammGrid();
  LammSettings().truncatedGridActive = 1;
  EXPECT_FALSE(StretchTwoZoneGrid(5.0));
  LammSettings().truncatedGridActive = 0;
  ASSERT_TRUE(StretchTwoZoneGrid(5.0));
  EXPECT_NEAR(g.Radius[n], 7.2f, 1e-6);
  for (int i = 2; i <= n; ++i) ASSERT_GT(g.Radius[i], g.Radius[i - 1]) << i;
  // The geometric part: constant ratio of successive spacings.
  const int j = g.stretchNode;
  ASSERT_LT(j + 3, n);
  const double q1 = (g.Radius[j + 2] - g.Radius[j + 1]) / (g.Radius[j + 1] - g.Radius[j]);
  EXPECT_NEAR(q1, g.stretchRatio, 1e-9);
}

TEST_F(LammGridTest, CosoluteArraysAreKeptForTheSameSize) {
  CosoluteArrays& c = CurrentCosoluteArrays();
  c.gridSize = 101;
  ASSERT_TRUE(AllocCosoluteArrays());
  double* block = c.arrays[0];
  c.arrays[3][5] = 1.5;
  ASSERT_TRUE(AllocCosoluteArrays());
  EXPECT_EQ(c.arrays[0], block);
  EXPECT_EQ(c.arrays[3][5], 1.5);
  EXPECT_NEAR(c.arrays[0][51], 6.6, 1e-6);
  EXPECT_EQ(c.arrays[22], nullptr);
  c.gridSize = 51;
  c.secondComponent = true;
  ASSERT_TRUE(AllocCosoluteArrays());
  EXPECT_EQ(c.CosoluteArraysSize, 51);
  EXPECT_NE(c.arrays[35], nullptr);
  FreeCosoluteArrays();
  EXPECT_EQ(c.arrays[0], nullptr);
}

}  // namespace
