#pragma once
// Non-negative least squares on the normal equations:
//   minimise c'Mc - 2 b'c  subject to c >= 0,
// M = regularizedMatrix, b = rhs of the normal-equation block; the result
// goes to its `solution`. Active-set method (Lawson and Hanson) with the
// passive-set subproblem solved by a Cholesky factor of the passive block.
struct NormalEquationBlock;

// On the module's block over all of its grid points. True when converged
// or when the unconstrained fallback solve succeeded. A solve that cannot go
// on (its iterations spent, a passive block not positive definite) shows
// its box and falls back to the unconstrained solve, except inside a fit's
// trial (an evaluation of a fit other than that of its result): there it
// returns false with the amplitudes 0, shows nothing, and the trial is
// rejected (TakeNNLSTrialFailure).
bool NNLS();
// The same on any block and system size n (n <= the block's grid points).
bool NNLS(NormalEquationBlock& block, int n);
// The same minimum, started from the amplitudes now in `solution`: their
// positive entries, less those whose passive solution is not positive,
// form the first passive set. A system that changed little since (the next
// trial of the regularisation parameter) then needs a few iterations
// instead of one per passive amplitude.
bool NNLSFromSolution();
bool NNLSFromSolution(NormalEquationBlock& block, int n);

// Chi-square of the amplitudes in `solution` from the unregularised normal
// equations: S - 2 c'b + c'Ac over the solved amplitudes (N - 1 with the
// fixed component).
double ChiSquareFromNormalEquations();
double ChiSquareFromNormalEquations(const NormalEquationBlock& block, int n);

// Whether a solve failed inside a fit's trial since the last call; clears it.
bool TakeNNLSTrialFailure();

// The size of the system that the solvers work on for the module's block.
int SolvedAmplitudeCount();
