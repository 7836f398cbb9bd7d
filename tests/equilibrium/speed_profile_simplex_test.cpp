// The starting simplex of the rotor-speed searches: vertex 1 is the start,
// the others scatter around it, and no first parameter lies below the floor
// where the search requires it.
#include <gtest/gtest.h>

#include <cmath>

#include "equilibrium/planning/speed_profile_optimizer.h"
#include "numerics/arrays.h"
#include "numerics/random.h"

namespace {

TEST(SpeedProfileSimplex, TheFloorHoldsForEveryVertexTheSearchRaises) {
  struct Case {
    const char* name;
    float x[4];  // [1..3] used
    bool raiseFirst;
    float wantFirst;  // first parameter of vertex 1
  } cases[] = {
      {"annealing, start below the floor", {0, 0.05f, 0.0f, 2.0f}, true, kLowestFirstParameter},
      {"annealing, start above the floor", {0, 0.7f, 1.0f, 1.0f}, true, 0.7f},
      {"restarts keep the start as it is", {0, 0.05f, 0.0f, 2.0f}, false, 0.05f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeedRandomGenerators(11);
    const int n = 3;
    FloatMat simplex(1, n + 1, 1, n);
    float** p = simplex;
    ScatterSpeedProfileSimplex(p, c.x, n, c.raiseFirst);
    EXPECT_EQ(p[1][1], c.wantFirst);
    for (int j = 2; j <= n; ++j) EXPECT_EQ(p[1][j], c.x[j]);
    for (int i = 2; i <= n + 1; ++i) EXPECT_GE(p[i][1], kLowestFirstParameter) << "vertex " << i;
    // A parameter of 0 still spreads (by the absolute deviate).
    bool spread = false;
    for (int i = 2; i <= n + 1; ++i) spread = spread || p[i][2] != c.x[2];
    EXPECT_TRUE(spread);
  }
}

}  // namespace
