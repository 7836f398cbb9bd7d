#pragma once
#include <cstddef>
#include <vector>

// Downhill-simplex minimisation of a target function over a simplex of n + 1
// vertices p[1..n+1][1..n] with values y[1..n+1]. Used by the fit driver, the
// continuous-model fits, the equilibrium fit and the error analysis.
class FitHost;

// A target maps a one-based vector to a value (an rmsd), leaves the model in
// the state of that vector and returns 1e10 once a stop has been requested.
using FitTarget = float (*)(float* v, FitHost* host);

// Moves the simplex downhill until the relative spread of the values
// 2|y_hi - y_lo| / (|y_lo| + |y_hi|) falls below ftol (vertex 1 is then the
// best), a stop is requested, the simplex collapses, or 5000 evaluations
// (counted in *nfunk) have been spent. All n + 1 values must be evaluated
// before the call. With a host the best vertex is shown after each iteration.
// With `seen` (the points the target has evaluated, kept by the caller), the
// minimum of a quadratic through them is tried as a vertex now and then
// (QuadraticModelMinimum) and kept when it is lower than the best vertex.
// With stall > 0 the run also ends (vertex 1 the best) once stall
// evaluations in a row have not lowered the best value by more than ftol
// relative: on an objective rough at the tolerance a simplex around a
// minimum it cannot improve shrinks without end towards the roughness.
// A run that reaches kMaxNelderMeadEvaluations says so ("Nelder-Mead not
// converged", error code 10 in a serial fit) unless reportLimit is false:
// a caller that ends its whole fit there names that end itself.
struct EvaluatedPoints;
constexpr int kMaxNelderMeadEvaluations = 5000;
void NelderMeadMinimize(FitHost* host, float** p, float* y, int n, float ftol, FitTarget target,
                        int* nfunk, const EvaluatedPoints* seen = nullptr, int stall = 0, bool reportLimit = true);

// Evaluates a fresh simplex p[1..n+1], the starting point p[1] first, and
// returns its lowest vertex (LowestVertex). A fit stopped at once has then
// evaluated the point it started from, and a target cut short by the stop
// (1e10) is never lower than it: the fit keeps the state it started from,
// the one point whose misfit is known to be no worse.
int EvaluateSimplexFromStart(FitHost* host, float** p, float* y, int n, FitTarget target);
// The lowest of y[1..n+1], ties to the earlier vertex.
int LowestVertex(const float* y, int n);

// Relative spread of the vertex values at which the fits' minimisations end,
// a few roundings of a float above 0. A looser spread ends a run wherever
// a simplex of the starting size (1 %) sees values that close: on a flat
// stretch or along a valley, far from the minimum; the restart then starts
// where it ended and ends at once, and the fit stops on the slope.
constexpr float kFitSimplexTolerance = 1e-5f;

// The restarts around the best vertex end when one of them no longer moves
// the rmsd or any parameter; a fit pinned against a limit, or an objective
// too rough to settle, is ended after this many and keeps its best vertex.
constexpr int kMaxNelderMeadRestarts = 50;
// Tells that the restarts ran out without settling (error code 10 in a
// serial fit, a message otherwise).
void ReportRestartsExhausted(FitHost* host);
// Set when ReportRestartsExhausted told that end; a caller that goes on
// from ends clears it before each run it makes.
bool& SimplexRanOutOfRestarts();
// Tells, likewise, that the fit's simplex runs spent their
// kMaxNelderMeadEvaluations without settling.
void ReportSimplexEvaluationsExhausted(FitHost* host);

