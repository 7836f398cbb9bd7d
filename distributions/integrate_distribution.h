#pragma once
// Integration of a continuous distribution c(x) over a range [lo, hi] of
// its axis, with c piecewise linear between grid points:
//   A   = int c dx,           Mw = int x c dx / A,
//   sd  = sqrt(|int x^2 c dx / A - Mw^2|),
//   Mn  = A / int (c / x) dx, Mz = int x^2 c dx / int x c dx.
// The axis is s (Svedberg) or, for the c(M) family, M (g/mol). The DLS
// models keep log10 values on their grid; in linear units a grid value v
// stands for 10^(v + 7) (I(D)) or 10^(v + 9) (the radius models).

// The raw moments of one integration; sums in double.
struct DistributionMoments {
  double area = 0.0;    // A over [lo, hi]
  double first = 0.0;   // int x c dx
  double second = 0.0;  // int x^2 c dx
  double inverse = 0.0; // int c / x dx
  double total = 0.0;   // A over the whole grid
};

// Piecewise-linear moments of c[first..n] over x[first..n] (one-based),
// clipped to [lo, hi]. `wantSecond` and `wantInverse` add the passes of
// the higher moments; the inverse moment needs lo > 0.
DistributionMoments IntegratePiecewiseLinear(const float* x, const float* c, int first, int n,
                                             double lo, double hi, bool wantSecond,
                                             bool wantInverse);

// The grid that IntegrateDistribution integrates the current distribution
// over: the molar masses of the c(M) family (log10 D of DLS I(D)), else s.
const float* DistributionIntegrationAxis();

// The current distribution of Conti() over its grid: area in [lo, hi], its
// weight-average x and the total area; on request the standard deviation
// (sd) and, when sd, mn and mz are all given, the number- and z-averages.
// For the c(s,f/f0) models it also sets the weight averages of the 2-D
// distribution inside [lo, hi] x the displayed second-axis range.
void IntegrateDistribution(float lo, float hi, float* area, float* mean, float* total,
                           float* sd = nullptr, float* mn = nullptr, float* mz = nullptr);

// The rectangle averages of the c(s,f/f0) distribution alone (first axis in
// [lo, hi], second axis in [r1, r2], axes chosen by the display switches);
// results in the c(s,f/f0) fields of Conti().
void IntegrateDistribution2D(float lo, float hi, float r1, float r2);
