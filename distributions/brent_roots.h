#pragma once
// Root finders of the distributions (regularisation scaling, discrete
// species on the grid, hydrodynamic inversions): BrentRoot (the one
// algorithm, numerics/brent_root.h) with the failures reported as the run's
// messages or serial-fit error codes. A root not found in 200 steps is
// "Maximum number of iterations exceeded in zbrent" (code 4) and 0. The
// statistics' own wrapper, statzbrent, reports in boxes of its own.
#include <functional>

// Single precision; an unbracketed start is widened by doubling x2 up to
// ten times, and one still unbracketed is reported by what is being solved
// (the regularisation's chi-square, the worm-like chain's M(s); code 3).
float zbrent(const std::function<float(float)>& f, float x1, float x2, float tol);
// Double precision, no widening: an unbracketed start is "too many
// iterations finding root" (code 5), and the search goes on from it.
double zbrentRoot(const std::function<double(double)>& f, double x1, double x2, double tol);
