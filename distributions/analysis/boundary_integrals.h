#pragma once
// Integrals of a distribution given at grid points, read as the piecewise
// linear interpolant of y over x (x ascending, 1-based arrays of n points):
// the trapezoid integral between two limits and its inverse, the abscissa
// at which the running integral from x1 reaches a given area. s in S and
// ls-g*(s) in signal/S in the boundary analyses; any units otherwise.

// Integral of y from a to b; a > b gives minus the integral from b to a.
// Limits are clipped to [x_1, x_n]; 0 when a = b or the range lies outside.
float IntegrateTrapezoid(const float* x, const float* y, float a, float b, int n);

// The x at which the integral from x1 reaches `area`, searched from the
// first grid point not below xStart. Inside the interval [x_i, x_i+1] where
// the area is reached, the density is linear, y(x) = y_i + k (x - x_i), and
//   x = x_i + 2 (A - F) / (y_i + sqrt(y_i^2 + 2 k (A - F)))
// (F the integral up to x_i), which is the quadratic's root written without
// the division by k: a flat interval gives x_i + (A - F)/y_i, and an
// interval without density (y_i = k = 0) gives x_i. x_n when the area is
// never reached.
float InverseCumulativeIntegral(float area, const float* x, const float* y, float x1, float xStart,
                                int n);
