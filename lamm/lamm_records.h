#pragma once
// The settings a CLammIdeal is loaded with, one record for each group the
// solver takes and copies whole: what a caller fills and hands to the setter
// is what the solver keeps (after the setter's checks).
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
struct LammSolvent {
  double temperature = 20.0, viscosity = 1.0, density = 1.0, vbar = 0.73, vbarDensity = 0.73;
};

// A thin lamella loaded at the meniscus (or, inverse, at the bottom).
struct LammZoneLoading {
  bool zoneLoading = false, zoneInverse = false;
  float lamellaWidth = 0.1f;
};
