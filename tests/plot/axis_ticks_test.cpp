#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "plot/cwinplot.h"

namespace {

std::vector<float> Ticks(int major, float lo, float hi, int logTicks = 0) {
  CWINPlot plot;
  AxisLogTicks = logTicks;
  CVector* v = nullptr;
  plot.DrawAxis(major, lo, hi, &v);
  AxisLogTicks = 0;
  std::unique_ptr<CVector> owned(v);
  EXPECT_NE(v, nullptr);
  return v ? std::vector<float>(v->data, v->data + v->count) : std::vector<float>{};
}

void ExpectNear(const std::vector<float>& got, const std::vector<float>& want, float tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "tick " << i;
}

}  // namespace

TEST(AxisTicks, ZeroToTenHalvesTheStepForThreeMajors) {
  ExpectNear(Ticks(1, 0, 10), {0, 5, 10}, 1e-6f);
  std::vector<float> minors;
  for (int i = 0; i <= 10; ++i) minors.push_back(static_cast<float>(i));
  ExpectNear(Ticks(0, 0, 10), minors, 1e-5f);
}

TEST(AxisTicks, OffGridRangeStartsAtTheNextGridValue) {
  ExpectNear(Ticks(1, 0.13f, 0.87f), {0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f}, 1e-6f);
  auto minors = Ticks(0, 0.13f, 0.87f);
  ASSERT_EQ(minors.size(), 37u);
  EXPECT_NEAR(minors.front(), 0.14f, 1e-6f);
  EXPECT_NEAR(minors.back(), 0.14f + 36 * 0.02f, 1e-5f);
  // Whole decades that start on the grid keep lo as the first tick.
  EXPECT_EQ(Ticks(1, 2.0f, 9.0f).front(), 2.0f);
}

TEST(AxisTicks, LogarithmicMinorTicks) {
  ExpectNear(Ticks(1, -0.5f, 2.5f, 1), {0, 1, 2}, 1e-6f);
  auto minors = Ticks(0, -0.5f, 2.5f, 1);
  std::vector<float> want;
  for (int j = 9; j >= 4; --j) want.push_back(std::log10(static_cast<float>(j)) - 1);
  for (int d = 0; d < 2; ++d)
    for (int j = 2; j <= 9; ++j) want.push_back(d + std::log10(static_cast<float>(j)));
  want.push_back(2 + std::log10(2.0f));
  want.push_back(2 + std::log10(3.0f));
  ExpectNear(minors, want, 1e-5f);
}

TEST(AxisTicks, DegenerateRangesGiveNoTicks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float lo, hi;
  } cases[] = {{3, 3}, {0, 1e31f}, {-1e31f, 0}, {nan, 1}, {0, nan}, {0, inf}, {-inf, inf}};
  for (const auto& c : cases)
    for (int major : {0, 1})
      for (int log : {0, 1}) EXPECT_TRUE(Ticks(major, c.lo, c.hi, log).empty()) << c.lo << " " << c.hi;
}

TEST(AxisTicks, HugeTickCountsAreCapped) {
  // A tiny step over a wide range would ask for far more ticks.
  EXPECT_LE(Ticks(0, 0, 1e6f).size(), 10000u);
  EXPECT_TRUE(Ticks(1, 5, 1).empty());  // reversed range: nothing rather than billions
}
