#include "lamm/lamm_ideal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "lamm/lamm_no_diffusion.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

namespace {
std::atomic<bool> gDiagnostics{false};

bool Finite(double x) { return std::isfinite(x); }
}  // namespace

void SetLammDiagnosticsOutput(bool on) { gDiagnostics = on; }
bool LammDiagnosticsOutput() { return gDiagnostics; }

CLammIdeal::CLammIdeal() : debug_(gDiagnostics) {}

CLammIdeal::~CLammIdeal() {
  FreeAllWorkMemory();
  delete[] ownMatrixBlock_;
  delete[] ownedIndexMap_;
}

void CLammIdeal::ShowRefusal(const char* text) {
  // Worker threads report through their return code only.
  if (!inWorker_) ErrorBox(text);
}

// ---------------------------------------------------------------- copying

void CLammIdeal::CopySettings(const CLammIdeal& o) {
  CopyFluorophoreFrom(o);
  s_ = o.s_;
  D_ = o.D_;
  c0_ = o.c0_;
  meniscus_ = o.meniscus_;
  bottom_ = o.bottom_;
  leftFitLimit_ = o.leftFitLimit_;
  rightFitLimit_ = o.rightFitLimit_;
  geometryValid_ = o.geometryValid_;
  rightLimitInside_ = o.rightLimitInside_;
  detailCode_ = o.detailCode_;
  modelSet_ = o.modelSet_;
  loaded_ = o.loaded_;

  records_ = o.records_;
  output_ = o.output_;
  grid_ = o.grid_;
  gridLength_ = o.gridLength_;
  perScanRadii_ = o.perScanRadii_;
  perScanCounts_ = o.perScanCounts_;
  perScanMode_ = o.perScanMode_;
  scanCount_ = o.scanCount_;
  indexMap_ = o.indexMap_;  // a reference, never owned by the copy
  component_ = o.component_;
  threadNumber_ = o.threadNumber_;
  showProgress_ = o.showProgress_;
  suppress1_ = o.suppress1_;
  suppress2_ = o.suppress2_;
  outputValid_ = o.outputValid_;
  AllocPerScanBlock();

  timeResolution_ = o.timeResolution_;
  radialResolution_ = o.radialResolution_;
  absorbanceData_ = o.absorbanceData_;
  scanVelocity_ = o.scanVelocity_;
  convolutionRange_ = o.convolutionRange_;
  startTimeOffset_ = o.startTimeOffset_;

  minNodes_ = o.minNodes_;
  maxNodes_ = o.maxNodes_;
  pointsPerWidth_ = o.pointsPerWidth_;
  forceSteep_ = o.forceSteep_;
  backDiffTolerance_ = o.backDiffTolerance_;
  backDiffCheck_ = o.backDiffCheck_;
  optimiseGrid_ = o.optimiseGrid_;
  automaticGridSize_ = o.automaticGridSize_;
  ff0_ = o.ff0_;
  linearRamp_ = o.linearRamp_;
  fixedTimeStep_ = o.fixedTimeStep_;
  solverSetting_ = o.solverSetting_;
  steadyTolerance_ = o.steadyTolerance_;
  sGridValue_ = o.sGridValue_;
  automaticSGrid_ = o.automaticSGrid_;
  solverSwitch_ = o.solverSwitch_;
  automaticAlgorithm_ = o.automaticAlgorithm_;
  stepTolerance_ = o.stepTolerance_;
  stepLimit_ = o.stepLimit_;
  stepLowerTolerance_ = o.stepLowerTolerance_;
  stepTarget_ = o.stepTarget_;
  stepBase_ = o.stepBase_;
  defaultNodes_ = o.defaultNodes_;
  gridSetting_ = o.gridSetting_;
  movingFrame_ = o.movingFrame_;
  staticGrid_ = o.staticGrid_;
  truncationSetting_ = o.truncationSetting_;
  truncationLevel_ = o.truncationLevel_;
  truncateDynamically_ = o.truncateDynamically_;
  blend_ = o.blend_;
  stepFactor_ = o.stepFactor_;
  reducedSThreshold_ = o.reducedSThreshold_;
  optimisedThreshold_ = o.optimisedThreshold_;
  parametersValid_ = o.parametersValid_;

  temperature_ = o.temperature_;
  viscosity_ = o.viscosity_;
  density_ = o.density_;
  vbar_ = o.vbar_;
  vbarDensity_ = o.vbarDensity_;
  zoneLoading_ = o.zoneLoading_;
  zoneInverse_ = o.zoneInverse_;
  lamellaWidth_ = o.lamellaWidth_;

  checkAcceleration_ = o.checkAcceleration_;
  maxStepAccelerating_ = o.maxStepAccelerating_;
  accelDuration_ = o.accelDuration_;
  accelRate_ = o.accelRate_;
  finalRpm_ = o.finalRpm_;
  rpm_ = o.rpm_;
  sw2Final_ = o.sw2Final_;

  schedule_ = o.schedule_;
  steps_ = o.steps_;
  if (o.steps_ > 0 && o.stepStart_) {
    const size_t n = static_cast<size_t>(o.steps_) + 1;
    stepStart_.reset(new double[n]);
    stepEnd_.reset(new double[n]);
    stepRpm_.reset(new double[n]);
    stepRate_.reset(new double[n]);
    std::copy(o.stepStart_.get(), o.stepStart_.get() + n, stepStart_.get());
    std::copy(o.stepEnd_.get(), o.stepEnd_.get() + n, stepEnd_.get());
    std::copy(o.stepRpm_.get(), o.stepRpm_.get() + n, stepRpm_.get());
    std::copy(o.stepRate_.get(), o.stepRate_.get() + n, stepRate_.get());
  } else {
    stepStart_.reset();
    stepEnd_.reset();
    stepRpm_.reset();
    stepRate_.reset();
  }
  currentStep_ = o.currentStep_;

  initialDt_ = o.initialDt_;
  startTime_ = o.startTime_;
  maxTimeGiven_ = o.maxTimeGiven_;
  maxTimeValue_ = o.maxTimeValue_;
  continueAfterLast_ = o.continueAfterLast_;
  watchFraction_ = o.watchFraction_;
  massTracking_ = o.massTracking_;

  magnification_ = o.magnification_;
  dadr_ = o.dadr_;
  drift_ = o.drift_;
  driftLinear_ = o.driftLinear_;
  driftExponential_ = o.driftExponential_;
  driftLinearRate_ = o.driftLinearRate_;
  driftExpRate_ = o.driftExpRate_;
  driftLevel_ = o.driftLevel_;
  shadow_ = o.shadow_;
  coneRadius_ = o.coneRadius_;
  convolution_ = o.convolution_;
  convWidth_ = o.convWidth_;
  convRange_ = o.convRange_;
  gridClass_ = o.gridClass_;
  kernelLength_ = o.kernelLength_;
  convFirst_ = o.convFirst_;
  convLast_ = o.convLast_;
  if (o.kernel_ && o.kernelLength_ > 0) {
    kernel_.reset(new float[static_cast<size_t>(o.kernelLength_) + 1]);
    std::copy(o.kernel_.get(), o.kernel_.get() + o.kernelLength_ + 1, kernel_.get());
  } else {
    kernel_.reset();
  }
  wiener_ = o.wiener_;
  wienerConflict_ = o.wienerConflict_;
  specialGeometry_ = o.specialGeometry_;
  wienerGain_ = o.wienerGain_;
  wienerSecond_ = o.wienerSecond_;
  initialProfile_ = o.initialProfile_;
  initialCount_ = o.initialCount_;
  if (o.initialProfile_ && o.initialCount_ > 0) {
    const size_t n = static_cast<size_t>(o.initialCount_) + 1;
    initialRadii_.reset(new double[n]);
    initialValues_.reset(new double[n]);
    std::copy(o.initialRadii_.get(), o.initialRadii_.get() + n, initialRadii_.get());
    std::copy(o.initialValues_.get(), o.initialValues_.get() + n, initialValues_.get());
  } else {
    initialRadii_.reset();
    initialValues_.reset();
  }
  timed_ = o.timed_;
  timedPerSpecies_ = o.timedPerSpecies_;
  timedCount_ = o.timedCount_;
  timedLength_ = o.timedLength_;
  timedTable_ = o.timedTable_;
  timedTables_ = o.timedTables_;
  timedTimes_ = o.timedTimes_;
  timedRadii_ = o.timedRadii_;
  timedNext_ = o.timedNext_;
  timedNextTime_ = o.timedNextTime_;

  nonIdealPlain_ = o.nonIdealPlain_;
  nonIdealModel_ = o.nonIdealModel_;
  concDependentSolver_ = o.concDependentSolver_;
  nonIdealThird_ = o.nonIdealThird_;
  tableModel_ = o.tableModel_;
  concDependentModel_ = o.concDependentModel_;
  nonIdealValid_ = o.nonIdealValid_;
  componentCount_ = o.componentCount_;
  if (o.componentCount_ > 0) {
    const size_t n = static_cast<size_t>(o.componentCount_) + 1;
    compConc_.reset(new double[n]);
    compS_.reset(new double[n]);
    compD_.reset(new double[n]);
    compWeight_.reset(new double[n]);
    std::copy(o.compConc_.get(), o.compConc_.get() + n, compConc_.get());
    std::copy(o.compS_.get(), o.compS_.get() + n, compS_.get());
    std::copy(o.compD_.get(), o.compD_.get() + n, compD_.get());
    std::copy(o.compWeight_.get(), o.compWeight_.get() + n, compWeight_.get());
  }
  std::copy(o.nonIdealFurther_, o.nonIdealFurther_ + 8, nonIdealFurther_);
  cdModel_ = o.cdModel_;
  inhomogeneous_ = o.inhomogeneous_;
  staticGradient_ = o.staticGradient_;
  twoEnds_ = o.twoEnds_;
  compressibility_ = o.compressibility_;
  gradientVbar_ = o.gradientVbar_;
  bufferViscosityRatio_ = o.bufferViscosityRatio_;
  bufferDensity_ = o.bufferDensity_;
  bufferVbar_ = o.bufferVbar_;
  std::copy(o.solventRef_, o.solventRef_ + 4, solventRef_);
  std::copy(o.solventCoef_, o.solventCoef_ + 4, solventCoef_);
  solvent_ = o.solvent_;
  solventGiven_ = o.solventGiven_;
  cosoluteBase_ = o.cosoluteBase_;
  solventVbar_ = o.solventVbar_;
  solventRpm_ = o.solventRpm_;
  cosoluteSCoef_ = o.cosoluteSCoef_;
  cosoluteDCoef_ = o.cosoluteDCoef_;

  // State of a run: a solver that is reused for another species starts from
  // the template's, as a new one would.
  steep_ = o.steep_;
  scheduleGrid_ = o.scheduleGrid_;
  defaultGrid_ = o.defaultGrid_;
  retry_ = o.retry_;
  refineRequested_ = o.refineRequested_;
  grading_ = o.grading_;
  movingCandidate_ = o.movingCandidate_;
  staticCandidate_ = o.staticCandidate_;
  refineRadius_ = o.refineRadius_;
  errNonConvergence_ = errTridag_ = errConcDependent_ = 0;
  pivotFailed_ = abortFlag_ = collapseFlag_ = false;
  abortRequest_ = false;
  endCondition_ = false;
}

