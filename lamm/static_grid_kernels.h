#pragma once
// The scans of the concentration profile that the static-grid step loop runs
// for every node of every step, four nodes at once on a vector kernel.
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
