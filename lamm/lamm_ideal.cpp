// Construction and copying of CLammIdeal (loading in lamm_setters.cpp, the
// checked run in lamm_checked_run.cpp).
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

  opt_ = o.opt_;
  stepLimit_ = o.stepLimit_;
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
