#pragma once
// The extent and area of one peak of a distribution c(x) on its grid.
// From the maximum at grid index i each flank is walked outwards while the
// curve falls (a run of equal values only while it stays above f times the
// peak), ending at the first point below 1 % of the peak, at the grid end,
// or at the lowest point before the curve rises again. The area is the
// piecewise-linear integral between the two ends (IntegrateDistribution).

// Grid indices of the two ends (1-based). Not accepted (lo = hi = 0) when i
// lies within two points of a grid end or c[i] does not exceed c[i - 1].
struct PeakBounds {
  int lo = 0, hi = 0;
  bool accepted = false;
};
// The walk over c[1..n]; f is the shoulder factor (0.9 for every caller).
// A peak value of 0 gives lo = hi = i.
PeakBounds WalkPeakFlanks(const float* c, int n, int i, float f);

// One peak of the current distribution: its range on the distribution's own
// axis (s in S, or M for the c(M) family), the range's grid indices (0 when
// the index was rejected), the signal in the range, its signal-weighted
// average abscissa and its share of the whole distribution (0 when the
// whole integral is not positive).
struct PeakArea {
  float sLo = 0, sHi = 0;
  int iLo = 0, iHi = 0;
  float sw = 0;
  float area = 0;
  float fraction = 0;
};
PeakArea IntegratePeakAt(int i, float f = 0.9f);
