#pragma once
// Nonlinear fit of the continuous-distribution models: meniscus, bottom,
// f/f0 and the other nonlinear parameters are varied by the fit engine's
// minimisers (Nelder-Mead restarts, simulated annealing, Marquardt-
// Levenberg); every trial set is evaluated by one complete c(s) computation
// whose linear amplitudes come from the non-negative least-squares solve,
//   rmsd = sqrt( sum_{j,r} (y_jr - model_jr)^2 / (scans x fit-range points) ),
// unregularised during the iterations and regularised at the final point.
class FitHost;

// The Fit command for a continuous model. 1 when a fit ran to its end or
// was interrupted, or nothing floats; 0 when the set-up checks fail.
int ContiFit(FitHost* host);
// Marquardt-Levenberg: 1 on a normal end, an end by the whole fit's bound
// or nothing floated; 0 on an interruption, an error or arrays that could
// not be had.
int MLContiFit(FitHost* host);
// Simulated annealing with the optional finishing fit: 1, or 0 when the
// set-up checks fail.
int ContiSimulatedAnnealingFit(FitHost* host);

// One evaluation: unpacks p[1..n] into the model, computes the distribution
// and returns the rmsd; 1e10 without any work while a stop is requested.
float ContiSimplexSim(float* p, FitHost* host);

// The end of the Nelder-Mead restarts: neither the rmsd (r before, y now)
// nor any parameter (q before, p now, 1-based) moved by more than tol
// relative to the magnitude of its previous value; a parameter that was 0
// is judged by its magnitude now.
bool ContiRestartsConverged(const float* q, const float* p, int n, float r, float y, float tol);
