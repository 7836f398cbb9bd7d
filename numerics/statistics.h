#pragma once
// Statistics that judge a fit: the runs test on residual signs, the tail
// probability of the F distribution and the critical F ratio of a
// confidence level, with the special functions they rest on.

// Wald-Wolfowitz runs test over the residual signs data - model of the
// scans order[from..to], each over its points first[s]..last[s] (one-based
// arrays): Z = |R - mu + 0.5| / sigma with mu = 2 n+ n- / N + 1 and
// sigma^2 = 2 n+ n- (2 n+ n- - n+ - n-) / (N^2 (N - 1)). Every scan starts
// a new run. 0 when the test is undefined.
float RunsTestZ(float** data, float** model, int from, int to, int* order, int* first, int* last);

// Q(F; nu1, nu2) = I_x(nu2/2, nu1/2) with x = nu2 / (nu1 F + nu2): the
// probability that a ratio of variances with nu1 and nu2 degrees of
// freedom exceeds F.
double FDistributionProbability(double F, double nu1, double nu2);
// The F with Q(F; nu1, nu2) = 1 - P: the factor by which a fit may be
// worse than the best one at confidence P; NaN (no box) without degrees of
// freedom on either side or outside 0 < P < 1.
double FRatioForConfidence(double P, double nu1, double nu2);
// Q(F; nu1, nu2) - (1 - P) with the values of the last FRatioForConfidence.
double FRatioResidual(double F);

// ln Gamma(x), x > 0 (Lanczos series).
double gammln(double x);
// Regularised incomplete beta function I_x(a, b), 0 <= x <= 1.
double betai(double a, double b, double x);
// Its continued fraction (modified Lentz).
double betacf(double a, double b, double x);
// Brent's root finder on [x1, x2] to tolerance tol.
double statzbrent(double (*f)(double), double x1, double x2, double tol);
