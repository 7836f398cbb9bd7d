// Copying a CLammIdeal, and the small pieces every stage of a run shares:
// the scan times, the output rows, the refusal box. The files of the class
// read top-down: the checked run (lamm_checked_run.cpp) on top, then the
// solver paths, the per-step output, loading and grid choice, and below
// them the rotor, the detection corrections, the solvent and the work
// memory; none of them calls a file above it.
#include "lamm/lamm_ideal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

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

  // The index map stays a reference: never owned by the copy.
  scans_ = o.scans_;
  perScanMode_ = o.perScanMode_;
  threadNumber_ = o.threadNumber_;
  outputValid_ = o.outputValid_;
  AllocPerScanBlock();
  startTimeOffset_ = o.startTimeOffset_;

  opt_ = o.opt_;
  stepLimit_ = o.stepLimit_;
  parametersValid_ = o.parametersValid_;

  conditions_ = o.conditions_;
  zone_ = o.zone_;
  rotor_ = o.rotor_;

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

  detection_ = o.detection_;
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
  specialGeometry_ = o.specialGeometry_;
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
  medium_ = o.medium_;
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

double CLammIdeal::ScanTime(int k) const {
  const ScanRecord& rec = scans_.records[scans_.indexMap[k]];
  // With a simulated acceleration the scans' real elapsed times apply; at
  // constant speed the time equivalent of their w^2 t.
  const double t = (opt_.linearRamp || schedule_) ? rec.time : rec.timeRead;
  return startTimeOffset_ + t;
}

float* CLammIdeal::OutputRow(int scan, const float** radii, int* n) {
  if (perScanMode_) {
    *radii = scans_.perScanRadii[scan];
    *n = scans_.perScanCounts[scan];
    return ownMatrixBlock_ ? ownMatrixBlock_ + static_cast<size_t>(scan - 1) * ownCols_ - 1
                           : nullptr;
  }
  *radii = scans_.grid;
  *n = scans_.gridLength;
  return scans_.output[scan];
}

// Per-scan output needs a block of its own, a row per scan as wide as the
// longest scan (zeroed).
void CLammIdeal::AllocPerScanBlock() {
  delete[] ownMatrixBlock_;
  ownMatrixBlock_ = nullptr;
  ownRows_ = ownCols_ = 0;
  if (perScanMode_ && scans_.perScanCounts && scans_.scanCount > 0) {
    int cols = 0;
    for (int k = 1; k <= scans_.scanCount; ++k) cols = std::max(cols, scans_.perScanCounts[k]);
    ownRows_ = scans_.scanCount;
    ownCols_ = cols;
    ownMatrixBlock_ = new float[static_cast<size_t>(ownRows_) * std::max(1, ownCols_)]();
  }
}

void CLammIdeal::CopyFluorophoreFrom(const CLammIdeal& o) {
  fluorophore_.reset();
  fluorophoreWavelength_ = o.fluorophoreWavelength_;
  if (!o.fluorophore_) return;
  fluorophore_ = std::make_unique<CFluorophore>();
  o.fluorophore_->CopyTo(fluorophore_.get());
}
