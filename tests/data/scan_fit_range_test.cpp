// The fit range of a scan as every exporter and plot reads it.
#include <gtest/gtest.h>

#include "data/scan_set.h"

namespace {

TEST(ScanFitRange, UnsetOrOutOfRangeLimitsFallBackToTheScanEnds) {
  ScanSet s;
  s.points = {0, 100};
  s.firstFitPoint = {0, 0};
  s.lastFitPoint = {0, 0};
  struct Case {
    int first, last, wantFirst, wantLast;
  } cases[] = {
      {10, 90, 10, 90},   // both set
      {0, 0, 1, 100},     // unset: the whole scan
      {-3, 0, 1, 100},    // negative first is no limit
      {5, 140, 5, 100},   // beyond the last point: the last point
      {5, -1, 5, 100},
      {1, 100, 1, 100},
  };
  for (const Case& c : cases) {
    s.firstFitPoint[1] = c.first;
    s.lastFitPoint[1] = c.last;
    int first = -7, last = -7;
    ScanFitRange(s, 1, first, last);
    EXPECT_EQ(first, c.wantFirst) << c.first << " " << c.last;
    EXPECT_EQ(last, c.wantLast) << c.first << " " << c.last;
  }
}

TEST(ScanFitRange, AScanWithoutTablesHasNoPoints) {
  ScanSet s;
  s.points = {0, 50};
  for (int scan : {-1, 2, 7}) {
    int first = -7, last = -7;
    ScanFitRange(s, scan, first, last);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 0);
  }
  // Points known, fit limits not yet sized: the whole scan.
  int first = 0, last = 0;
  ScanFitRange(s, 1, first, last);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 50);
}

}  // namespace