// ---------------------------------------------------------------- setters

void CLammIdeal::MarkLoaded() { modelSet_ = loaded_ = true; }

void CLammIdeal::SetOutputParameters(double s, double D, double meniscus, double bottom,
                                     double c0, float left, float right) {
  s_ = s;
  D_ = D;
  meniscus_ = meniscus;
  bottom_ = bottom;
  c0_ = c0;
  if (right < left) std::swap(left, right);
  leftFitLimit_ = left;
  rightFitLimit_ = right;
  rightLimitInside_ = right >= meniscus && right <= bottom;
  geometryValid_ = true;
  detailCode_ = 0;
  // NaN compares false everywhere: test for it explicitly.
  if (!Finite(s) || !Finite(D) || !Finite(meniscus) || !Finite(bottom) || !Finite(c0) ||
      !std::isfinite(left) || !std::isfinite(right))
    geometryValid_ = false;
  if (bottom < meniscus || !rightLimitInside_ || left < meniscus || left > bottom)
    geometryValid_ = false;
  if (meniscus <= 0 || bottom <= 0) {
    geometryValid_ = false;
    detailCode_ = 1;
  }
  // A cell needs a radial extent; a zero-length column would divide by zero.
  if (bottom == meniscus) geometryValid_ = false;
  if (c0 < 0) {
    geometryValid_ = false;
    detailCode_ = 2;
  }
  if (D < 0) {
    geometryValid_ = false;
    detailCode_ = 3;
  }
}

