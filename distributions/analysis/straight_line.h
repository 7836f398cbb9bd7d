#pragma once
// Unweighted least-squares line y = a + b x through n points (1-based float
// arrays):
//   D = n Sxx - Sx^2,  a = (Sxx Sy - Sx Sxy) / D,  b = (n Sxy - Sx Sy) / D.
// Fewer than two distinct abscissae leave the slope undefined: the fit then
// gives a = mean of y, b = 0 and returns false.
bool FitStraightLine(float* intercept, float* slope, const float* x, const float* y, int n);
