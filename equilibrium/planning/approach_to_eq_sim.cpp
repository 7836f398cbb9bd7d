#include "equilibrium/planning/approach_to_eq_sim.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "fit/simulation_errors.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "numerics/ccurve.h"
#include "numerics/constants.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {
constexpr float kAcceleration = 280.0f;  // rpm/s of the simulated headers

// w^2 t of a run that ramped at kAcceleration to rpm and held it until t.
double OmegaSquaredT(double rpm, double t, double tAcc) {
  return (4.0 * kPi * kPi / 3600.0) * rpm * rpm * ((t - tAcc) + tAcc / 3.0);
}

}  // namespace

CApproachToEqSim::CApproachToEqSim() { Reset(); }

CApproachToEqSim::~CApproachToEqSim() = default;

void CApproachToEqSim::Reset() {
  scanInterval = 1800;
  radialStep = 0.002f;
  nScans = nPoints = leftIndex = rightIndex = 0;
  radius.reset();
  eqProfile.reset();
  total.reset();
  initial.clear();
  perSpecies.clear();
  scanIndex.reset();
  scanRecords.clear();
  initialRecord = ScanRecord{};
  history.reset();
  initialDuration = 0;
  window = nullptr;
  leftLimit = rightLimit = 0;
  meniscus = 6.75f;
  bottom = 7.2f;
  temperature = 4.0f;
  finalRpm = 10000;
  nSpecies = 1;
  fraction.reset();
  sValue.reset();
  dValue.reset();
  errorCode = 0;
  gridPoints = 400;
  epsRms = epsMax = 0.001f;
  tEqRms = tEqMax = -1;
  timeSec.reset();
  timeHours.reset();
  maxDev.reset();
  rmsDev.reset();
  indexMax = indexRms = 1;
  hasSpeedSteps = false;
  nSteps = 0;
  stepTime.reset();
  stepRpm.reset();
  stepAcc.reset();
  stepMode = 0;
  refusal.clear();
  hasInitialCondition = stepInitial = false;
  vbar = 0.73f;
  density = 1.0f;
  relativeViscosity = 1.0f;
  setUp_ = false;
}

void CApproachToEqSim::SetSolution(float v, float rho, float etaR) {
  vbar = v;
  density = rho;
  relativeViscosity = etaR;
}

void CApproachToEqSim::FillHeader(ScanRecord& h, double t, float rpm) const {
  h = ScanRecord{};
  h.type = 'R';
  h.cell = 1;
  h.temperature = temperature;
  h.rpm = rpm;
  h.wavelength = 0;
  h.headerCount = 0;
  h.points = nPoints;
  h.fileTimesValid = 1;
  h.timeRead = h.time = t;
  h.acceleration = kAcceleration;
  double tAcc = rpm / kAcceleration;
  if (t < tAcc) {
    // Still ramping: the header describes the speed reached so far.
    tAcc = t;
    h.rpm = static_cast<float>(kAcceleration * t);
    h.w2t = OmegaSquaredT(h.rpm, t, tAcc);
  } else {
    h.w2t = OmegaSquaredT(rpm, t, tAcc);
  }
  h.accelerationTime = tAcc;
}

