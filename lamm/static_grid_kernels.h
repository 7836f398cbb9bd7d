#pragma once
// The scans of the concentration profile that the static-grid step loop runs
// for every node of every step, four nodes at once on a vector kernel; and
// the right side of the moving frame's period steps.
// Maxima keep the scalar rule acc = acc < v ? v : acc, so a NaN never enters
// and every kernel gives the result of a plain loop over the nodes.

// Largest of acc and c_i over i = from..to.
double LargestValue(const double* c, int from, int to, double acc);

// True when every c_i, i = from..to, lies strictly within +-1e100 (NaN does not).
bool AllWithinRange(const double* c, int from, int to);

// Largest of acc and the relative changes |c_i - p_i| / q over i = from..to
// (p the profile before the step, p_{to+1} must exist): q = p_i above the
// floor; below it, for a rise above the floor, the first of p_{i+1}, p_{i-1}
// above the floor; else the node does not count.
double LargestChange(const double* c, const double* p, int from, int to, double floor,
                     double acc);

// g_i = (lo_i c_{i-1} + di_i c_i + up_i c_{i+1}) piv_i for i = from..to
// (c_{from-1} and c_{to+1} must exist): the right side of a moving-frame
// period step over its pivots, the same floats on every kernel as the plain
// loop, the products and sums in this order and none fused.
void PeriodRightSides(const double* lo, const double* di, const double* up, const double* c, const double* piv,
                      double* g, int from, int to);
