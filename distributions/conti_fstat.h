#pragma once
// F statistics used to turn a confidence level into a chi-square ratio.
// Kept private to the distributions until the shared statistics routines
// are available.

namespace conti {

// Upper-tail probability Q(x; nu1, nu2) of the F distribution:
// I_{nu2/(nu2 + nu1 x)}(nu2/2, nu1/2). 0 for nu1 <= 0.
double FDistributionProbability(double x, double nu1, double nu2);

// The F ratio whose cumulative probability 1 - Q equals P. The bracket
// starts at [1, 2] and widens as needed, so ratios above 2 (few degrees of
// freedom) and below 1 (P < 0.5) are found as well.
double FRatioForConfidence(double p, double nu1, double nu2);

}  // namespace conti