bool CApproachToEqSim::SetupRun(FitHost* w, float maxTimeHours, float b, float m, float right,
                                float left, int n, const float* f, const float* s, const float* D,
                                float T, float rpm) {
  setUp_ = false;
  refusal.clear();
  const double maxTime = static_cast<double>(maxTimeHours) * 3600.0;
  if (!std::isfinite(maxTime) || !(maxTime > 0) ||
      maxTime / scanInterval > kMaxStoredProfiles) {
    refusal = "the simulated time must be finite and above 0";
    return false;
  }
  if (!std::isfinite(m) || !std::isfinite(b) || !(m > 0) || !(m < b) || b - m > 10.0f) {
    refusal = "the meniscus must lie below the bottom";
    return false;
  }
  if (!(rpm > 0) || !std::isfinite(rpm)) {
    refusal = "the final rotor speed must be above 0";
    return false;
  }
  if (n < 1 || !f || !s || !D) {
    refusal = "no species to simulate";
    return false;
  }
  for (int k = 1; k <= n; ++k) {
    if (!std::isfinite(s[k]) || !(D[k] > 0) || !std::isfinite(D[k]) || !std::isfinite(f[k])) {
      refusal = "species without finite s and positive D";
      return false;
    }
  }

  window = w;
  nSpecies = n;
  fraction = DoubleVec(1, n);
  sValue = DoubleVec(1, n);
  dValue = DoubleVec(1, n);
  for (int k = 1; k <= n; ++k) {
    fraction[k] = f[k];
    sValue[k] = s[k];
    dValue[k] = D[k];
  }
  temperature = T;
  finalRpm = rpm;

  nScans = 0;
  for (double t = 0; t < maxTime; t += scanInterval) ++nScans;

  meniscus = m;
  bottom = b;
  if (right < left) std::swap(left, right);
  if (left < meniscus) left = meniscus + 0.01f;
  if (bottom < right) right = bottom - 0.05f;
  leftLimit = left;
  rightLimit = right;

  // Counted as the radii are stepped out in single precision: the last one
  // lies at or up to one step beyond the bottom.
  nPoints = 1;
  for (float r = meniscus; r < bottom; r += radialStep) ++nPoints;
  radius = FloatVec(1, nPoints);
  for (int i = 1; i <= nPoints; ++i) radius[i] = (i - 1) * radialStep + meniscus;
  leftIndex = nPoints + 1;
  for (int i = 1; i <= nPoints; ++i)
    if (radius[i] > leftLimit) {
      leftIndex = i;
      break;
    }
  rightIndex = nPoints;
  for (int i = 1; i <= nPoints; ++i)
    if (radius[i] > rightLimit) {
      rightIndex = i - 1;
      break;
    }
  int inside = 0;
  for (int i = 1; i <= nPoints; ++i)
    if (radius[i] > leftLimit && radius[i] < rightLimit) ++inside;
  if (inside == 0) {
    refusal = "no radius between the left and right limits";
    return false;
  }

  total = FloatMat(1, nScans, 1, nPoints);
  scanIndex = IntVec(1, nScans);
  for (int i = 1; i <= nScans; ++i) scanIndex[i] = i;
  perSpecies.clear();
  perSpecies.resize(static_cast<size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) perSpecies[static_cast<size_t>(k)] = FloatMat(1, nScans, 1, nPoints);

  scanRecords.assign(static_cast<size_t>(nScans) + 1, ScanRecord{});
  for (int i = 1; i <= nScans; ++i)
    FillHeader(scanRecords[static_cast<size_t>(i)], static_cast<double>(i) * scanInterval, finalRpm);

  eqProfile = FloatVec(1, nPoints);
  for (int k = 1; k <= n; ++k) {
    const double sigma = ReducedBuoyantMass(sValue[k], dValue[k], finalRpm);
    for (int i = 1; i <= nPoints; ++i)
      eqProfile[i] += static_cast<float>(
          fraction[k] * IdealEquilibriumConcentration(sigma, radius[i], meniscus, bottom));
  }
  initial.clear();
  hasInitialCondition = stepInitial = false;
  history.reset();
  initialDuration = 0;
  setUp_ = true;
  return true;
}

