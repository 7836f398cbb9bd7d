#include "numerics/linear_fit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct LineCase {
  const char* name;
  std::vector<float> x, y;  // 1-based: element 0 unused
  float intercept, slope;
  double residual;
  bool degenerate;
};

TEST(LinearFitWithResidual, RecoversLinesResidualsAndFlatCases) {
  const LineCase cases[] = {
      {"exact line", {0, 1, 2, 3, 4}, {0, 3, 5, 7, 9}, 1.0f, 2.0f, 0.0, false},
      // y = 0, 1, 0, 1 at x = 0..3: slope 0.2, intercept 0.2, residuals
      // -0.2, 0.6, -0.6, 0.2 -> 0.8.
      {"scattered", {0, 0, 1, 2, 3}, {0, 0, 1, 0, 1}, 0.2f, 0.2f, 0.8, false},
      {"two points", {0, 2, 6}, {0, 1, 3}, 0.0f, 0.5f, 0.0, false},
      // Equal x leave the slope undefined: the mean with slope 0.
      {"equal x", {0, 5, 5, 5}, {0, 1, 2, 6}, 3.0f, 0.0f, 14.0, true},
      {"one point", {0, 4}, {0, 7}, 7.0f, 0.0f, 0.0, true},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    float a = -1, b = -1;
    bool flat = !c.degenerate;
    const int n = static_cast<int>(c.x.size()) - 1;
    const double ssr = LinearFitWithResidual(&a, &b, c.x.data(), c.y.data(), n, &flat);
    EXPECT_NEAR(a, c.intercept, 1e-6);
    EXPECT_NEAR(b, c.slope, 1e-6);
    EXPECT_NEAR(ssr, c.residual, 1e-9);
    EXPECT_EQ(flat, c.degenerate);
  }
}

TEST(LinearFitWithResidual, UsesOnlyTheFirstNPoints) {
  const float x[] = {0, 1, 2, 3, 100};
  const float y[] = {0, 1, 2, 3, -50};
  float a = 0, b = 0;
  EXPECT_NEAR(LinearFitWithResidual(&a, &b, x, y, 3), 0.0, 1e-12);
  EXPECT_NEAR(a, 0.0f, 1e-6);
  EXPECT_NEAR(b, 1.0f, 1e-6);
}

}  // namespace
