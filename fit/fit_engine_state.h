#pragma once
// The fit engine's program-wide record: method switches, meniscus and bottom
// limits, the optimiser settings and the working state of a running fit.
// Plain record so that the dialogs, the preference files and the
// continuous-distribution fits can read it without pulling in the engine.

#include <vector>

class CProgressLine;  // on-plot progress indicator, owned by the plot layer

// The time after which a Fit starts no further evaluation (FitBudgetScope
// in fit/nelder_mead.h tells why).
constexpr double kMaxFitSeconds = 1800.0;

// Work arrays of one Marquardt-Levenberg run, one-based, n = fit-vector
// length; per-scan arrays cover the points inside the fit limits.
struct MarquardtWorkArrays {
  bool allocated = false;
  int n = 0;
  double** covariance = nullptr;  // damped curvature; covariance after the final pass
  double** inverse = nullptr;     // inverse of the normalised curvature
  double** alpha = nullptr;       // curvature sum (dy/da_j)(dy/da_k)
  double* work = nullptr;         // linear-solver workspace
  double* trial = nullptr;        // a + delta a
  double* beta = nullptr;         // gradient sum (y - y_model) dy/da_j
  double* delta = nullptr;        // step; unit vectors of the inverse
  double* derivativePoint = nullptr;
  double* perturbed = nullptr;
  double* stepFactor = nullptr;
  double* absoluteStep = nullptr;
  float* simulation = nullptr;    // parameters in model units
  float* scale = nullptr;         // start values (0: entry unscaled)
  int* fitFlags = nullptr;
  std::vector<float**> derivatives;  // per scan [1..n][first..last fit point]
  std::vector<float*> modelCopy;     // per scan [first..last fit point]
  std::vector<int> first, last;      // fit-limit point range per scan
  // [1..n]: +1 (-1) while a limit stops entry j from moving up (down); the
  // steps are then solved without it.
  std::vector<int> blocked;
  // Sum of squares at the last accepted point of mlmin (the level a trial
  // step must improve on); set when mlmin starts with lambda < 0.
  double acceptedChiSquare = 0.0;
  // A trial whose sum of squares is no lower than acceptedChiSquare is
  // rejected before its derivatives are formed (they would be thrown away):
  // set by a fit whose evaluations depend on the parameters alone.
  bool rejectBeforeDerivatives = false;
  // Set before a step by a fit that judges its point a minimum as far as the
  // data tell: a trial that then falls by less than a unit of chi-square
  // (sigma from its rmsd) is taken without its derivatives, and
  // endedWithinUnit says so (the curvature stays that of the point before).
  bool endWithinUnit = false;
  bool endedWithinUnit = false;
  // The lowest sum of squares any evaluation of the fit gave (a trial, a
  // derivative's probe), and its point in normalised units, [1..n].
  double bestSeenChiSquare = 0.0;
  std::vector<double> bestSeen;
  // Times the derivative steps were made ten times longer in this fit.
  int derivativeStepLengthenings = 0;
};

struct FitEngineState {
  double mlLambda = 0;        // < 0 initialise, 0 final covariance pass
  double mlChiSquare = 0;     // sum of squares at the current Marquardt point
  double mlTestRmsd = 0;      // sqrt(sum of squares / points) of the last derivative pass
  double mlPointCount = 0;    // data points of that pass
  unsigned char fitVbar = 0;
  float bottomMax = 7.3f;     // cm
  float bottomMin = 7.1f;     // cm
  float meniscusMax = 6.6f;   // cm
  float meniscusMin = 5.8f;   // cm
  unsigned char molarMassParameters = 1;
  unsigned char doubleGridPerRestart = 0;
  unsigned char skipFirstScan = 0;
  unsigned char fitTINoise = 0;
  unsigned char saveBestDuringFit = 1;
  unsigned char halveGridFirst = 0;
  unsigned char fitRunning = 0;
  float initialRandomization = 0.01f;
  float maxRelativeChange = 0.01f;
  unsigned char stopRequested = 0;
  float currentRmsd = 0;
  float startRmsd = 0;
  float startRmsdCopy = 0;
  int evaluationsThisRun = 0;
  int evaluationsTotal = 0;
  int minimiserRuns = 0;
  // The whole fit's time bound over every minimiser, restart and finishing
  // pass of one Fit (FitBudgetScope), and its count of evaluations;
  // budgetSpent tells that the fit was ended by the time bound.
  double maxFitSeconds = kMaxFitSeconds;
  int fitEvaluations = 0;
  int fitScopeDepth = 0;
  double fitStartSeconds = 0;      // the program's clock, at the outermost scope's start
  unsigned char budgetSpent = 0;   // 2: the fit was ended by its time bound
  unsigned char useSimplex = 1;
  unsigned char useAnnealing = 0;
  unsigned char useMarquardt = 0;
  int annealIterations = 500;
  float annealStartTemperature = 2.0f;
  unsigned char annealFinalSimplex = 0;
  unsigned char annealFinalMarquardt = 1;
  int annealSteps = 10;
  float annealTemperature = 2.0f;
  float rmsdPointCount = 0;
  float gridMeniscus = 0;
  float gridBottom = 0;
  unsigned char simplexCollapsed = 0;
  int annealSeed = -3;
  MarquardtWorkArrays mlWork;
  int mlStepNegligible = 0;
  int mlMaxIterations = 100;
  double mlNegligibleStep = 1e-4;
  double mlMaxFactor = 10.0;
  double mlSmallChange = 1e-7;
  double mlTinyChiSquare = 1e-10;
  double mlParamStepFactor = 1.0005;
  double mlParamStepAbsolute = 0.001;
  unsigned char mlError = 0;
  CProgressLine* mlProgress = nullptr;
};

extern FitEngineState gFitEngineState;
