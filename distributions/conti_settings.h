#pragma once
// The module-wide record of the continuous distributions (c(s) and its
// relatives): grid, f/f0 axis, model values, regularisation and priors, run
// control, and the arrays that the distribution display views.
// Plain data; the routines that act on it live in the distributions folder.
#include <cstdint>

class CVector;
class CWINPlot;
class CProgressLine;

struct ContiSettings {
  // ---- grid
  float resolution = 100.0f;        // requested number of grid points
  int32_t gridSize = 0;             // N, the grid size in use
  float sMin = 0.1f;                // S
  float sMax = 20.0f;               // S
  uint8_t gridFromFile = 0;
  uint8_t logSpacedGrid = 0;
  // Log-spaced grids are linear below this s and log-spaced above it.
  uint8_t useMinimumS = 1;
  float minimumSValue = 10.0f;      // S
  uint8_t dlsSpacingLinear = 0;
  uint8_t dlsSpacingLog = 0;
  uint8_t dlsSpacingMixed = 0;
  uint8_t dlsLinearAxis = 0;
  uint8_t ownLagTimes = 0;          // DLS kernels over each set's own lag times
  uint8_t ownEquilibriumRadii = 0;  // equilibrium kernels on each scan's own radii
  int32_t amplitudeCount = 0;       // m, set by the run driver
  int32_t lastGridSize = 0;         // copy of the grid of the last set-up

  // ---- f/f0 axis and the 2-D grid
  float ffValue = 1.2f;             // f/f0 (D for "c(M) With Invariant D ")
  uint8_t fitFfValue = 0;
  float ffMin = 1.0f;
  float ffMax = 2.0f;
  float ffResolution = 10.0f;       // n_f, number of f/f0 values
  int32_t ffCount = 10;
  int32_t grid2DSize = 0;           // N2
  float ffDirectionWeight = 10.0f;  // w of the f/f0 direction of the regularisation
  float* ffValues = nullptr;        // [1..ffCount]
  float* ffWork = nullptr;          // [1..ffCount]
  float* grid2DS = nullptr;         // [1..N2]
  float* grid2DM = nullptr;
  float* grid2DD = nullptr;
  float* grid2DStokes = nullptr;
  float* grid2DFf = nullptr;
  float* grid2DAmplitude = nullptr;
  uint8_t show2D = 0;
  uint8_t display2DSwitch[4] = {0, 0, 0, 0};
  int32_t symbolSize2D = 10;
  float csffRangeSMin = 0.0f, csffRangeSMax = 0.0f;
  float csffRangeFfMin = 0.0f, csffRangeFfMax = 0.0f;
  double csffWeightAverageM = 0.0;
  double csffMFromSD = 0.0;
  double csffStokesRadius = 0.0;
  double csffFf = 0.0;
  double csffStokesRadiusSD = 0.0;
  double csffMSD = 0.0;
  uint8_t csffRecompute = 1;        // kernels and normal equations must be computed again

  // ---- model values of the continuous variants
  float secondFf = 1.5f;
  uint8_t fitSecondFf = 0;
  float secondFfSMin = 0.0f, secondFfSMax = 0.0f;
  float discreteS = 0.34f;          // S
  float discreteM = 350.0f;         // Da
  float discreteD = 0.0f;           // 1e-7 cm²/s
  uint8_t fitDiscreteS = 0, fitDiscreteM = 0, fitDiscreteD = 0;
  float conformationSMin = 0.0f, conformationSMax = 0.0f;
  float conformationM = 0.0f;
  float invariantD = 0.0f;
  uint8_t fitInvariantD = 0;
  float constantD = 0.0f;           // c(v) with constant D
  uint8_t fitConstantD = 0;
  uint8_t constantDSwitch = 0;
  float scalingKs = 0.003f;
  float scalingBs = 0.667f;
  uint8_t fitScalingKs = 0, fitScalingBs = 0;
  uint8_t scalingZeroD = 0;
  float wormPersistenceLength = 36.0f;  // nm
  float wormCrossSection = 23.0f;       // nm²
  float wormMonomerMass = 9000.0f;      // Da
  float wormHydration = 0.4f;           // g/g
  uint8_t fitWormPersistenceLength = 0;
  uint8_t wormLikeChain = 0;
  uint8_t wormLikeChainOnce = 0;    // the once-switch of the root finder's message
  double hybridThreshold = 0.0;
  uint8_t hybridDiscrete = 0;
  float densityFactor = 1.0f;
  uint8_t linearElectrophoresis = 0;

  // ---- regularisation and priors
  float confidenceLevel = 0.95f;    // P; above 1 a chi-square ratio
  uint8_t maxEntropy = 1;
  uint8_t secondDerivative = 0;     // Tikhonov-Phillips
  uint8_t showBothRegularizations = 0;
  uint8_t suppressBaselineCorrelation = 1;
  // The prior's switches and sources are Priors() (prior_knowledge.h);
  // here the arrays assembled from it over the current grid.
  double* prior = nullptr;          // [1..N], one value per amplitude
  double* priorCompanion = nullptr;
  float* ffPrior = nullptr;         // [1..ffCount]
  uint8_t secondPeakTable = 0;

  // ---- run control
  uint8_t multipleThreads = 1;
  int32_t normalEquationThreads = 2;
  uint8_t exportMatrices = 0;
  uint8_t progressLine = 1;        // the normal equations show their progress as a line
  uint8_t silent = 0;               // evaluation inside a fit, Monte-Carlo or time course
  uint8_t lastRunFailed = 0;        // a species of the last run could not be simulated
  uint8_t synthetic = 0;
  uint8_t runCommand = 0;
  uint8_t finalEvaluation = 0;
  uint8_t monteCarloRun = 0;
  uint8_t timeCourse = 0;
  int32_t timeCourseFirstScan = 1, timeCourseLastScan = 1;
  float timeCourseWindowMinutes = 0.0f;
  int32_t timeCourseWindowCount = 0;
  float* timeCourseWindowTimes = nullptr;
  float** timeCourseDistributions = nullptr;
  uint8_t msTableLoaded = 0;
  uint8_t msTablePlot = 0;
  uint8_t transformedToCM = 0;
  uint8_t distributionShown = 0;

  // ---- arrays and display
  float* sValues = nullptr;         // [1..N]
  float* molarMasses = nullptr;     // [1..N]
  float* unitWeights = nullptr;     // [1..N]
  float* distribution = nullptr;    // [1..N]
  float* companionDistribution = nullptr;
  double* solutionVector = nullptr;
  double* savedSolutionVector = nullptr;
  float totalAmplitude = 0.0f;
  CWINPlot* distributionPlot = nullptr;
  CVector* distributionX = nullptr;
  CVector* distributionY = nullptr;
  CProgressLine* progressIndicator = nullptr;
};

// The one record of the program.
ContiSettings& Conti();