bool CApproachToEqSim::SetInitialCondition(float initialRpm, const CRotorSpeedProfile* historyProfile,
                                           float historyDuration, float stepPosition,
                                           const ScanSet& scans) {
  if (!setUp_) return false;
  const bool continued = historyDuration > 0;
  if (continued && scans.count < 1) return false;
  initialRecord = ScanRecord{};
  std::strncpy(initialRecord.description, "simulated", sizeof initialRecord.description - 1);
  initialRecord.type = 'R';
  initialRecord.cell = 1;
  initialRecord.temperature = temperature;
  initialRecord.rpm = initialRpm;
  initialRecord.points = nPoints;
  initialRecord.fileTimesValid = 1;
  initialRecord.acceleration = kAcceleration;
  initial.clear();
  initial.resize(static_cast<size_t>(nSpecies) + 1);
  stepInitial = false;

  if (!continued) {
    const bool step = stepPosition > radius[1];
    initialDuration = step ? 1.0f : 100000.0f;
    initialRecord.timeRead = initialRecord.time = initialDuration;
    int j = 1;
    if (step) {
      for (int i = 1; i <= nPoints; ++i)
        if (radius[i] > stepPosition) {
          j = i;
          break;
        }
    }
    for (int k = 1; k <= nSpecies; ++k) {
      FloatVec c(1, nPoints);
      const double sigma = ReducedBuoyantMass(sValue[k], dValue[k], initialRpm);
      if (!step) {
        for (int i = 1; i <= nPoints; ++i)
          c[i] = static_cast<float>(IdealEquilibriumConcentration(sigma, radius[i], meniscus, bottom));
      } else {
        const float plateau =
            static_cast<float>(StepPlateauConcentration(sigma, radius[j], meniscus, bottom));
        for (int i = j; i <= nPoints; ++i) c[i] = plateau;
        if (j > 1) c[j - 1] = 0.2f * plateau;
        c[j] = 0.5f * plateau;
        if (j < nPoints) c[j + 1] = 0.8f * plateau;
      }
      initial[static_cast<size_t>(k)] = std::move(c);
    }
    stepInitial = step;
  } else {
    int last = scans.count;
    if (static_cast<int>(scans.order.size()) > scans.count &&
        scans.order[static_cast<size_t>(scans.count)] > 0)
      last = scans.order[static_cast<size_t>(scans.count)];
    if (last < 1 || static_cast<size_t>(last) >= scans.records.size()) return false;
    initialRecord.rpm = scans.records[static_cast<size_t>(last)].rpm;
    initialDuration = historyDuration;
    initialRecord.timeRead = initialRecord.time = initialDuration;
  }

  // The header's own speed and ramp; the history is simulated with them.
  double tAcc = initialRecord.rpm / kAcceleration;
  if (initialRecord.time < tAcc) {
    tAcc = initialRecord.time;
    initialRecord.rpm = static_cast<float>(kAcceleration * initialRecord.time);
  }
  initialRecord.w2t = OmegaSquaredT(initialRecord.rpm, initialRecord.time, tAcc);
  initialRecord.accelerationTime = tAcc;

  if (continued) {
    history = std::make_unique<CRotorSpeedProfile>();
    if (historyProfile && historyProfile->multiStep && historyProfile->stepCount > 0)
      history->CopyFrom(*historyProfile);
    for (int k = 1; k <= nSpecies; ++k) {
      initial[static_cast<size_t>(k)] = SimulateHistory(1.0f, sValue[k], dValue[k]);
      if (errorCode > 0) return false;  // reported; no profile to start from
    }
  }
  hasInitialCondition = true;
  return true;
}

void CApproachToEqSim::PrepareSolver(CLammIdeal& L, double s, double D) const {
  const LammSolverSettings& st = LammSettings();
  const int lo = gridPoints / 2, hi = 2 * gridPoints;
  // A speed programme runs on the default grid size rather than one chosen
  // from the boundary: gridPoints nodes keep the rms deviation within 2e-5 of
  // a four times finer grid at a quarter of its cost.
  const int defaultNodes = gridPoints;
  L.MarkLoaded();
  L.SetOutputParameters(s, D, meniscus, bottom, 1.0, leftLimit, rightLimit);
  L.SetModelOptions({.minNodes = lo, .maxNodes = hi, .pointsPerWidth = 5.0f, .forceSteep = false,
                     .backDiffusionTolerance = 1e-8,
                     .backDiffusionCheck = st.shutOffBackDiffusion != 0,
                     .optimiseGrid = st.optimiseTimeInvariantGrid != 0,
                     .automaticGridSize = st.automaticGridSize != 0, .ff0 = 1.0f,
                     .linearRamp = st.rampRotorSpeed != 0, .fixedTimeStep = st.fixedTimeStep != 0,
                     .solverSetting = 0, .steadyTolerance = 1e-8, .sGridValue = st.gridS,
                     .automaticSGrid = st.automaticSGrid != 0, .solverSwitch = false,
                     .automaticAlgorithm = st.automaticAlgorithm != 0,
                     .stepTolerance = st.workingMaxDcOverC,
                     .stepLowerTolerance = st.lowerStepThreshold,
                     .stepTarget = st.upperStepThreshold, .stepBase = st.workingMaxDcOverC,
                     .defaultNodes = defaultNodes, .gridSetting = 0, .movingFrame = false,
                     .staticGrid = true, .truncationSetting = 1e-4f,
                     .truncationLevel = st.truncationLevel,
                     .truncateDynamically = st.truncateGrid != 0, .blend = 1.0, .stepFactor = 2.0,
                     .reducedSThreshold = st.automaticSwitchS,
                     .optimisedThreshold = st.automaticSwitchSOptimised});
  L.SetSolventAndComputeFrictionalRatio(temperature, vbar, density, relativeViscosity);
  L.SetMaxTime(100);
}

