#pragma once
// Maximum-entropy regularisation at a confidence level P. For a parameter
// alpha the amplitudes x >= 0 minimise
//   Q(x) = chi2(x) - alpha * S(x),
//   chi2(x) = S_yy - 2 x'b + x'Ax            (normal equations),
//   S(x) = sum (x_i - m_i - x_i ln(x_i/m_i)) (prior m), or -sum x_i ln(x_i/m)
// by a Levenberg-Marquardt iteration with active-set handling of x >= 0;
// ln alpha is varied until chi2/chi0 reaches the target ratio F.
#include <functional>
#include <vector>

struct MaxEntState {
  double chiSquareReference = 0.0;
  double chiSquareCurrent = 0.0;
  float trace = 0.0f;
  double scale = 0.0;          // trace / (6n - 12)
  double amplitudeSum = 0.0;   // of the unregularised solution
  double amplitudeMean = 0.0;
  float nu1 = 0.0f, nu2 = 0.0f;
  double targetRatio = 0.0;    // F
  double tolerance = 0.0;      // t = (F - 1) * 0.001
  float finalLnAlpha = 0.0f;
  int iterationTotal = 0;
  double alpha = 0.0;          // applied alpha
  double entropy = 0.0;
  double objective = 0.0;      // Q of the last accepted point
  double lambda = -1.0;        // Marquardt parameter
  bool priorInUse = false;
  bool leadingTerm = false;    // coefficient 1 stays out of the entropy
  bool pinnedSwitch = false;
  int n = 0;
  std::vector<double> best, previous, work, trial, step, prior;
  std::vector<int> freeFlags, pinned;
  // Holding variables at their bound inside one Marquardt step: the step
  // before any was held; the columns A^-1 e_k by k, with flags for those
  // formed in this step and the batch being formed; the Cholesky factor of
  // the held ones' block of A^-1 (and its transpose), the two halves of
  // its solve for their multipliers, and their indices in order; the
  // variables that may be held (ascending), their steps as followed from
  // hold to hold and the size of their terms, and the held ones' columns of
  // A^-1 and of its part orthogonal to the columns before at them, in order
  // of holding.
  std::vector<double> freeStep, unitColumns, heldFactor, heldFactorTransposed;
  std::vector<double> heldForward, heldMultipliers, candidateStep, candidateScale;
  std::vector<double> candidateColumns, candidateOrthogonal;
  std::vector<int> heldOrder, candidates, unitBatch;
  // The general step's order of the variables: those that may not be held,
  // then the candidates (each in ascending order), and each variable's
  // place in it; the rows of the candidates' block of the factor in that
  // order, and the right-hand side and solution in it.
  std::vector<int> stepOrder, stepPlace;
  std::vector<double*> candidateRows;
  std::vector<double> orderedRhs, orderedStep;
  int fixedCount = 0;  // variables before the candidates in stepOrder
  std::vector<char> unitReady;
  std::vector<double*> unitBatchColumns;
  std::vector<const double*> termColumns;  // the columns a sum of terms takes, in order
  int candidateCount = 0, holdCount = 0;
  int firstFreeCandidate = 0;  // candidates before it are all held
  bool multipliersCurrent = true, holdsConditioned = true;
  // The step solved apart from the variables at their bound whose entropy
  // curvature decouples them: the others' system (rows, factor, right-hand
  // side, solution) and their indices; the largest diagonal of the normal
  // matrix measures the coupling. The system's elements below the diagonal
  // are those of the apartGathered variables apartGatheredIndex[1..] (none
  // when 0).
  std::vector<double> apartMatrix, apartFactor, apartRhs, apartSolution;
  std::vector<double*> apartRows, apartFactorRows;
  std::vector<int> apartIndex, apartHeld, decoupled, apartGatheredIndex;
  int apartGathered = 0;
  bool coupledHolds = false;  // a step of this regularisation had to hold a coupled variable
  // The curvature's diagonal at the current point and at the trial point
  // (off the diagonal it is the normal matrix).
  std::vector<double> curvatureDiagonal, trialDiagonal;
  double normalDiagonalMax = 0.0;
};

MaxEntState& MaxEnt();

// The driver: leaves the regularised amplitudes in the block's solution.
void RegularizeDistribution();

// ln alpha' -> chi2/chi0 - F for the maximum-entropy solution.
double MaxEntChiSquareDeviation(double u);
double MaxEntAlphaSearch(const std::function<double(double)>& f, double x0, double s0,
                         double t, double smin);
void MaxEntSolve(double alpha);
void MaxEntIterate();
