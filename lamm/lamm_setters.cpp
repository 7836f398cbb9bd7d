// Loading a CLammIdeal: species, geometry, scans and output, model options,
// solvent and detection settings, each checked where it is set.
#include "lamm/lamm_ideal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

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
  if (!std::isfinite(s) || !std::isfinite(D) || !std::isfinite(meniscus) || !std::isfinite(bottom) || !std::isfinite(c0) ||
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

// A radial convolution needs the output grid classified and its kernel built.
void CLammIdeal::PrepareOutputStorage() {
  AllocPerScanBlock();
  if (detection_.convolution && outputValid_) {
    ClassifyOutputGrid();
    BuildConvolutionKernel();
  }
}

void CLammIdeal::SetSpeciesAndOutput(double s, double D, float** output, const float* grid,
                                     int gridLength, float** perScanRadii,
                                     const int* perScanCounts) {
  s_ = s;
  D_ = D;
  if (!std::isfinite(s) || !std::isfinite(D)) geometryValid_ = false;
  if (D < 0) {
    geometryValid_ = false;
    detailCode_ = 3;
  }
  scans_.output = output;
  scans_.grid = grid;
  scans_.gridLength = gridLength;
  scans_.perScanRadii = perScanRadii;
  scans_.perScanCounts = perScanCounts;
  perScanMode_ = !grid || gridLength < 1;
  outputValid_ = scans_.records && scans_.output && scans_.scanCount >= 1;
  if (perScanMode_ && (!scans_.perScanRadii || !scans_.perScanCounts)) outputValid_ = false;
  PrepareOutputStorage();
}

void CLammIdeal::SetScanTimes(const LammScanOutput& in) {
  const LammScanOutput before = scans_;
  scans_ = in;
  outputValid_ = in.records && in.output;
  perScanMode_ = !in.grid || in.gridLength < 1;
  if (perScanMode_ && (!in.perScanRadii || !in.perScanCounts)) outputValid_ = false;
  if (in.scanCount < 1) outputValid_ = false;
  delete[] ownedIndexMap_;
  ownedIndexMap_ = nullptr;
  if (!in.indexMap && in.scanCount > 0) {
    ownedIndexMap_ = new int[static_cast<size_t>(in.scanCount) + 1];
    ownedIndexMap_[0] = 0;
    for (int k = 1; k <= in.scanCount; ++k) ownedIndexMap_[k] = k;
    scans_.indexMap = ownedIndexMap_;
  }
  // A velocity or range that is not positive keeps the one before.
  if (!(in.scanVelocity > 0)) scans_.scanVelocity = before.scanVelocity;
  if (scans_.scanVelocity <= 0) scans_.timeResolution = false;
  if (!(in.convolutionRange > 0)) scans_.convolutionRange = before.convolutionRange;
  if (scans_.convolutionRange <= 0) scans_.radialResolution = false;
  if (!in.absorbanceData) scans_.timeResolution = scans_.radialResolution = false;
  PrepareOutputStorage();
}

void CLammIdeal::SetModelOptions(const LammModelOptions& o) {
  const LammModelOptions before = opt_;
  opt_ = o;
  // Sizes and tolerances that are not positive keep the values before.
  if (!(o.minNodes > 0)) opt_.minNodes = before.minNodes;
  if (!(o.maxNodes > 0)) opt_.maxNodes = before.maxNodes;
  if (!(o.pointsPerWidth > 0)) opt_.pointsPerWidth = before.pointsPerWidth;
  if (!(o.backDiffusionTolerance > 0))
    opt_.backDiffusionTolerance = before.backDiffusionTolerance;
  if (!(o.sGridValue > 0)) opt_.sGridValue = before.sGridValue;
  if (opt_.movingFrame && opt_.staticGrid) opt_.movingFrame = false;  // the static grid wins
  parametersValid_ = !(opt_.ff0 <= 0 && D_ > 0);
  // Settings the step control divides by or sizes arrays with.
  if (!(opt_.stepBase > 0) || !(opt_.stepFactor > 0) || !(opt_.blend > 0) ||
      opt_.defaultNodes < 3 || opt_.minNodes < 3 || opt_.maxNodes < opt_.minNodes)
    parametersValid_ = false;
}

void CLammIdeal::SetSolventAndComputeFrictionalRatio(double T, double vbar, double density,
                                                     double viscosity) {
  conditions_.temperature = T;
  conditions_.vbar = vbar;
  // A species of its own vbar (a c(s) list copies its prototype's solvent)
  // floats by its own buoyancy in an inhomogeneous solvent too.
  medium_.bufferVbar = static_cast<float>(vbar);
  solventVbar_ = vbar;
  conditions_.density = density;
  conditions_.viscosity = viscosity;
  conditions_.vbarDensity = vbar * density;
  double M = 0;
  if (D_ > 0) M = (T + 273.15) * 8.31451e7 * s_ * 1e-13 / ((1 - vbar * density) * D_);
  double f0 = 0;
  if (M > 0 && vbar > 0) {
    const double V = 1.6605392767355127e-24 * M * vbar * 1e-6;
    const double R0 = std::exp(std::log(0.07957747163687819 * 3 * V) * 0.333333333333333);
    f0 = viscosity * 0.018887255011800004 * R0 * 1000;
  }
  if (f0 > 0 && s_ != 0)
    opt_.ff0 = (1.6605392767355127e-24 * (1 - vbar * density) * M / (1e-13 * s_)) / f0;
  else
    opt_.ff0 = 0;
}

void CLammIdeal::SetGeometryFlags(bool zoneLoading, float lamellaWidth, bool inverse) {
  zone_.on = zoneLoading;
  zone_.lamellaWidth = zoneLoading ? lamellaWidth : 0.1f;
  zone_.inverse = zoneLoading && inverse;
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

void CLammIdeal::ClearRunFlag() { rotor_.checkAcceleration = false; }

void CLammIdeal::SetStartTimeOffset(float r0) {
  // The scanner needs (meniscus - r0) / v to reach the meniscus; v is in
  // cm/min, so the offset in seconds carries the factor 60.
  startTimeOffset_ = 0;
  if (scans_.absorbanceData && scans_.scanVelocity > 0 && scans_.timeResolution) {
    const double off = (meniscus_ - r0) * 60.0 / scans_.scanVelocity;
    startTimeOffset_ = std::max(0.0, off);
  }
}

void CLammIdeal::SetStretchFactor(bool use, float onePlusDaDr) {
  detection_.magnification = use;
  detection_.dadr = use ? onePlusDaDr - 1.0 : 0.0;
}

void CLammIdeal::SetTimeShiftOptions(bool use, bool linear, double linearRatePerHour,
                                     bool exponential, double exponentialRatePerHour,
                                     double level) {
  detection_.drift = use;
  detection_.driftLinear = use && linear;
  detection_.driftLinearRate = detection_.driftLinear ? linearRatePerHour / 3600.0 : 0;
  detection_.driftExponential = use && exponential;
  detection_.driftExpRate = detection_.driftExponential ? exponentialRatePerHour / 3600.0 : 0;
  detection_.driftLevel = detection_.driftExponential ? level : 1.0;
}

void CLammIdeal::SetSecondCoefficient(bool use, float coneRadius) {
  detection_.shadow = use;
  detection_.coneRadius = use ? coneRadius : 0;
}

void CLammIdeal::SetRadialConvolution(bool use, float width, float rangeFactor) {
  detection_.convolution = use && width > 0.001f;
  detection_.convWidth = detection_.convolution ? width : 0;
  detection_.convRange = detection_.convolution ? rangeFactor : 0;
  if (detection_.convolution && outputValid_) {
    ClassifyOutputGrid();
    BuildConvolutionKernel();
  }
}

void CLammIdeal::EnableOptionWithTwoValues(float gain, float second) {
  detection_.wiener = true;
  detection_.wienerGain = gain;
  detection_.wienerSecond = second;
  detection_.wienerConflict = false;
}

void CLammIdeal::SetTimedProfiles(int count, int length, float** table,
                                  float*** perSpeciesTables, const double* times,
                                  const float* radii) {
  timed_.on = (table || perSpeciesTables) && times && count > 0 && length > 0;
  timed_.perSpecies = timed_.on && perSpeciesTables;
  timed_.count = count;
  timed_.length = length;
  timed_.table = table;
  timed_.tables = perSpeciesTables;
  timed_.times = times;
  timed_.radii = radii;
  timed_.next = 1;
  timed_.nextTime = times ? times[1] : 0;
}

bool CLammIdeal::LoadInitialDistribution(int n, const float* radii, const float* values) {
  initialProfile_ = false;
  // With a component table the loading is the table's weighted sum.
  if (tableModel_) return false;
  if (!radii || !values || n < 2) return false;
  if (radii[1] > static_cast<float>(meniscus_) || radii[n] < static_cast<float>(bottom_))
    return false;
  initialRadii_.assign(static_cast<size_t>(n) + 1, 0.0);
  initialValues_.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) {
    initialRadii_[i] = radii[i];
    initialValues_[i] = values[i];
  }
  initialCount_ = n;
  initialProfile_ = true;
  return true;
}

void CLammIdeal::SetSolventComponents(const LammSolventComponents& in) {
  nonIdealValid_ = false;
  nonIdealPlain_ = in.plainModel;
  nonIdealModel_ = in.model;
  concDependentSolver_ = in.concDependentSolver;
  nonIdealThird_ = in.third;
  tableModel_ = in.tableModel;
  concDependentModel_ = !in.plainModel && (in.model || in.third || in.tableModel);
  componentCount_ = 0;
  if (in.count > 0) {
    const double* conc = in.concentrations;
    if (!conc || !in.sValues || !in.dValues) return;
    int count = in.count;
    while (count > 0 && conc[count] == 0) --count;  // trailing empty components
    const size_t n = static_cast<size_t>(count) + 1;
    compConc_.assign(n, 0.0);
    compS_.assign(n, 0.0);
    compD_.assign(n, 0.0);
    compWeight_.assign(n, 0.0);
    for (int k = 1; k <= count; ++k) {
      compConc_[k] = conc[k];
      compS_[k] = in.sValues[k];
      compD_[k] = in.dValues[k];
      compWeight_[k] = in.weights ? in.weights[k] : 1.0;
    }
    componentCount_ = count;
  }
  for (int k = 0; k < 8; ++k) nonIdealFurther_[k] = in.further ? in.further[k] : 0.0;
  syntheticBoundary_ = in.syntheticBoundary && in.overlayFractions;
  boundaryPosition_ = in.boundaryPosition;
  overlayFraction_.assign(static_cast<size_t>(std::max(in.count, 1)) + 1, 1.0);
  if (syntheticBoundary_)
    for (int k = 1; k <= std::max(in.count, 1); ++k) overlayFraction_[static_cast<size_t>(k)] = in.overlayFractions[k];
  s_ = in.s;
  D_ = in.D;
  c0_ = in.c0;
  bool valid = in.D != 0 && !in.plainModel && in.concDependentSolver &&
               (!in.tableModel || componentCount_ > 0);
  for (int k = 1; k <= componentCount_; ++k)
    if (!(compD_[k] > 0)) valid = false;
  concDependentModel_ = concDependentModel_ && valid;
  nonIdealValid_ = valid;
  opt_.automaticGridSize = false;
  opt_.optimiseGrid = false;
  if (in.tableModel) opt_.forceSteep = true;
}

void CLammIdeal::SetReactionParameters(const LammInhomogeneousSolvent& solvent) {
  medium_ = solvent;
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