// Per-scan output needs a block of its own, a row per scan as wide as the
// longest scan (zeroed).
void CLammIdeal::AllocPerScanBlock() {
  delete[] ownMatrixBlock_;
  ownMatrixBlock_ = nullptr;
  ownRows_ = ownCols_ = 0;
  if (perScanMode_ && perScanCounts_ && scanCount_ > 0) {
    int cols = 0;
    for (int k = 1; k <= scanCount_; ++k) cols = std::max(cols, perScanCounts_[k]);
    ownRows_ = scanCount_;
    ownCols_ = cols;
    ownMatrixBlock_ = new float[static_cast<size_t>(ownRows_) * std::max(1, ownCols_)]();
  }
}

// A radial convolution needs the output grid classified and its kernel built.
void CLammIdeal::PrepareOutputStorage() {
  AllocPerScanBlock();
  if (convolution_ && outputValid_) {
    ClassifyOutputGrid();
    BuildConvolutionKernel();
  }
}

void CLammIdeal::SetSpeciesAndOutput(double s, double D, float** output, const float* grid,
                                     int gridLength, float** perScanRadii,
                                     const int* perScanCounts) {
  s_ = s;
  D_ = D;
  if (!Finite(s) || !Finite(D)) geometryValid_ = false;
  if (D < 0) {
    geometryValid_ = false;
    detailCode_ = 3;
  }
  output_ = output;
  grid_ = grid;
  gridLength_ = gridLength;
  perScanRadii_ = perScanRadii;
  perScanCounts_ = perScanCounts;
  perScanMode_ = !grid || gridLength < 1;
  outputValid_ = records_ && output_ && scanCount_ >= 1;
  if (perScanMode_ && (!perScanRadii_ || !perScanCounts_)) outputValid_ = false;
  PrepareOutputStorage();
}

void CLammIdeal::SetScanTimes(const ScanRecord* records, float** output, const float* grid,
                              int gridLength, float** perScanRadii, const int* perScanCounts,
                              bool showProgress, const int* indexMap, int scanCount,
                              int component, bool suppressText1, bool suppressText2,
                              bool timeResolution, float scanVelocity, bool radialResolution,
                              float convolutionRange, bool absorbanceData) {
  records_ = records;
  output_ = output;
  outputValid_ = records && output;
  grid_ = grid;
  gridLength_ = gridLength;
  perScanMode_ = !grid || gridLength < 1;
  perScanRadii_ = perScanRadii;
  perScanCounts_ = perScanCounts;
  if (perScanMode_ && (!perScanRadii || !perScanCounts)) outputValid_ = false;
  showProgress_ = showProgress;
  scanCount_ = scanCount;
  if (scanCount < 1) outputValid_ = false;
  delete[] ownedIndexMap_;
  ownedIndexMap_ = nullptr;
  indexMap_ = indexMap;
  if (!indexMap && scanCount > 0) {
    ownedIndexMap_ = new int[static_cast<size_t>(scanCount) + 1];
    ownedIndexMap_[0] = 0;
    for (int k = 1; k <= scanCount; ++k) ownedIndexMap_[k] = k;
    indexMap_ = ownedIndexMap_;
  }
  component_ = component;
  suppress1_ = suppressText1;
  suppress2_ = suppressText2;
  timeResolution_ = timeResolution;
  if (scanVelocity > 0) scanVelocity_ = scanVelocity;
  if (scanVelocity_ <= 0) timeResolution_ = false;
  radialResolution_ = radialResolution;
  if (convolutionRange > 0) convolutionRange_ = convolutionRange;
  if (convolutionRange_ <= 0) radialResolution_ = false;
  absorbanceData_ = absorbanceData;
  if (!absorbanceData) timeResolution_ = radialResolution_ = false;
  PrepareOutputStorage();
}

