#pragma once
// The rmsd of the fitted points: the figure every fit minimises and the
// report shows. Below the model evaluation, whose nonlinear-detection
// transform takes in the same scans.

// Scans that the rmsd takes in: the range of the time-dependent fits (by
// time order) and the exclusion of the first scan.
struct RmsdScanRange {
  unsigned char rangeOn = 0;
  int first = 1, last = 1;  // positions in time order
  unsigned char firstScanExcluded = 0;
};
extern RmsdScanRange gRmsdScanRange;
// The positions in time order, [first, last], that the rmsd and the
// residual tests of the report take in.
void RmsdScanSpan(int& first, int& last);
// rmsd = sqrt(sum (signal - model)^2 / count) over every fitted point of
// the scans in time order; stored in currentRmsd (count in rmsdPointCount).
// 0 when no scans are loaded.
float CalcRmsd();
// Whether the residuals of the present model are those of a misfit rather
// than of noise: the ratio sum (r[k+1] - r[k])^2 / sum r^2 of neighbouring
// points within each scan taken in (the Durbin-Watson ratio), which is 2 for
// white noise with a standard error of 2 / sqrt(n) over n differences, and
// falls below it where a boundary is left unexplained (the residuals then
// run in long stretches of one sign). True when it lies more than
// `standardErrors` below 2; false over too few points to tell or an exact
// fit.
bool ResidualsRunTogether(double standardErrors);
// The sum of squares the report gives beside the rmsd: rmsd^2 n in double,
// which holds for signals whose squares overflow a float.
double RmsdSquareSum();
// The points between the fit limits of every loaded scan: 0 when none is
// (a fit or Run over them would end at rmsd 0 and call that a result),
// with the sum of their squares and the largest magnitude (in double).
struct FittedData {
  long points = 0;
  double squares = 0.0;
  double largest = 0.0;
};
FittedData FittedDataInsideTheFitLimits();
long PointsInsideTheFitLimits();
