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
#include <string>
#include <type_traits>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

void CLammIdeal::ShowRefusal(const char* text) {
  // Worker threads report through their return code only.
  if (!inWorker_) ErrorBox(text);
}

// ---------------------------------------------------------------- copying

void CLammIdeal::CopySettings(const CLammIdeal& o) {
  static_cast<LammIdealSettings&>(*this) = static_cast<const LammIdealSettings&>(o);
  CopyFluorophoreFrom(o);
  // Per-scan output goes to a block of the copy's own, never the template's.
  AllocPerScanBlock();
  // A reused solver starts without the errors and abort requests of its
  // last run.
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

bool CLammIdeal::PlainSectorRun() const {
  if (!loaded_ || !geometryValid_ || !outputValid_ || !modelSet_ || !parametersValid_ || !scans_.indexMap ||
      scans_.scanCount < 1)
    return false;
  if (specialGeometry_ || schedule_ || zone_.on || initialProfile_ || timed_.on || medium_.inhomogeneous ||
      solventGiven_ || concDependentSolver_ || concDependentModel_ || nonIdealPlain_ || nonIdealModel_ ||
      tableModel_ || syntheticBoundary_ || fluorophore_)
    return false;
  const LammDetection& d = detection_;
  if (d.magnification || d.drift || d.shadow || d.convolution || d.wiener || scans_.timeResolution ||
      scans_.radialResolution)
    return false;
  if (!(s_ != 0 && std::isfinite(s_)) || !(D_ > 0 && std::isfinite(D_)) || !(meniscus_ > 0) ||
      !(bottom_ > meniscus_) || !(c0_ >= 0 && std::isfinite(c0_)))
    return false;
  for (int k = 1; k <= scans_.scanCount; ++k) {
    const double rpm = scans_.records[scans_.indexMap[k]].rpm;
    if (!(rpm > 0 && std::isfinite(rpm))) return false;
  }
  return true;
}

namespace {

// Appends the bytes of plain values to a key.
class KeyWriter {
 public:
  explicit KeyWriter(std::string& key) : key_(key) {}
  template <typename... T>
  void operator()(const T&... values) {
    (Append(values), ...);
  }

 private:
  template <typename T>
  void Append(const T& value) {
    static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>);
    key_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  std::string& key_;
};

}  // namespace

std::string CLammIdeal::PlainRunKey(bool withLoading) const {
  std::string key;
  if (!PlainSectorRun()) return key;
  KeyWriter put(key);
  put(s_, D_, withLoading || !(c0_ > 0) ? c0_ : 1.0, meniscus_, bottom_, leftFitLimit_, rightFitLimit_, rightLimitInside_, detailCode_);
  const LammScanOutput& o = scans_;
  put(o.records, o.grid, o.gridLength, o.perScanRadii, o.perScanCounts, o.indexMap, o.scanCount, o.showProgress,
      o.suppressText1, o.suppressText2, o.timeResolution, o.scanVelocity, o.radialResolution, o.convolutionRange,
      o.absorbanceData);
  for (int k = 1; k <= o.scanCount; ++k) {
    const ScanRecord& r = o.records[o.indexMap[k]];
    put(o.indexMap[k], r.rpm, r.timeRead, r.w2t, r.time, r.acceleration, r.accelerationTime);
  }
  put(perScanMode_, perScanFactor_, forcedSegments_, startTimeOffset_);
  const LammModelOptions& m = opt_;
  put(m.minNodes, m.maxNodes, m.pointsPerWidth, m.forceSteep, m.backDiffusionTolerance, m.backDiffusionCheck,
      m.optimiseGrid, m.automaticGridSize, m.ff0, m.linearRamp, m.fixedTimeStep, m.solverSetting, m.steadyTolerance,
      m.sGridValue, m.automaticSGrid, m.solverSwitch, m.automaticAlgorithm, m.stepTolerance, m.stepLowerTolerance,
      m.stepTarget, m.stepBase, m.defaultNodes, m.gridSetting, m.movingFrame, m.staticGrid, m.truncationSetting,
      m.truncationLevel, m.truncateDynamically, m.blend, m.stepFactor, m.reducedSThreshold, m.optimisedThreshold);
  put(parametersValid_, stepLimit_, wideEndLayersStatic_);
  const LammSolutionConditions& c = conditions_;
  put(c.temperature, c.viscosity, c.density, c.vbar, c.vbarDensity);
  const LammRotor& r = rotor_;
  put(r.checkAcceleration, r.maxStepAccelerating, r.accelDuration, r.accelRate, r.finalRpm, r.rpm, r.sw2Final);
  put(movingCandidate_, staticCandidate_, refineRadius_, steep_, scheduleGrid_, defaultGrid_, retry_,
      refineRequested_, grading_);
  put(initialDt_, startTime_, maxTimeGiven_, maxTimeValue_, continueAfterLast_, watchFraction_, massTracking_);
  put(gridClass_, kernelLength_, convFirst_, convLast_, positiveSOnly_, debug_);
  for (float v : kernel_) put(v);
  return key;
}

double CLammIdeal::TimeAtFullSpeed(int k) const {
  const ScanRecord& first = scans_.records[scans_.indexMap[1]];
  const double rampEnd = opt_.linearRamp && first.accelerationTime >= 10.0 ? first.accelerationTime : 0.0;
  return std::max(0.0, ScanTime(k) - std::max(startTime_, rampEnd));
}

// The layer at sedimentation equilibrium holds c / c0 = A exp(-sigma d / 2) / (1 - exp(-A)),
// sigma = |s| w^2 / D, A = sigma (b^2 - m^2) / 2, d = b^2 - r^2 (floating: r^2 - m^2); in logs.
double CLammIdeal::LogEquilibriumShare(double omega2, double r) const {
  const double m = meniscus_, b = bottom_;
  const double sigma = std::fabs(s_) * 1e-13 * omega2 / D_;
  const double A = sigma * (b * b - m * m) / 2;
  const double d = s_ > 0 ? b * b - r * r : r * r - m * m;
  return std::log(A) - sigma * d / 2 - std::log(-std::expm1(-A));
}

double CLammIdeal::SlowestScanRpm() const {
  if (!std::isnan(solveSlowestRpm_)) return solveSlowestRpm_;
  double rpmLow = HUGE_VAL;
  for (int k = 1; k <= scans_.scanCount; ++k) rpmLow = std::min<double>(rpmLow, scans_.records[scans_.indexMap[k]].rpm);
  return rpmLow;
}

bool CLammIdeal::FitRangeRead(double* low, double* high) const {
  const double m = meniscus_, b = bottom_;
  *low = leftFitLimit_, *high = rightFitLimit_;
  if (!perScanMode_ && scans_.grid) {
    double below = m, above = b;
    for (int i = 1; i <= scans_.gridLength; ++i) {
      const double r = scans_.grid[i];
      if (r <= leftFitLimit_) below = std::max(below, r);
      if (r >= rightFitLimit_) above = std::min(above, r);
    }
    *low = below, *high = above;
  }
  return m <= *low && *low < *high && *high <= b;
}

bool CLammIdeal::EndLayerApartFromTheFitRange() const {
  double low = 0, high = 0;
  if (!PlainSectorRun() || !FitRangeRead(&low, &high)) return false;
  return LogEquilibriumShare(Omega2(SlowestScanRpm()), s_ > 0 ? high : low) < std::log(kApartEndLayerLevel);
}

bool CLammIdeal::FitRangeEmptyInEveryScan() const {
  if (!PlainSectorRun()) return false;
  const double s = s_, D = D_, m = meniscus_, b = bottom_;
  const double rpmLow = SlowestScanRpm();
  // The radii whose values a fitted point reads: the fit limits, on a common
  // grid widened to the grid radii around them.
  double low = 0, high = 0;
  if (!FitRangeRead(&low, &high)) return false;
  // The layer, even at equilibrium at the slowest speed, at the edge of the
  // range nearest to it.
  if (!(LogEquilibriumShare(Omega2(rpmLow), s > 0 ? high : low) < std::log(kEmptyFitRangeLevel / 2))) return false;
  // In log r a particle drifts at s w^2 and diffuses at D / r^2 <= D / m^2 (the
  // sector's own term cancels), so that it lags its sharp path by a in log r
  // with a probability below exp(-a^2 m^2 / (4 D t)); the end it reflects at
  // is the layer's. Nothing moves during a ramp.
  const double sw2Low = std::fabs(s) * 1e-13 * Omega2(rpmLow);
  for (int k = 1; k <= scans_.scanCount; ++k) {
    const double spread = ScanTime(k) - std::min(startTime_, 0.0);
    if (!(spread > 0)) return false;
    const double past = sw2Low * TimeAtFullSpeed(k) - (s > 0 ? std::log(high / m) : std::log(b / low));
    if (!(past > 0) || !(-past * past * m * m / (4 * D * spread) < std::log(kEmptyFitRangeLevel / 2))) return false;
  }
  return true;
}

bool CLammIdeal::FitRangeInPlateauInEveryScan() const {
  if (!PlainSectorRun() || startTime_ != 0) return false;
  const ScanRecord& first = scans_.records[scans_.indexMap[1]];
  if (opt_.linearRamp && first.accelerationTime >= 10.0) return false;
  for (int k = 2; k <= scans_.scanCount; ++k)
    if (scans_.records[scans_.indexMap[k]].rpm != first.rpm) return false;
  double low = 0, high = 0;
  if (!FitRangeRead(&low, &high)) return false;
  const double s = s_, D = D_, m = meniscus_, b = bottom_;
  const double sw2 = s * 1e-13 * Omega2(first.rpm);
  for (int k = 1; k <= scans_.scanCount; ++k) {
    const double t = ScanTime(k);
    if (!(t > 0)) return false;
    // Log r travelled by the sharp path (negative when floating); the path
    // back from a radius of the range is nearest to the end the species
    // leaves at its start and to the end it collects at now.
    const double x = sw2 * t;
    const double leaves = s > 0 ? std::log(low / m) - x : std::log(b / high) + x;
    const double collects = s > 0 ? std::log(b / high) : std::log(low / m);
    const double a = std::min(leaves, collects);
    if (!(a > 0) || !(-a * a * m * m / (4 * D * t) < std::log(kPlateauLevel))) return false;
  }
  return true;
}

bool CLammIdeal::SolvePlateauOfTheFitRange() {
  if (!FitRangeInPlateauInEveryScan()) return false;
  InitRotorRamp();
  SolveWithoutDiffusion();
  return true;
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