void CLammIdeal::SetModelOptions(int minNodes, int maxNodes, float pointsPerWidth,
                                 bool forceSteep, double backDiffusionTolerance,
                                 bool backDiffusionCheck, bool optimiseGrid,
                                 bool automaticGridSize, float ff0, bool linearRamp,
                                 bool fixedTimeStep, int solverSetting, double steadyTolerance,
                                 double sGridValue, bool automaticSGrid, bool solverSwitch,
                                 bool automaticAlgorithm, double stepTolerance,
                                 double stepLowerTolerance, double stepTarget, double stepBase,
                                 int defaultNodes, int gridSetting, bool movingFrame,
                                 bool staticGrid, float truncationSetting,
                                 double truncationLevel, bool truncateDynamically,
                                 double blend, double stepFactor, double reducedSThreshold,
                                 double optimisedThreshold) {
  if (minNodes > 0) minNodes_ = minNodes;
  if (maxNodes > 0) maxNodes_ = maxNodes;
  if (pointsPerWidth > 0) pointsPerWidth_ = pointsPerWidth;
  forceSteep_ = forceSteep;
  if (backDiffusionTolerance > 0) backDiffTolerance_ = backDiffusionTolerance;
  backDiffCheck_ = backDiffusionCheck;
  optimiseGrid_ = optimiseGrid;
  automaticGridSize_ = automaticGridSize;
  ff0_ = ff0;
  linearRamp_ = linearRamp;
  fixedTimeStep_ = fixedTimeStep;
  solverSetting_ = solverSetting;
  steadyTolerance_ = steadyTolerance;
  if (sGridValue > 0) sGridValue_ = sGridValue;
  automaticSGrid_ = automaticSGrid;
  solverSwitch_ = solverSwitch;
  automaticAlgorithm_ = automaticAlgorithm;
  stepTolerance_ = stepTolerance;
  stepLowerTolerance_ = stepLowerTolerance;
  stepTarget_ = stepTarget;
  stepBase_ = stepBase;
  defaultNodes_ = defaultNodes;
  gridSetting_ = gridSetting;
  movingFrame_ = movingFrame;
  staticGrid_ = staticGrid;
  if (movingFrame_ && staticGrid_) movingFrame_ = false;  // the static grid wins
  truncationSetting_ = truncationSetting;
  truncationLevel_ = truncationLevel;
  truncateDynamically_ = truncateDynamically;
  blend_ = blend;
  stepFactor_ = stepFactor;
  reducedSThreshold_ = reducedSThreshold;
  optimisedThreshold_ = optimisedThreshold;
  parametersValid_ = !(ff0_ <= 0 && D_ > 0);
  // Settings the step control divides by or sizes arrays with.
  if (!(stepBase_ > 0) || !(stepFactor_ > 0) || !(blend_ > 0) || defaultNodes_ < 3 ||
      minNodes_ < 3 || maxNodes_ < minNodes_)
    parametersValid_ = false;
}

void CLammIdeal::SetSolventAndComputeFrictionalRatio(double T, double vbar, double density,
                                                     double viscosity) {
  temperature_ = T;
  vbar_ = vbar;
  // A species of its own vbar (a c(s) list copies its prototype's solvent)
  // floats by its own buoyancy in an inhomogeneous solvent too.
  bufferVbar_ = static_cast<float>(vbar);
  solventVbar_ = vbar;
  density_ = density;
  viscosity_ = viscosity;
  vbarDensity_ = vbar * density;
  double M = 0;
  if (D_ > 0) M = (T + 273.15) * 8.31451e7 * s_ * 1e-13 / ((1 - vbar * density) * D_);
  double f0 = 0;
  if (M > 0 && vbar > 0) {
    const double V = 1.6605392767355127e-24 * M * vbar * 1e-6;
    const double R0 = std::exp(std::log(0.07957747163687819 * 3 * V) * 0.333333333333333);
    f0 = viscosity * 0.018887255011800004 * R0 * 1000;
  }
  if (f0 > 0 && s_ != 0)
    ff0_ = (1.6605392767355127e-24 * (1 - vbar * density) * M / (1e-13 * s_)) / f0;
  else
    ff0_ = 0;
}

void CLammIdeal::SetGeometryFlags(bool zoneLoading, float lamellaWidth, bool inverse) {
  zoneLoading_ = zoneLoading;
  lamellaWidth_ = zoneLoading ? lamellaWidth : 0.1f;
  zoneInverse_ = zoneLoading && inverse;
}

