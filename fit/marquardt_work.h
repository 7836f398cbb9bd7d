#pragma once
// What the files of the Marquardt-Levenberg fit share (fit/marquardt.cpp:
// the iteration; fit/marquardt_ends.cpp: how an end is judged;
// fit/marquardt_run.cpp: a whole run): the work arrays and the helpers
// over them. Parameters a are in normalised units, one-based.
#include <vector>

#include "fit/fit_engine_state.h"

class FitHost;

namespace marquardt_work {

MarquardtWorkArrays& Work();
// Parameters a into the float vector of model units (the work arrays').
float* ToModelUnits(const double* a, int n);
// The normalised value of entry j that the target left in the model-unit
// vector (a point beyond a limit reads as the limit).
double TakenValue(const double* a, int j);
// A target's value for a trial it could compute.
bool Scored(float value);
bool AllFinite(double** m, const double* v, int n);
// Inverse of the symmetric matrix m, column by column.
void Invert(double** m, double** result, int n);
// Evaluates the fit's result at the last point of `trail` whose model can
// be computed again; true when it went back.
bool EndAtComputedPoint(FitHost* host, double* a, int n, std::vector<std::vector<double>>& trail);
// The damped step into w.delta; false when alpha or beta are not finite.
bool SolveDampedStep(double lambda, int n);
// No fitted entry of the step in w.delta moves by more than mlNegligibleStep.
bool StepNegligible(const double* a, const int* flags, int n);
// The step in w.delta lowers chi-square by at least one unit.
bool StepLowersByAUnit(int n);
// The linearised misfit lies within a unit of chi-square of its minimum.
bool WithinUnitOfMinimum(int n);
// A sum of squares at which the fit is exact as far as its model can be computed.
bool ExactFitChiSquare(double chisq);
// The sum of squares of the model the last evaluation left, over the fit limits.
double ModelSumOfSquares();
// Keeps the point of an evaluation just made when it is the lowest yet.
void NoteEvaluatedPoint(const double* point, int n);
// The entries whose own curvature puts chi-square less than
// kStalledChiSquare above its value a move of kStalledMove away.
std::vector<int> EntriesTheCurvatureLeavesOpen(const double* a, const float* unit, int n, double chisq,
                                               const std::vector<double>* perSignal = nullptr);

}  // namespace marquardt_work