FloatVec CApproachToEqSim::SimulateHistory(float c0, double s, double D) {
  FloatVec profile(1, nPoints);
  errorCode = 0;
  FloatMat out(1, 1, 1, nPoints);
  int index[2] = {0, 1};
  ScanRecord records[2] = {ScanRecord{}, initialRecord};
  CLammIdeal L;
  PrepareSolver(L, s, D);
  L.SetScanTimes({.records = records, .output = out, .grid = radius, .gridLength = nPoints,
                  .indexMap = index, .scanCount = 1, .absorbanceData = false});
  if (history && history->stepCount > 1) L.LoadFromThreadJob(*history);
  errorCode = L.CheckAndRun();
  if (errorCode > 0 && window) ReportSimulationError(window, errorCode);
  for (int i = 1; i <= nPoints; ++i) profile[i] = c0 * out[1][i];
  return profile;
}

void CApproachToEqSim::SetSpeedSteps(int n, const float* times, const float* rpms,
                                     const float* accs, int mode) {
  hasSpeedSteps = false;
  nSteps = 0;
  if (n < 1 || !times || !rpms || !accs) return;
  nSteps = n;
  stepTime = FloatVec(1, n);
  stepRpm = FloatVec(1, n);
  stepAcc = FloatVec(1, n);
  for (int i = 1; i <= n; ++i) {
    stepTime[i] = times[i];
    stepRpm[i] = rpms[i];
    stepAcc[i] = accs[i];
  }
  stepMode = mode;
  hasSpeedSteps = true;
}

bool CApproachToEqSim::Run() {
  errorCode = 0;
  if (!setUp_) return false;
  CLammIdeal L;
  PrepareSolver(L, sValue[1], dValue[1]);
  L.SetScanTimes({.records = scanRecords.data(), .output = perSpecies[1], .grid = radius,
                  .gridLength = nPoints, .indexMap = scanIndex, .scanCount = nScans,
                  .absorbanceData = false});
  if (hasInitialCondition && !L.LoadInitialDistribution(nPoints, radius, initial[1]))
    ErrorBox("\n\x07" "Attention: error loading initial distribution to CLammIdeal");
  if (hasSpeedSteps) L.LoadSpecies(nSteps, stepTime, stepRpm, stepAcc, stepMode);

  std::vector<float**> outputs(static_cast<size_t>(nSpecies) + 1, nullptr);
  std::vector<float*> starts(static_cast<size_t>(nSpecies) + 1, nullptr);
  for (int k = 1; k <= nSpecies; ++k) {
    outputs[static_cast<size_t>(k)] = perSpecies[static_cast<size_t>(k)];
    if (hasInitialCondition) starts[static_cast<size_t>(k)] = initial[static_cast<size_t>(k)];
  }
  // The list's float is the common vbar; every species runs at unit loading.
  if (hasInitialCondition)
    errorCode = CLRunMTListUniformC0B(&L, nSpecies, sValue, dValue, vbar, outputs.data(), radius,
                                      nPoints, nullptr, nullptr, nPoints, radius, starts.data());
  else
    errorCode = CLRunMTListUniformC0(&L, nSpecies, sValue, dValue, vbar, outputs.data(), radius,
                                     nPoints, nullptr, nullptr);
  if (errorCode > 0 && window) ReportSimulationError(window, errorCode);

  for (int i = 1; i <= nScans; ++i)
    for (int j = 1; j <= nPoints; ++j) {
      double sum = 0;
      for (int k = 1; k <= nSpecies; ++k) sum += fraction[k] * perSpecies[static_cast<size_t>(k)][i][j];
      total[i][j] = static_cast<float>(sum);
    }
  // A stop during the list leaves profiles unsolved.
  if (platform::StopFlag()) return false;
  return errorCode < 1;
}