void CLammIdeal::SetInitialTime(double t0) { startTime_ = t0; }

void CLammIdeal::SetMaxTime(double dtMax) {
  if (dtMax > 0) {
    maxTimeGiven_ = true;
    maxTimeValue_ = dtMax;
  }
}

void CLammIdeal::LoadFromThreadJob(const CRotorSpeedProfile& p, double, double) {
  LoadSpecies(p.stepCount, p.startTimes, p.speeds, p.accelerations, p.speedCheckMode);
}

void CLammIdeal::ClearRunFlag() { checkAcceleration_ = false; }

void CLammIdeal::SetStartTimeOffset(float r0) {
  // The scanner needs (meniscus - r0) / v to reach the meniscus; v is in
  // cm/min, so the offset in seconds carries the factor 60.
  startTimeOffset_ = 0;
  if (absorbanceData_ && scanVelocity_ > 0 && timeResolution_) {
    const double off = (meniscus_ - r0) * 60.0 / scanVelocity_;
    startTimeOffset_ = std::max(0.0, off);
  }
}

void CLammIdeal::SetStretchFactor(bool use, float onePlusDaDr) {
  magnification_ = use;
  dadr_ = use ? onePlusDaDr - 1.0 : 0.0;
}

void CLammIdeal::SetTimeShiftOptions(bool use, bool linear, double linearRatePerHour,
                                     bool exponential, double exponentialRatePerHour,
                                     double level) {
  drift_ = use;
  driftLinear_ = use && linear;
  driftLinearRate_ = driftLinear_ ? linearRatePerHour / 3600.0 : 0;
  driftExponential_ = use && exponential;
  driftExpRate_ = driftExponential_ ? exponentialRatePerHour / 3600.0 : 0;
  driftLevel_ = driftExponential_ ? level : 1.0;
}

void CLammIdeal::SetSecondCoefficient(bool use, float coneRadius) {
  shadow_ = use;
  coneRadius_ = use ? coneRadius : 0;
}

void CLammIdeal::SetRadialConvolution(bool use, float width, float rangeFactor) {
  convolution_ = use && width > 0.001f;
  convWidth_ = convolution_ ? width : 0;
  convRange_ = convolution_ ? rangeFactor : 0;
  if (convolution_ && outputValid_) {
    ClassifyOutputGrid();
    BuildConvolutionKernel();
  }
}

void CLammIdeal::EnableOptionWithTwoValues(float gain, float second) {
  wiener_ = true;
  wienerGain_ = gain;
  wienerSecond_ = second;
  wienerConflict_ = false;
}

void CLammIdeal::SetTimedProfiles(int count, int length, float** table,
                                  float*** perSpeciesTables, const double* times,
                                  const float* radii) {
  timed_ = (table || perSpeciesTables) && times && count > 0 && length > 0;
  timedPerSpecies_ = timed_ && perSpeciesTables;
  timedCount_ = count;
  timedLength_ = length;
  timedTable_ = table;
  timedTables_ = perSpeciesTables;
  timedTimes_ = times;
  timedRadii_ = radii;
  timedNext_ = 1;
  timedNextTime_ = times ? times[1] : 0;
}

bool CLammIdeal::LoadInitialDistribution(int n, const float* radii, const float* values) {
  initialProfile_ = false;
  // With a component table the loading is the table's weighted sum.
  if (tableModel_) return false;
  if (!radii || !values || n < 2) return false;
  if (radii[1] > static_cast<float>(meniscus_) || radii[n] < static_cast<float>(bottom_))
    return false;
  initialRadii_.reset(new double[static_cast<size_t>(n) + 1]);
  initialValues_.reset(new double[static_cast<size_t>(n) + 1]);
  initialRadii_[0] = initialValues_[0] = 0;
  for (int i = 1; i <= n; ++i) {
    initialRadii_[i] = radii[i];
    initialValues_[i] = values[i];
  }
  initialCount_ = n;
  initialProfile_ = true;
  return true;
}

void CLammIdeal::SetSolventComponents(bool plain, bool model, bool concDependentSolver,
                                      bool third, bool tableModel, int count, const double* conc,
                                      const double* sValues, const double* dValues,
                                      const double* weights, const double* further, double s,
                                      double D, double c0) {
  nonIdealValid_ = false;
  nonIdealPlain_ = plain;
  nonIdealModel_ = model;
  concDependentSolver_ = concDependentSolver;
  nonIdealThird_ = third;
  tableModel_ = tableModel;
  concDependentModel_ = !plain && (model || third || tableModel);
  componentCount_ = 0;
  if (count > 0) {
    if (!conc || !sValues || !dValues) return;
    while (count > 0 && conc[count] == 0) --count;  // trailing empty components
    const size_t n = static_cast<size_t>(count) + 1;
    compConc_.reset(new double[n]());
    compS_.reset(new double[n]());
    compD_.reset(new double[n]());
    compWeight_.reset(new double[n]());
    for (int k = 1; k <= count; ++k) {
      compConc_[k] = conc[k];
      compS_[k] = sValues[k];
      compD_[k] = dValues[k];
      compWeight_[k] = weights ? weights[k] : 1.0;
    }
    componentCount_ = count;
  }
  for (int k = 0; k < 8; ++k) nonIdealFurther_[k] = further ? further[k] : 0.0;
  s_ = s;
  D_ = D;
  c0_ = c0;
  bool valid = D != 0 && !plain && concDependentSolver && (!tableModel || componentCount_ > 0);
  for (int k = 1; k <= componentCount_; ++k)
    if (!(compD_[k] > 0)) valid = false;
  concDependentModel_ = concDependentModel_ && valid;
  nonIdealValid_ = valid;
  automaticGridSize_ = false;
  optimiseGrid_ = false;
  if (tableModel) forceSteep_ = true;
}

