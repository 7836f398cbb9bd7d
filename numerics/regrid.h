#pragma once
// Moving sampled functions between abscissa grids (one-based arrays, both
// grids ascending) and Neville polynomial interpolation.
//
// The InterpolateOntoGrid family (nNew, xNew, yNew, nOld, xOld, yOld) writes
// yNew by linear interpolation of yOld(xOld), with fixed rules at the ends:
//  - nothing is written when either grid has fewer than 5 points, when the
//    grids do not overlap, or when xNew[5] > xOld[nOld - 4];
//  - left of xOld[1]: the straight line through the first two old points when
//    xNew[1] lies at most one old spacing to the left, else a constant (the
//    mean of yOld[1..10] when nOld >= 11, else yOld[1]);
//  - right of xOld[nOld]: the line through the last two old points when
//    xNew[nNew] lies at most one old spacing to the right, else a constant
//    (the mean of yOld[nOld-9..nOld] when nOld >= 11, else yOld[nOld]).
// The arithmetic is carried out in long double.

// float grid <- float grid
void InterpolateOntoGrid(int nNew, const float* xNew, float* yNew, int nOld, const float* xOld,
                         const float* yOld);
// float grid <- double grid
void InterpolateOntoGridD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                          const double* yOld);
// float grid <- double grid, adding to yNew instead of storing
void InterpolateOntoGridFD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                           const double* yOld);
// double grid <- float grid
void InterpolateOntoGridDF(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                           const float* yOld);
// double grid <- double grid
void InterpolateOntoGridMixed(int nNew, const double* xNew, double* yNew, int nOld,
                              const double* xOld, const double* yOld);
// A solution in the cell, on nodes from the meniscus xOld[1] to the bottom,
// onto scan radii (float <- double): as InterpolateOntoGridD, except that
// radii below the meniscus (compared as float), in the air, get 0. The Add
// form adds as InterpolateOntoGridFD and leaves the air radii unchanged.
// Radii past the bottom keep the end rule (planning grids reach one step
// beyond it and integrate the profile there).
void InterpolateCellProfile(int nNew, const float* xNew, float* yNew, int nOld,
                            const double* xOld, const double* yOld);
void InterpolateCellProfileAdd(int nNew, const float* xNew, float* yNew, int nOld,
                               const double* xOld, const double* yOld);
// double grid <- double grid, inner range only: new points outside
// [xOld[1], xOld[nOld]] keep their values; no count or fifth-point rules.
void InterpolateOntoGridDD(int nNew, const double* xNew, double* yNew, int nOld,
                           const double* xOld, const double* yOld);

// Neville: y = value at x of the polynomial through (xa[i], ya[i]), i = 1..n;
// dy = the last correction, an error estimate. Two equal abscissae are fatal
// ("Error in routine polint").
void polint(float* xa, float* ya, int n, float x, float* y, float* dy);
