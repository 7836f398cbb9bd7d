#pragma once
// Simulated annealing: a downhill simplex whose vertex values receive random
// thermal fluctuations T * y_best * |ln u| that shrink over a fixed schedule
// T_k = T0 (1 - k / (N - 1))^2, k = 0..N-1; the best point ever evaluated is
// kept apart from the simplex. Optional Marquardt-Levenberg or Nelder-Mead
// refinement afterwards.
#include "fit/nelder_mead.h"

class FitHost;

// Temperature of step k of an N-step schedule starting at t0. A one-step
// schedule runs its step at t0.
float AnnealingTemperature(int k, int steps, float t0);

// 1 when done or nothing floated, 0 when refused. finishingPass is the
// driver's own fit, run from the best point found unless the user stopped
// or no finishing refinement is chosen; the driver passes it in because it
// dispatches to this schedule itself.
int SimulatedAnnealingFit(FitHost* host, int (*finishingPass)(FitHost* host));

// One annealing run at temperature t; *iter is the remaining evaluation
// budget (negative when used up).
void AnnealingSimplexStep(float t, FitHost* host, float** p, float* y, int n, float* pb, float* yb, float ftol,
                          FitTarget target, int* iter);

// The whole schedule: ran1 restarted from seed -3, then annealSteps runs of
// at most annealIterations evaluations each at the temperatures falling from
// t0, until one run converges within its budget or a stop is requested. The
// best point found stays in pb, *yb.
// With `pointAlone` (a target whose misfit, and the point it takes within
// its limits, follow from the point it is given alone, bit for bit), a
// point the schedule asks for again is not evaluated again: it gets the
// point and misfit of its first evaluation. A simplex pressed into a corner
// of its limits asks for the same few points hundreds of times.
// `take`, where given, writes into a point the point the target would take
// within its limits, without evaluating it; the misfit then follows from
// the point taken alone: points asked beyond a limit that the target takes
// to one point evaluated before are not evaluated again either. Such a
// simplex asks beyond its limits ever anew.
// `stallPoints`, where given (the degrees of freedom of the misfit, an
// rmsd: its points less the quantities fitted), ends the schedule after two
// steps running that each lowered the best by less than one unit of
// chi-square, the noise the best sum of squares over those degrees: see
// SimulatedAnnealingFit for where it applies.
using FitPointTaker = void (*)(float* v, FitHost* host);
void RunAnnealingSchedule(FitHost* host, float** p, float* y, int n, float* pb, float* yb, float ftol,
                          FitTarget target, float t0, bool pointAlone = false, FitPointTaker take = nullptr,
                          double stallPoints = 0.0);

// The vertices ranked by their values with a thermal fluctuation -tt ln(u)
// added (tt <= 0): lowest ilo, highest ihi, and the fluctuated values
// ylo, ynhi (next highest) and yhi.
void RankFluctuatedSimplex(const float* y, int n, float tt, int* ilo, int* ihi, float* ylo, float* ynhi,
                           float* yhi);
// One annealing move of vertex ihi (reflection, expansion or contraction,
// shrink towards ilo); returns the evaluations it spent from the budget
// (1 for a plain reflection, 2, or 2 + n after a shrink).
int MoveAnnealingSimplex(float tt, FitHost* host, float** p, float* y, float* psum, int n, float* pb, float* yb,
                         FitTarget target, int ilo, int ihi, float ylo, float ynhi, float* yhi);

// Trial step of the annealing simplex; returns the fluctuated trial value.
float TryAnnealingPoint(float tt, FitHost* host, float** p, float* y, float* psum, int n, float* pb, float* yb,
                        FitTarget target, int ihi, float* yhi, float fac);

