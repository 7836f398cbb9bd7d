#pragma once
// The settings a CLammIdeal is loaded with, one record for each group; the
// solver keeps each whole and a copy of the solver copies each whole. The
// model options and the scan output are handed over as records; the others
// are filled by their own setters.
struct ScanRecord;

// How the grid and the time steps are chosen. Sizes and tolerances that are
// not positive leave the solver's own value in place (see SetModelOptions).
struct LammModelOptions {
  int minNodes = 100, maxNodes = 2000;
  float pointsPerWidth = 5.0f;
  bool forceSteep = false;
  double backDiffusionTolerance = 1e-4;
  bool backDiffusionCheck = true, optimiseGrid = true, automaticGridSize = true;
  double ff0 = 1.0;
  bool linearRamp = true, fixedTimeStep = false;
  int solverSetting = 0;
  double steadyTolerance = 1e-6;
  double sGridValue = 0;
  bool automaticSGrid = true, solverSwitch = false, automaticAlgorithm = true;
  double stepTolerance = 1.0, stepLowerTolerance = 0.1, stepTarget = 0.3, stepBase = 1.0;
  int defaultNodes = 1000, gridSetting = 0;
  // Both chosen: the static grid wins.
  bool movingFrame = false, staticGrid = true;
  float truncationSetting = 1e-4f;
  double truncationLevel = 1e-6;
  bool truncateDynamically = false;
  double blend = 1.0, stepFactor = 2.0;
  double reducedSThreshold = 5.0, optimisedThreshold = 60.0;
};

// Where the simulated scans go. records, output, perScanRadii, perScanCounts
// and indexMap are 1-based by scan and stay the caller's; output[k] is the
// array of scan k, on the common grid (1..gridLength) or, without one, on the
// scan's own radii. Without an index map scan k is written in place k.
struct LammScanOutput {
  const ScanRecord* records = nullptr;
  float** output = nullptr;
  const float* grid = nullptr;
  int gridLength = 0;
  float** perScanRadii = nullptr;
  const int* perScanCounts = nullptr;
  bool showProgress = false;
  const int* indexMap = nullptr;
  int scanCount = 0;
  int component = 1;
  bool suppressText1 = false, suppressText2 = false;
  // The scanner's duration (velocity in cm/min) and radial resolution
  // (range in cm); only absorbance data have them, and a velocity or range
  // that is not positive keeps the solver's own.
  bool timeResolution = false;
  float scanVelocity = 0;
  bool radialResolution = false;
  float convolutionRange = 0;
  bool absorbanceData = false;
};

// The solution conditions the frictional ratio is computed for.
struct LammSolutionConditions {
  double temperature = 20.0, viscosity = 1.0, density = 1.0, vbar = 0.73, vbarDensity = 0.73;
};

// A thin lamella loaded at the meniscus (inverse: at the bottom).
struct LammZoneLoading {
  bool on = false, inverse = false;
  float lamellaWidth = 0.1f;
};

// The rotor's speed (rpm) and the acceleration to it; whether the rotor is
// accelerating at the moment belongs to a run, not to the settings.
struct LammRotor {
  bool checkAcceleration = true;
  double maxStepAccelerating = 10.0, accelDuration = 0, accelRate = 0;
  double finalRpm = 10000, rpm = 10000, sw2Final = 0;
};

// What the optical system does to the signal: the radial magnification, a
// drift with time (rates per s), the shadow of the excitation cone, a radial
// convolution and the Wiener skewing of interference profiles.
struct LammDetection {
  bool magnification = false;
  double dadr = 0;
  bool drift = false, driftLinear = false, driftExponential = false;
  double driftLinearRate = 0, driftExpRate = 0, driftLevel = 1.0;
  bool shadow = false;
  double coneRadius = 0;
  bool convolution = false;
  double convWidth = 0, convRange = 0;
  bool wiener = false, wienerConflict = false;
  double wienerGain = 0, wienerSecond = 0;
};

// Profiles that replace the concentration at given times (the caller's
// tables: one for all species or one per species, rows 1..count on `length`
// radii), and the next one due.
struct LammTimedProfiles {
  bool on = false, perSpecies = false;
  int count = 0, length = 0, next = 0;
  float** table = nullptr;
  float*** tables = nullptr;
  const double* times = nullptr;
  const float* radii = nullptr;
  double nextTime = 0;
};

// Non-ideality: the switches (plain model, model, concentration-dependent
// solver, third, table model), `count` components with their concentrations,
// s and D and weights (null: 1.0), eight further values (may be null), then
// the species' s, D and c0. The component arrays are 1-based, `further`
// 0-based; all stay the caller's.
struct LammSolventComponents {
  bool plainModel = false, model = false, concDependentSolver = false, third = false,
       tableModel = false;
  int count = 0;
  const double* concentrations = nullptr;
  const double* sValues = nullptr;
  const double* dValues = nullptr;
  const double* weights = nullptr;
  const double* further = nullptr;
  double s = 0, D = 0, c0 = 1.0;
  // A synthetic boundary: the solution loaded from `boundaryPosition` (cm)
  // to the bottom, the layer above it holding overlayFractions[k] of each
  // component's loading (1-based, `count` of them; the one component of a
  // run without a table: overlayFractions[1]).
  bool syntheticBoundary = false;
  double boundaryPosition = 0;
  const double* overlayFractions = nullptr;
};

// The inhomogeneous solvent given by coefficients: a static or compressed
// density gradient (compressibility, the vbar in it), or density and
// viscosity between the two ends (endCoefficients: density at the meniscus
// and bottom, viscosity at the meniscus and bottom). The buffer's viscosity
// ratio, density and vbar are its own copies: the solution conditions are
// then those of water at 20 degC. reference: the four reference values the
// caller gives with them.
struct LammInhomogeneousSolvent {
  bool inhomogeneous = false, staticGradient = false, twoEnds = false;
  double compressibility = 0;
  float gradientVbar = 0;
  float bufferViscosityRatio = 1, bufferDensity = 0.99823f, bufferVbar = 0.73f;
  float reference[4] = {0.99823f, 0.001f, 1.0f, 0.7287f};
  double endCoefficients[4] = {};
};