// Each minimiser keeps to its own cap: a Nelder-Mead run to 5000
// evaluations, an annealing step to its iterations, Marquardt-Levenberg to
// mlMaxIterations, the restarts to kMaxNelderMeadRestarts; a finishing pass
// is a minimiser of its own. Their product (restarts x runs, Marquardt
// iterations x derivatives) is bounded, but on a model whose evaluation
// grows slow where a trial step leads (a species hard to solve) it could
// take hours. So one Fit as a whole starts no evaluation once it has run
// for kMaxFitSeconds (an evaluation may take minutes where a trial step
// makes the species hard to solve): the evaluation after that is refused
// like a stopped one, the fit ends with the best state it found and says
// that it did not settle (error code 10 in a serial fit). A count of the
// whole fit's evaluations would cut what its minimisers do at their own
// defaults (annealing's 10 x 500 iterations and its finishing pass), so
// the evaluations are only counted (fitEvaluations), not capped. The
// evaluation of the result at the end is not counted. The bound is held in
// the engine's maxFitSeconds (fit/fit_engine_state.h).
// Marks one Fit for as long as it lives: the outermost scope starts the
// clock and the count, nested ones (a finishing pass) share them; when the
// outermost ends after the bound was reached, it tells so
// (ReportFitBudgetSpent). The Fit draws its random numbers from its own
// stream, started afresh by the outermost scope (BeginFitDraws).
class FitBudgetScope {
 public:
  explicit FitBudgetScope(FitHost* host);
  ~FitBudgetScope();
  FitBudgetScope(const FitBudgetScope&) = delete;
  FitBudgetScope& operator=(const FitBudgetScope&) = delete;

 private:
  FitHost* host_;
};
// Asked by a target before it evaluates: true while the fit may evaluate
// (always outside a Fit and in its ending, when fitRunning is off). The
// first refusal marks the budget spent and raises the fit's stop.
bool FitEvaluationAllowed();
// The stop the drivers see came from the budget, not from the user: the
// fit ends as a settled one would (its result evaluated, no interruption
// passed on), only said not to have settled.
bool FitStoppedByBudget();
void ReportFitBudgetSpent(FitHost* host);
// Asked by a target once its model is computed, with whether a poll cut
// the computation short: when the fit's time ran out during the evaluation
// the budget is spent and the fit stopped (as by FitEvaluationAllowed), and
// true is returned if the evaluation was cut short, so that it counts for
// nothing. One computed whole keeps its misfit: it may be the best point
// the fit has seen, which the fit then ends at. Disarms the deadline the
// evaluation was allowed with.
bool FitEvaluationOutOfTime(bool cutShort);

// Reflection (fac -1), expansion (2) or contraction (0.5) of the worst vertex
// ihi through the centroid of the others; replaces it when strictly better.
float TryNelderMeadPoint(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target,
                         int ihi, float fac);

// The best vertex ilo (ties to the later one), the worst ihi and the next
// worst inhi of y[1..n+1].
void RankSimplex(const float* y, int n, int* ilo, int* ihi, int* inhi);
// Every vertex but ilo moved halfway towards it and evaluated; psum anew.
void ShrinkSimplex(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target, int ilo);
// Every vertex within a relative 2e-6 of vertex ilo in every coordinate
// (absolute where that coordinate is 0).
bool SimplexCollapsed(float** p, int n, int ilo);
// One move of the worst vertex: reflection, then expansion when it became
// the best, or contraction when it is still at least the next worst, and a
// shrink of all towards ilo when that failed too. Returns the evaluations
// as the minimiser counts them (2, 1 for a plain reflection, 2 + n after a
// shrink).
int MoveSimplex(FitHost* host, float** p, float* y, float* psum, int n, FitTarget target, int ilo, int ihi,
                int inhi);

// psum[j] = sum over the n + 1 vertices of p[i][j], j = 1..n.
void ComputePsum(float** p, int n, float* psum);
// 2|hi - lo| / (|lo| + |hi|); two exact zeros count as converged (0).
float RelativeSpread(float lo, float hi);

// Fills vertices 2..n+1 around vertex 1 with Gaussian perturbations of
// relative width initialRandomization and the per-parameter rules of the
// floated model parameters (limits of meniscus and bottom, non-negative
// amplitudes, fractions in [0, 1]). With heldScale (one-based, may be null),
// a coordinate j with heldScale[j] > 0 is one the evaluation holds at 0 from
// below: it is drawn with at least the spread r max(|x|, heldScale[j]) and
// mirrored at 0 onto the allowed side. With spread (one-based, may be null),
// coordinate j is drawn with the absolute width spread[j] instead (a
// restart's learnt size, LearntStep), limits and clamps as above.
void MakeInitialSimplex(int n, float** p, const float* heldScale = nullptr, const float* spread = nullptr);