void CLammIdeal::SetReactionParameters(bool inhomogeneous, bool inhomogeneous2,
                                       bool staticGradient, bool twoEnds,
                                       double compressibility, float gradientVbar,
                                       float viscosity, float density, float vbar,
                                       float vbarDensity, float ref1, float ref2, float ref3,
                                       float ref4, double coef1, double coef2, double coef3,
                                       double coef4) {
  inhomogeneous_ = inhomogeneous || inhomogeneous2;
  staticGradient_ = staticGradient;
  twoEnds_ = twoEnds;
  compressibility_ = compressibility;
  gradientVbar_ = gradientVbar;
  bufferViscosityRatio_ = viscosity;
  bufferDensity_ = density;
  bufferVbar_ = vbar;
  (void)vbarDensity;
  solventRef_[0] = ref1;
  solventRef_[1] = ref2;
  solventRef_[2] = ref3;
  solventRef_[3] = ref4;
  solventCoef_[0] = coef1;
  solventCoef_[1] = coef2;
  solventCoef_[2] = coef3;
  solventCoef_[3] = coef4;
}

void CLammIdeal::SetSolventGradientParameters(const SolventGradientSettings& sg, double vbar,
                                              double rpm, const std::vector<double>& sCoef,
                                              const std::vector<double>& dCoef) {
  solvent_ = sg;
  solventGiven_ = true;
  cosoluteBase_ = platform::ProgramPaths.TempFolder;
  solventVbar_ = vbar;
  solventRpm_ = rpm;
  const bool lists = sg.SedimentingCosolute && sg.NonidealCosolute && !sg.CsClAt25C;
  cosoluteSCoef_ = lists ? sCoef : std::vector<double>{};
  cosoluteDCoef_ = lists ? dCoef : std::vector<double>{};
}

// ---------------------------------------------------------------- running

double CLammIdeal::ScanTime(int k) const {
  const ScanRecord& rec = records_[indexMap_[k]];
  // With a simulated acceleration the scans' real elapsed times apply; at
  // constant speed the time equivalent of their w^2 t.
  const double t = (linearRamp_ || schedule_) ? rec.time : rec.timeRead;
  return startTimeOffset_ + t;
}

void CLammIdeal::SetInitialConcentration() {
  // With a component table every node holds the weighted sum of the
  // components' loading concentrations.
  double loading = c0_;
  if (tableModel_ && componentCount_ > 0) {
    loading = 0;
    for (int k = 1; k <= componentCount_; ++k) loading += compConc_[k] * compWeight_[k];
  }
  if (zoneLoading_) {
    const double edge = r_[1] + lamellaWidth_;
    for (int i = 1; i <= N_; ++i) {
      const bool loaded = zoneInverse_ ? !(r_[i] < edge) : r_[i] <= edge;
      c_[i] = loaded ? loading : 0.0;
    }
    return;
  }
  if (initialProfile_ && initialCount_ >= 2 && !tableModel_) {
    InterpolateOntoGridMixed(N_, r_, c_, initialCount_, initialRadii_.get(),
                             initialValues_.get());
    return;
  }
  for (int i = 1; i <= N_; ++i) c_[i] = loading;
}

