#pragma once
// The numbers behind integrating a range of the displayed distribution that
// the user draws over its plot: the drawn part of the curve, the zoom to a
// range, the integration report, and the error of the weighted-average s
// estimated from the residuals that the range occupies in the scans.
#include <string>
#include <vector>

class CCurve;

// The distribution between two abscissa values as it is drawn: the
// interpolated point at the lower limit (or grid point 1 when the limit lies
// at or below it), the grid points inside, the point at the upper limit (or
// grid point n). x and c are 1-based over 1..n; a and b in either order.
// Empty when the range lies wholly outside the grid or a equals b.
struct RangePolyline {
  std::vector<float> x, y;  // 0-based points
};
RangePolyline IntegrationRangePolyline(const float* x, const float* c, int n, float a, float b);

// The abscissa of the drawn range: the axis the distribution plot shows
// (molar masses for c(M), DLS I(D) and a c(s) shown as c(M), else s).
const float* RangeSelectionAxis();
// The drawn range over the current distribution on that axis; a term at
// grid point 1 that is no part of the distribution is left out.
RangePolyline DistributionRangePolyline(float a, float b);

// The zoom of the distribution plot to x1..x2 (either order): y from 0 to
// the largest value of the curve's points with x1 <= x <= x2.
struct ZoomRange {
  float x1 = 0, x2 = 0, yMax = 0;
};
ZoomRange DistributionZoomRange(const CCurve* curve, float x1, float x2);
// The whole curve: x from its first to its last point, y from 0 to its maximum.
ZoomRange DistributionFullRange(const CCurve* curve);

// Integration of the current distribution over x1..x2 (the lower first);
// y1, y2 are the rectangle's ordinate limits (the c(s,f/f0) report).
struct SelectedRangeIntegral {
  float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  float c = 0;        // signal in the range
  float average = 0;  // signal-weighted average abscissa
  float total = 0;    // signal of the whole distribution (1 when it is 0)
  float sd = 0, mn = 0, mz = 0;
  float Percent() const { return 100.0f * c / total; }
};
SelectedRangeIntegral IntegrateRange(float x1, float x2, float y1, float y2);
// The report text of the distribution kind in use.
std::string SelectedRangeReport(const SelectedRangeIntegral& r);

// Error of sw by the transport method (S): residual transport integrals R
// (signal x cm) and elapsed times t (s) of the scans in time order; each
// consecutive pair with both R > 0 and different times adds
// (R[j+1] - R[j]) / (c (t[j+1] - t[j])). error = |1e13 x mean| (S).
struct SwErrorEstimate {
  int pairs = 0;
  double error = 0;
};
SwErrorEstimate EstimateSwError(const std::vector<double>& R, const std::vector<double>& t, double c);
// The report line: empty unless more than 3 pairs were used.
std::string SwErrorLine(const SwErrorEstimate& e);