void CApproachToEqSim::ComputeDistanceToEq(float rmsThreshold, float maxThreshold) {
  epsRms = rmsThreshold;
  epsMax = maxThreshold;
  timeSec = FloatVec(1, nScans);
  timeHours = FloatVec(1, nScans);
  maxDev = FloatVec(1, nScans);
  rmsDev = FloatVec(1, nScans);
  const float massEq = RadialIntegral(eqProfile);
  for (int i = 1; i <= nScans; ++i) {
    float factor = 1;
    if (stepInitial) {
      const float mass = RadialIntegral(total[i]);
      if (mass > 0) factor = massEq / mass;
    }
    timeSec[i] = static_cast<float>(scanRecords[static_cast<size_t>(i)].time);
    timeHours[i] = timeSec[i] / 3600.0f;
    double sum = 0, largest = 0;
    int count = 0;
    for (int j = 1; j <= nPoints; ++j) {
      if (!(radius[j] > leftLimit && radius[j] < rightLimit)) continue;
      const double d = factor * total[i][j] - eqProfile[j];
      largest = std::max(largest, std::fabs(d));
      sum += d * d;
      ++count;
    }
    maxDev[i] = static_cast<float>(largest);
    rmsDev[i] = count > 0 ? static_cast<float>(std::sqrt(sum / count)) : 0.0f;
  }
  indexRms = indexMax = nScans;
  for (int i = 1; i <= nScans - 1; ++i)
    if (rmsDev[i] < epsRms) {
      indexRms = i;
      break;
    }
  for (int i = 1; i <= nScans - 1; ++i)
    if (maxDev[i] < epsMax) {
      indexMax = i;
      break;
    }
  tEqRms = nScans > 0 ? timeSec[indexRms] : -1;
  tEqMax = nScans > 0 ? timeSec[indexMax] : -1;
}

int CApproachToEqSim::BottomIndex() const {
  // Stored radii are stepped out in single precision: a radius within a
  // hundredth of a step of the bottom is the bottom.
  int j = 1;
  for (int i = 1; i <= nPoints; ++i)
    if (radius[i] <= bottom + 0.01f * radialStep) j = i;
  return j;
}

float CApproachToEqSim::MaxBottomOverconcentration() const {
  if (nScans < 1 || nPoints < 1) return 0;
  const int j = BottomIndex();
  float highest = total[1][j];
  for (int i = 2; i <= nScans; ++i) highest = std::max(highest, total[i][j]);
  return eqProfile[j] > 0 ? highest / eqProfile[j] : 0.0f;
}

float CApproachToEqSim::RadialIntegral(const float* c) const {
  if (!c || nPoints < 2) return 0;
  // The mean spacing: one radius rounded in single precision does not skew it.
  const double r1 = radius[1], rn = radius[nPoints], d = (rn - r1) / (nPoints - 1);
  double sum = (d / 6.0) * (3.0 * r1 + d) * c[1] + (d / 6.0) * (3.0 * rn - d) * c[nPoints];
  for (int i = 2; i <= nPoints - 1; ++i) sum += static_cast<double>(c[i]) * radius[i] * d;
  return static_cast<float>(sum);
}

bool CApproachToEqSim::BuildRpmTimeCourse(int* n, float** t, float** rpm, CVector** tView,
                                          CVector** rpmView, CCurve** curve) const {
  if (!n || !t || !rpm) return false;
  const int steps = hasSpeedSteps ? nSteps : 1;
  auto time = [&](int i) { return hasSpeedSteps ? stepTime[i] : 0.0f; };
  auto speed = [&](int i) { return hasSpeedSteps ? stepRpm[i] : finalRpm; };
  auto rate = [&](int i) { return hasSpeedSteps ? stepAcc[i] : kAcceleration; };
  const int count = 2 * steps + 1;
  float* x = vector(1, count);
  float* y = vector(1, count);
  x[1] = 0;
  y[1] = 0;
  x[2] = speed(1) / rate(1);
  y[2] = speed(1);
  int k = 2;
  for (int i = 2; i <= steps; ++i) {
    x[++k] = time(i);
    y[k] = speed(i - 1);
    x[++k] = time(i) + std::fabs(speed(i) - speed(i - 1)) / rate(i);
    y[k] = speed(i);
  }
  x[count] = nScans > 0 ? static_cast<float>(scanRecords[static_cast<size_t>(nScans)].time)
                        : 1.5f * x[count - 1];
  y[count] = speed(steps);
  for (int i = 1; i <= count; ++i) x[i] /= 3600.0f;
  *n = count;
  *t = x;
  *rpm = y;
  if (tView && rpmView) {
    *tView = new CVector();
    (*tView)->Attach(x, count, 1);
    *rpmView = new CVector();
    (*rpmView)->Attach(y, count, 1);
    if (curve) *curve = new CCurve(*tView, *rpmView);
  }
  return true;
}

std::unique_ptr<CApproachToEqSim>& ConstantSpeedSimulation() {
  static std::unique_ptr<CApproachToEqSim> sim;
  return sim;
}