LammOutcome CLammIdeal::CheckAndRun() {
  if (debug_) DebugLog(nullptr);

  if (specialGeometry_) {
    ShowRefusal("can't do special geometries in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!geometryValid_) {
    if (!rightLimitInside_ && meniscus_ > 0 && bottom_ > 0)
      ShowRefusal("meniscus or bottom parameters in conflict with fitting limits in CLammIdeal");
    else
      ShowRefusal("invalid geometry or s, D parameters loaded in CLammIdeal");
    if (detailCode_ == 1) ShowRefusal("meniscus or bottom <= 0 loaded in CLammIdeal");
    if (detailCode_ == 2) ShowRefusal("c0 < 0 loaded in CLammIdeal");
    if (detailCode_ == 3) ShowRefusal("diffcoeff < 0 loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  // A solvent given at its ends divides by its viscosity and buoyancy there.
  if (inhomogeneous_ && twoEnds_ && !(solventCoef_[2] > 0 && solventCoef_[3] > 0 &&
                                      std::isfinite(SolventMeanScale()) && SolventMeanScale() != 0)) {
    ShowRefusal("the solvent at meniscus and bottom needs a positive viscosity and buoyancy");
    return kLammInvalidSettings;
  }
  // The scans drive the time loop: their times must be finite, non-negative
  // and in order, and without a schedule their rotor speeds must be positive.
  bool scansValid = outputValid_ && records_ && indexMap_;
  if (scansValid) {
    double previous = -1;
    for (int k = 1; k <= scanCount_ && scansValid; ++k) {
      const int idx = indexMap_[k];
      if (idx < 1) {
        scansValid = false;
        break;
      }
      const ScanRecord& rec = records_[idx];
      const double tk = ScanTime(k);
      if (!Finite(tk) || tk < 0 || tk < previous) scansValid = false;
      if (!schedule_ && !(rec.rpm > 0 && std::isfinite(rec.rpm))) scansValid = false;
      previous = tk;
    }
  }
  if (!scansValid) {
    ShowRefusal("invalid output parameters loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!modelSet_) {
    ShowRefusal("model not set properly in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!parametersValid_) {
    ShowRefusal("Lamm discretization parameters not loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (!nonIdealValid_) {
    ShowRefusal("non-ideality parameters not loaded properly in CLammIdeal");
    return kLammNonidealSetup;
  }
  if (concDependentSolver_ && (D_ == 0 || (positiveSOnly_ && !(s_ > 0)))) {
    ShowRefusal(positiveSOnly_ ? "D = 0 or s <= 0 models are not implemented yet for concentration "
                                 "dependent sedimentation models"
                               : "D = 0 or s = 0 models are not implemented yet for concentration "
                                 "dependent sedimentation models");
    return kLammNonidealSetup;
  }
  if (concDependentSolver_ && !ConcDependentSchemeValid(cdModel_.scheme)) {
    ShowRefusal("Lamm discretization parameters not loaded in CLammIdeal");
    return kLammInvalidSettings;
  }
  if (wienerConflict_) {
    ShowRefusal("Wiener skewing correction incompatible with finite scan time resolution");
    return kLammNonidealOutOfRange;
  }
  {
    const ScanRecord& first = records_[indexMap_[1]];
    const double rate = first.acceleration;
    // A ramp in effect with no acceleration at all would leave the rotor at
    // rest for the whole ramp; it is refused like a too slow one.
    const bool rampInEffect = linearRamp_ && !schedule_ && first.accelerationTime >= 10.0;
    const bool tooSlow = checkAcceleration_ && linearRamp_ && rate > 0.0001 && rate < 150;
    const bool none = rampInEffect && !(rate > 0.0001);
    if (tooSlow || none) {
      ShowRefusal("too slow rotor acceleration");
      platform::StopFlag() = true;
      return kLammSlowAcceleration;
    }
    if (schedule_) {
      for (int i = 1; i <= steps_; ++i) {
        const double prev = i > 1 ? stepRpm_[i - 1] : 0.0;
        const bool bad = !(stepRpm_[i] > 0) || !Finite(stepEnd_[i]) ||
                         (stepRpm_[i] != prev && !(stepRate_[i] > 0));
        if (bad) {
          ShowRefusal("too slow rotor acceleration");
          platform::StopFlag() = true;
          return kLammSlowAcceleration;
        }
      }
    }
  }

  // In an inhomogeneous solvent s and D are held at 20 degC water: the run
  // takes them to the buffer, and a later run of the object starts again
  // from the water values.
  struct WaterValues {
    CLammIdeal& L;
    double s, D;
    ~WaterValues() { L.s_ = s, L.D_ = D; }
  } water{*this, s_, D_};
  if (inhomogeneous_) {
    s_ *= SolventMeanScale();
    D_ *= SolventMeanViscosityFactor();
  }
  // The static-grid and moving-frame paths weigh the buffer's s and D by
  // the local factors; the other paths run with the buffer's mean.
  localSolvent_ = inhomogeneous_ &&
                  (twoEnds_ || (solventGiven_ && (solvent_.StaticGradient || solvent_.DynamicGradient)));
  // Unusable cosolute settings are refused once, before the run.
  if (localSolvent_ && solvent_.SedimentingCosolute && !LammInitLoading()) return kLammInvalidSettings;

  InitRotorRamp();
  ChooseTimeStep();
  LimitAccelerationStep();
  SetupGrid();
  ShutOffNegligibleDiffusion();
  if (!allocated_) return kLammNoWorkMemory;
  SetInitialConcentration();

  errNonConvergence_ = errTridag_ = errConcDependent_ = 0;
  noTransport_ = false;
  if (D_ == 0 && concDependentModel_) {
    ShowRefusal(
        "D = 0 or s = 0 models are not implemented yet for concentration dependent "
        "sedimentation models");
  } else if (D_ == 0 && s_ == 0) {
    noTransport_ = true;
    SolveWithoutTransport();
  } else if (D_ == 0) {
    SolveWithoutDiffusion();
  } else {
    Run();
    ApplyDetectionCorrections();
    if (errNonConvergence_ || errTridag_) {
      const bool savedTruncation = truncateDynamically_;
      truncateDynamically_ = false;
      auto again = [&]() {
        errNonConvergence_ = errTridag_ = 0;
        SetInitialConcentration();
        Run();
        ApplyDetectionCorrections();
      };
      // The concentration-dependent paths keep their uniform grid: only the
      // last retry, with another node count, applies to them.
      if (!concDependentSolver_) {
        InitRotorRamp();
        LimitAccelerationStep();
        again();
      }
      if ((errNonConvergence_ || errTridag_) && staticGrid_ && !concDependentSolver_) {
        staticGrid_ = false;
        movingFrame_ = true;
        InitRotorRamp();
        LimitAccelerationStep();
        // Without an adaptive grid size no candidate was made: the grid
        // keeps its size rather than falling to the smallest allowed.
        int n = movingCandidate_ > 0 ? static_cast<int>(std::floor(movingCandidate_)) : N_;
        n = std::clamp(n, minNodes_, maxNodes_);
        if (ResizeWorkMemory(n)) again();
        staticGrid_ = true;
        movingFrame_ = false;
        fixedTimeStep_ = false;
      }
      if (errNonConvergence_ || errTridag_) {
        retry_ = true;
        staticGrid_ = true;
        movingFrame_ = false;
        fixedTimeStep_ = false;
        InitRotorRamp();
        LimitAccelerationStep();
        // The candidate is clamped in both cases: without an adaptive grid
        // size it was never computed and would leave a grid of no nodes.
        const int n = std::clamp(
            staticCandidate_ > 0 ? static_cast<int>(std::floor(staticCandidate_)) : N_, minNodes_,
            maxNodes_);
        if (optimiseGrid_ && IsGradientTooSteep(s_, D_) && !zoneLoading_) {
          FreeWorkMemory();
          N_ = n;
          AllocWorkMemory();
          SetupGradedGrid(refineRadius_);
        } else {
          ResizeWorkMemory(n);
        }
        if (allocated_) again();
        retry_ = false;
      }
      truncateDynamically_ = savedTruncation;
    }
    // On per-scan radii the result is added to what the caller's arrays hold.
    if (perScanMode_ && ownMatrixBlock_) {
      for (int k = 1; k <= scanCount_; ++k) {
        const int scan = indexMap_[k];
        float* row = ownMatrixBlock_ + static_cast<size_t>(scan - 1) * ownCols_ - 1;
        float* out = output_[scan];
        if (!out) continue;
        for (int j = 1; j <= perScanCounts_[scan]; ++j) out[j] += row[j];
      }
    }
  }
  FinishTimedProfiles();
  if (errNonConvergence_) return kLammDiscretization;
  if (errTridag_) return kLammSingularMatrix;
  if (errConcDependent_) return kLammNonidealOutOfRange;
  return kLammSolved;
}

void CLammIdeal::Run() {
  iteration_ = 1;
  t_ = startTime_;
  outIndex_ = 1;
  nextScanTime_ = ScanTime(1);
  ChooseScanSegments();
  abortRequest_ = false;
  dt_ = initialDt_;
  stepTolerance_ = stepBase_;
  stepLowerTolerance_ = 0.05 * stepBase_;
  stepTarget_ = 0.2 * stepBase_;
  // The first scan time is an event: the path ends a step exactly on it.
  pendingEvent_ = true;
  pendingTime_ = nextScanTime_;
  running_ = true;
  endCondition_ = false;
  if (timed_) {
    timedNext_ = 1;
    timedNextTime_ = timedTimes_[1];
  }
  // A run that starts later than t = 0 starts in the rotor state of its time.
  if (schedule_) UpdateSpeedStep(t_);
  else if (accelerating_ && t_ >= accelDuration_) accelerating_ = false;
  if (concDependentSolver_) {
    SolveConcDependent();
  } else if (staticGrid_) {
    SolveStaticGrid();
  } else if (movingFrame_) {
    SolveMovingFrame();
    UpdateMovingGridRadii();
  }
  if (endCondition_ && !collapseFlag_ && !abortFlag_) FillRemainingScansWithFinalProfile();
  if (abortRequest_) platform::StopFlag() = true;
}

float* CLammIdeal::OutputRow(int scan, const float** radii, int* n) {
  if (perScanMode_) {
    *radii = perScanRadii_[scan];
    *n = perScanCounts_[scan];
    return ownMatrixBlock_ ? ownMatrixBlock_ + static_cast<size_t>(scan - 1) * ownCols_ - 1
                           : nullptr;
  }
  *radii = grid_;
  *n = gridLength_;
  return output_[scan];
}

void CLammIdeal::SolveWithoutTransport() {
  // Neither sedimentation nor diffusion: every scan shows the loading.
  for (int k = 1; k <= scanCount_; ++k) {
    const int scan = indexMap_[k];
    const float* radii = nullptr;
    int n = 0;
    float* row = OutputRow(scan, &radii, &n);
    if (!row || !radii) continue;
    if (perScanMode_) std::fill(row + 1, row + 1 + n, 0.0f);
    InterpolateOntoGridD(n, radii, row, N_, r_, c_);
    CorrectScan(row, radii, n, scan);
    if (perScanMode_ && output_[scan])
      for (int j = 1; j <= n; ++j) output_[scan][j] += row[j];
  }
}

void CLammIdeal::SolveWithoutDiffusion() {
  for (int k = 1; k <= scanCount_; ++k) {
    const int scan = indexMap_[k];
    const ScanRecord& rec = records_[scan];
    const float* radii = nullptr;
    int n = 0;
    float* row = OutputRow(scan, &radii, &n);
    if (!row || !radii) continue;
    CLLammNoDiffvec(*this, static_cast<float>(c0_), ScanTime(k), rec.rpm, rec.w2t, radii, row,
                    n);
    CorrectScan(row, radii, n, scan);
    if (perScanMode_ && output_[scan])
      for (int j = 1; j <= n; ++j) output_[scan][j] += row[j];
  }
}