// extent[j] = max over the vertices of |p[i][j] - p[best][j]|, j = 1..n: the
// size per coordinate the simplex had when its run ended.
void SimplexExtents(float** p, int n, int best, float* extent);

// A restart starts with a simplex of the size the run before it ended with,
// scaled to where its values would agree to kFitSimplexTolerance (the run
// before ended at the relative spread endSpread of its values; near a
// minimum they differ by the square of the size) and widened by
// kLearntSpreadFactor: it sees the slope around the best vertex at the scale
// the fit must resolve, and one with nothing more to gain ends after a few
// steps instead of shrinking from the starting 1 % again. A coordinate whose
// simplex had collapsed keeps kLearntSpreadFloor of the starting spread, so
// that the restart can still move it.
constexpr float kLearntSpreadFactor = 2.0f;
constexpr float kLearntSpreadFloor = 1e-3f;
// The width a restart draws coordinate x (now at `at`) with, from its extent
// at the end of the run before.
float LearntSpread(float extent, float at, float endSpread);
// A Gaussian step of the given width, at least half the width long: a
// restart's vertex drawn next to the best one would make a simplex whose
// values agree at once, and the restart would end without a step.
float LearntStep(float width);
// The relative spread of the values y[1..n+1] of a simplex.
float EndSpread(const float* y, int n);

// The points a fit has evaluated, n coordinates each, with their values.
struct EvaluatedPoints {
  int n = 0;
  std::vector<float> x;  // point k at x[k n .. k n + n - 1]
  std::vector<float> y;
  void Add(const float* p, float value);  // p one-based
  int Count() const { return static_cast<int>(y.size()); }
};

// The minimum of a quadratic fitted by least squares to the squared values
// of the 2 (n + 1)(n + 2) / 2 lowest points (fewer when fewer were seen, at
// least (n + 1)(n + 2) / 2 + n): a sum of squares is close to quadratic over
// a wider range than its root. Coordinates are scaled by how far the points
// lie from the lowest one, and the step from it is at most twice that far.
// False when there are too few points, when they do not determine the
// quadratic, or when it has no minimum (n above kQuadraticModelMaxN too);
// otherwise `trial` (one-based) holds the minimum and `predictedDrop` the
// relative fall of the value from the lowest point the model expects there.
constexpr int kQuadraticModelMaxN = 6;
// The curvature the quadratic found: near its minimum the value changes
// relatively by u^T hessian u / 2 for a step of u[j] scale[j] in coordinate j.
struct QuadraticCurvature {
  std::vector<double> scale, hessian;  // zero-based; hessian n x n, row major
};
bool QuadraticModelMinimum(const EvaluatedPoints& points, float* trial, float* predictedDrop,
                           QuadraticCurvature* curvature = nullptr);

// Vertices i = 2..n+1 of a simplex around vertex 1 placed along the principal
// axes of the curvature, each where the value rises by `rise` (relative):
// a simplex shaped like the valley it sits in, long along its floor and
// narrow across it, whose values differ by about the spread a run ends at.
// No axis is longer than twice the scale the curvature was fitted over.
void ShapeSimplex(const QuadraticCurvature& curvature, int n, float** p, float rise);

// The Levenberg-Marquardt step d of a sum of squares with Gauss-Newton matrix
// a = J^T J (n x n, row major) and gradient g = J^T r: (a + lambda diag a) d
// = -g over the coordinates with free[j], d[j] = 0 for the others (a
// parameter held at a limit). False when that system is not positive
// definite; d is then all 0.
bool DampedGaussNewtonStep(const std::vector<double>& a, const std::vector<double>& g, int n, double lambda,
                           const std::vector<char>& free, std::vector<double>& d);

// Broyden's update of the Jacobian jac (m x n, row major) of residuals over
// a step `step` (n) that changed them from `before` to `after` (m each): the
// smallest change, measured in the units unit[j] of coordinate j, after
// which jac maps the step onto the change it made; a direction orthogonal
// to the step in those units maps as before. False (jac unchanged) for a
// step of length 0.
bool BroydenUpdate(std::vector<double>& jac, std::size_t m, int n, const std::vector<double>& step,
                   const std::vector<double>& unit, const std::vector<float>& before, const std::vector<float>& after);
