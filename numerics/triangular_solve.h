#pragma once
// Small dense kernels of the held-variable step of the maximum entropy
// (1-based arrays, as the normal equations), each in one copy per vector
// kernel and chosen by the active one. Each element is formed by the same
// operations in the same order as the plain loop written beside each
// routine would form it on that kernel, so that blocking changes no bit.
#include <cstddef>

// w_c <- L'^-1 w_c (c < count) for L lower triangular with rows l[1..n]:
// for i = n..1,
//   w_i <- w_i / l_ii,   w_m <- w_m - l_im w_i (m < i, one loop over m).
// Rows go in blocks of eight whose updates reach the elements below the
// block in one pass, kept in registers, instead of one pass per row.
void SolveTransposedLower(double* const* l, int n, double* const* ws, int count);

// y_j = x_j - c_0 v_0,j - c_1 v_1,j - ... - c_{count-1} v_{count-1},j for j in
// [from, to), the terms subtracted in order, each product rounded before
// its subtraction (as `for a: for j: y_j -= c_a v_a,j` forms it); y may be x.
void SubtractTerms(double* y, const double* x, const double* c, const double* const* v,
                   int count, int from, int to);
