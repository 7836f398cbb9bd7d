#pragma once
// Root finders of the distributions (regularisation scaling, discrete
// species on the grid, hydrodynamic inversions): Brent's method, with the
// failures reported as the run's messages or serial-fit error codes.
#include <functional>

// Brent's root finder in single precision; widens an unbracketed start by
// doubling x2 up to ten times.
float zbrent(const std::function<float(float)>& f, float x1, float x2, float tol);
// Double-precision twin without widening.
double zbrentRoot(const std::function<double(double)>& f, double x1, double x2, double tol);
