#pragma once
// Levenberg-Marquardt least squares of the model curves against the scan data
// inside the fit limits. Parameters are normalised to start at 1 (entries
// that start at 0 stay unscaled); derivatives are forward differences, each
// a complete model evaluation. One iteration solves
//   (alpha + lambda diag(alpha)) delta = beta,
//   alpha_jk = sum (dy/da_j)(dy/da_k),  beta_j = sum (y_data - y_model) dy/da_j,
// and accepts the step when the sum of squares falls (lambda / 10), else
// rejects it (lambda x 10). The final pass (lambda = 0) inverts alpha in model
// units: the covariance of the fitted parameters for unit weights.
#include <string>
#include <vector>

#include "fit/nelder_mead.h"
#include "fit/fit_end.h"

class FitHost;

// Result of the last completed run, in model units.
struct MarquardtResult {
  std::vector<double> value;                    // [0..n-1]
  std::vector<double> error;                    // sqrt of the covariance diagonal
  std::vector<std::vector<double>> covariance;  // (alpha in model units)^-1
};
const MarquardtResult& LastMarquardtResult();
// Puts back the result of an earlier run: a caller that returns to an
// earlier end keeps that end's covariance with it.
void RestoreMarquardtResult(const MarquardtResult& result);

// The result the work arrays hold after the covariance pass, in model
// units: the values of w.simulation, the covariance and its errors.
MarquardtResult MarquardtResultOfWork(int n);
// The parameter listing of a result at `path` (nothing where it is empty):
// per entry its value, standard error and covariance row. Written whole or
// not at all; a path that cannot be written is said once.
void WriteMarquardtListing(const std::string& path, const MarquardtResult& result);

// How a run is asked to behave.
struct MarquardtOptions {
  // Whether the run writes its parameter listing (the host's
  // MarquardtListingPath): off while another method's end is checked by it,
  // which leaves a listing of the user's own Marquardt fit alone.
  bool writesListing = true;
  // Whether the run goes on with the counters of the fit it is part of (its
  // minimiser runs and evaluations, as the progress line and the report
  // show them) rather than starting its own: on while it checks another
  // method's end, whose counters are the fit's.
  bool continuesCounters = false;
};
// One Marquardt-Levenberg fit from the model's current values; returns its
// result and which of its ends it came to.
FitRunEnd RunMarquardt(FitHost* host, const MarquardtOptions& options = {});
// RunMarquardt's result alone: 1 when done (also when ended by the whole
// fit's bound or nothing floated); 0 when refused, stopped or failed.
int MLOptimize(FitHost* host);
// One iteration (lambda < 0 initialises, lambda = 0 is the covariance pass).
// The target evaluates the model for a vector in model units and fills the
// scans' model arrays (SimplexSim when null; the continuous distributions
// pass their own).
void mlmin(FitHost* host, double* a, int* flags, int n, double* chisq, double* lambda,
           FitTarget target = nullptr);
// Derivatives, alpha, beta and the sum of squares at a (normalised units).
void mlcof(FitHost* host, double* a, int* flags, int n, double** alpha, double* beta, double* chisq,
           FitTarget target = nullptr);
int AllocMarquardtArrays(int n);
// A fit stopped between its accepted points (by a key or by its time bound)
// ends at the lowest point its evaluations have given when that is below
// the sum of squares of the last accepted one: a trial or a derivative's
// probe may have been better. True when a moved there.
bool TakeBestPointSeen(double* a, int n, double acceptedChiSquare);
void FreeMarquardtArrays();
// Normalised units into model units: v[j] *= scale[j] where scale[j] != 0.
void ScaleFitParameters(float* v, int n);

// The damping a run starts with.
constexpr double kMarquardtStartLambda = 0.01;
// After mlmin found the step at lambda negligible (or an accepted step's
// fall small): true when the rejections before it raised lambda above its
// start and the step at the starting damping is not negligible. The end by
// small change is then no minimum: rejected trials shrank the steps.
// Overwrites the scratch step of the work arrays (w.delta, w.covariance).
bool MarquardtStepShrunkByRejections(const double* a, const int* flags, int n, double lambda);
// The fall of the sum of squares the linearised model expects of the step
// at the starting damping from the current point (2 beta.delta -
// delta.alpha.delta); -1 when it cannot be solved for. Overwrites the scratch
// step like MarquardtStepShrunkByRejections.
double MarquardtExpectedFall(int n);
// True when the step at the starting damping from the accepted point
// expects a fall of less than one unit of chi-square (sigma from the rmsd
// there): the point is a minimum as far as the data tell. Leaves the held
// entries as they were (it overwrites only the scratch step).
bool MarquardtAtStatisticalMinimum(int n);

// What a fit does at an end by small change whose step the rejections
// shrank (MarquardtStepShrunkByRejections: every trial from the accepted
// point rejected, the step at the starting damping not negligible).
// Where the only steps the linearised misfit still sees are those of
// quantities the data do not determine (moving one by a tenth of its value
// or start, `unit`, changes chi-square by less than a unit, sigma from the
// rmsd: a species the linear solve gave no loading) and the others lie
// within a unit of chi-square of their minimum: Undetermined, the
// quantities in `open`. Otherwise the derivatives may mislead: a model whose
// values are not smooth at the scale of the derivative steps (a solver whose
// own time steps follow the parameters, as the error control of the
// concentration-dependent solver does) gives derivatives that carry that
// roughness divided by the step, which point nowhere, and every trial along
// them is rejected far from the minimum. So they are formed again with
// steps ten times longer, at most twice in a fit (from the usual 5e-4 of a
// value to 5e-2; the longer steps stay, as the same roughness reaches the
// later points): Retry, with lambda set to start the run again at a. After
// that the point is no minimum the derivatives find: StoppedAway.
enum class MarquardtRejectedEnd { Retry, Undetermined, Reached, StoppedAway };
MarquardtRejectedEnd MarquardtAfterRejectedTrials(const double* a, const float* unit, int n, double chisq,
                                                  double* lambda, std::vector<int>* open);
// At an end the derivatives found (every trial rejected, so that
// MarquardtAfterRejectedTrials saw no way on; or a change too small to go
// on), asks the misfit itself rather than its derivatives: a is moved along
// each quantity's direction of uncertainty (that quantity moved by its standard
// error, the others following as the curvature ties them: the move the
// linearised misfit puts one unit of chi-square above a, sigma from the
// rmsd; at most a tenth of an entry's value or start), both ways, 2n
// evaluations of `target` (SimplexSim when null). Where the misfit is rough
// (a non-negative solve whose active set changes with f/f0 and the
// meniscus) the linearised steps predict falls it never gives, yet the
// point can be its minimum as far as the data tell: when every probe was
// computed and none lowers chi-square by a unit, Reached. When one does,
// Retry: the run starts again there (lambda set; each start is an
// iteration of the fit). When some probe could not be computed,
// StoppedAway: the way on may lie where the model cannot be computed. a
// and *chisq move to the lowest point the probes gave, when it is lower.
MarquardtRejectedEnd MarquardtProbeEnd(FitHost* host, double* a, const float* unit, int n, double* chisq,
                                       double* lambda, FitTarget target = nullptr);
