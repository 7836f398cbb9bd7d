#include "fit/species_simulation.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "fit/amplitudes.h"
#include "fit/conc_dependent_evaluation.h"
#include "fit/dls_kernels.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/lamm_start_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/signal_shapes.h"
#include "fit/simulation_errors.h"
#include "fit/simulation_switches.h"
#include "fit/solvent_gradient.h"
#include "fit/species_slots.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/amount_kept.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"

unsigned char gFaxenApproximation = 0;
int gDlsSpeciesCount = 0;

namespace {
constexpr double kGasConstant = 8.31451e7;  // erg / (mol K)

// Start radius and boundary-width grid size of the automatic grid rule,
// kept for the retry ladder.
float gStartRadius = 0;
double gWidthGridSize = 0;
// Read by the static-grid solver: the frictional ratio was too small for
// the automatic grid.
unsigned char gStaticGridDefault = 0;

bool ZoneLoading() { return gModelSelectorFlags.ZoneCentrifugationModel != 0; }

bool PlainLoading() { return !ZoneLoading() && !ExperimentalInitialDistributionInUse(); }

void NotAvailable(FitHost* host, const char* text) {
  if (!host) return;
  host->PlaySoundError();
  host->MessageBox("ERROR in simulation", text, platform::BoxIcon::None);
}

// Grid initial concentration of a species loaded at amplitude A (fraction f
// of the total for an experimental initial distribution).
void SetGridInitialConcentration(double A, double fraction) {
  LammGrid& g = CurrentLammGrid();
  const ScanSet& ss = CurrentScanSet();
  const int N = g.AllocatedGridSize;
  if (ExperimentalInitialDistributionInUse()) {
    // The first component with its own nonideality needs a concentration
    // of no less than 0.
    const bool nonideal = gModelSelectorFlags.ConcDependentSolverSwitch && CurrentLammRunState().species == 1;
    ExperimentalInitialProfileOnGrid(fraction, nonideal);
    return;
  }
  const DataTypeFlags& data = CurrentDataTypeFlags();
  if (data.dls || ss.equilibriumMode) return;
  for (int i = 1; i <= N; ++i) g.Concentration[i] = A;
  if (ZoneLoading()) {
    const double edge = g.Radius[1] + gModelParams.zoneValue;
    for (int i = 1; i <= N; ++i)
      if (g.Radius[i] > edge) g.Concentration[i] = 0;
  }
}

// Each species of a measured start starts from its share of the whole first
// profile. With the loadings solved as linear amplitudes that share is what
// the solve finds, in the same evaluation: the species is solved from the
// whole profile at unit scale, and the amplitude w_k the solve gives it is
// its share times the total (stored as total sum w and shares w_k / sum w).
// Splitting by the loadings an earlier solve left instead made an
// evaluation depend on the one before (a share the non-negative solve set to
// 0 lost its species for good) and on the total's drift. Only where the
// solve is linear in the loading: the first component with its own
// nonideality keeps the split of the entries.
bool WholeProfileStart(int k) {
  return ExperimentalInitialDistributionInUse() && !(gModelSelectorFlags.ConcDependentSolverSwitch && k == 1);
}

// Slot k's curve on the common grid from the grid's initial concentration.
void InitialProfileToCurve(int k) {
  ScanSet& ss = CurrentScanSet();
  LammGrid& g = CurrentLammGrid();
  EnsureSpeciesCurves(k);
  for (int pos = 1; pos <= ss.count; ++pos) {
    float* curve = ss.species[k].onGridPerScan[ss.order[pos]];
    if (!curve) continue;
    InterpolateOntoGridD(ss.gridLength, ss.grid, curve, g.AllocatedGridSize, g.Radius,
                         g.Concentration);
  }
}

float* WorkArray(int j) {
  ScanSet& ss = CurrentScanSet();
  if (static_cast<int>(ss.work.size()) < ss.count + 1) ss.work.resize(ss.count + 1, nullptr);
  if (!ss.work[j]) ss.work[j] = vector(1, ss.points[j]);
  return ss.work[j];
}

void ZeroWorkArrays() {
  ScanSet& ss = CurrentScanSet();
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    float* w = WorkArray(j);
    for (int p = 1; p <= ss.points[j]; ++p) w[p] = 0;
  }
}

// Closed-form curves (no diffusion, Faxen) of slot k into the models or
// into the slot's curves on the common grid.
template <typename Curve>
void AddClosedFormCurves(int k, const Curve& curve) {
  ScanSet& ss = CurrentScanSet();
  const bool onGrid = CurvesOnCommonGrid() && ss.gridLength > 0;
  if (onGrid) EnsureSpeciesCurves(k);
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    const double t = ScanTimeAt(pos);
    if (onGrid) {
      curve(t, ss.grid, ss.species[k].onGridPerScan[j], ss.gridLength);
    } else {
      float* w = WorkArray(j);
      curve(t, ss.radii[j], w, ss.points[j]);
      for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] += w[p];
    }
  }
}

// The layer a species collects in at the end it moves to (the bottom, or
// the meniscus when it floats), D / (|s| w^2 r) thick, and how far the fit
// range keeps from that end (cm). The fit range sees the layer only within
// a few of its thicknesses.
struct EndLayer {
  double thickness = HUGE_VAL, gap = 0;
  bool SeenByTheFitRange() const { return gap < kLayersToTheFitRange * thickness; }
  static constexpr double kLayersToTheFitRange = 10;
};

EndLayer EndLayerOf(double s, double D) {
  const ScanSet& ss = CurrentScanSet();
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double w = RpmToOmega(LastScanRecord().rpm);
  const double sw2 = w * w * std::fabs(s) * 1e-13;
  EndLayer layer;
  layer.gap = s > 0 ? b - ss.rightFitLimit : ss.leftFitLimit - m;
  if (sw2 > 0 && D > 0) layer.thickness = D / (sw2 * (s > 0 ? b : m));
  return layer;
}

// A solve whose amount in the cell (plus what left through an open bottom)
// has drifted from its start lost its loading: its scans would feed a fit
// with a model of something else. The static grid keeps the amount to
// rounding; the moving frame's end nodes take a pile-up at the bottom only
// approximately (a few 1e-3 of the amount), and a layer thinner than its end
// element not at all: 30 S lose 1-3 % there, -40 S 1 % at the meniscus
// (0.4 % on 2000 nodes), while the fit range, that far from the layer,
// agrees with finite volumes within 4e-4. Only that layer's loss says
// nothing of the scans.
constexpr double kStaticGridAmountTolerance = 1e-3;
constexpr double kMovingFrameAmountTolerance = 1e-2;

bool MovingFrameEndLayerUnresolved() {
  const LammRunState& rs = CurrentLammRunState();
  const LammGrid& g = CurrentLammGrid();
  const int N = g.AllocatedGridSize;
  if (N < 2 || rs.s == 0) return false;
  const EndLayer layer = EndLayerOf(rs.s, rs.D);
  const double element = rs.s > 0 ? g.Radius[N] - g.Radius[N - 1] : g.Radius[2] - g.Radius[1];
  return layer.thickness < element && !layer.SeenByTheFitRange();
}

// The last attempt's failure, for the message after the retries.
std::optional<AmountNotKept> gAmountNotKept;

void CheckAmountKept() {
  LammSolverSettings& st = LammSettings();
  if (st.singularMatrixError || st.discretizationError) return;
  // The solvers give the imbalance relative to the loading.
  const double change = st.movingHatAlgorithm ? GlobalMovingFrameAmountImbalance()
                        : st.claverieAlgorithm ? StaticGridAmountImbalance()
                                               : 0.0;
  const double tolerance = st.movingHatAlgorithm ? kMovingFrameAmountTolerance : kStaticGridAmountTolerance;
  if (AmountKeptWithin(1.0, 1.0 + change, tolerance) ||
      (st.movingHatAlgorithm && MovingFrameEndLayerUnresolved()))
    return;
  // The retries see a failed solve; the message names the cause.
  st.discretizationError = 1;
  const LammRunState& rs = CurrentLammRunState();
  gAmountNotKept = AmountNotKept{1.0, 1.0 + change, rs.s, rs.D};
}

bool SolverFlagRaised() {
  const LammSolverSettings& st = LammSettings();
  return st.discretizationError || st.singularMatrixError;
}

// One finite-element solve of the current species with the chosen
// algorithm; false when nothing could run.
bool RunChosenSolver(FitHost* host, int k, double s, double D) {
  LammSolverSettings& st = LammSettings();
  if (CurrentSpeedProfile.Active()) {
    if (host)
      host->MessageBox("ERROR in simulation", "Cannot account for variable rotor speed in this model!",
                       platform::BoxIcon::None);
    return false;
  }
  if (k == 1 && gModelSelectorFlags.ConcDependentSolverSwitch) {
    // Component 1 sediments with its own nonideality.
    const int code = RunFirstComponentNonideal(s, D);
    if (code != kLammSolved && host) ReportSimulationError(host, code);
    return true;
  }
  if (st.movingHatAlgorithm) {
    SimulateMovingFrameLamm();
    CheckAmountKept();
    return true;
  }
  if (st.claverieAlgorithm) {
    ForgetStaticGridAmountBalance();
    const int code = CurrentModelEvaluationHooks().simulateStaticGridLamm();
    if (code == kLammDiscretization) st.discretizationError = 1;
    if (code == kLammSingularMatrix) st.singularMatrixError = 1;
    if (code != kLammSolved && code != kLammDiscretization && code != kLammSingularMatrix && host)
      ReportSimulationError(host, code);
    CheckAmountKept();
    return true;
  }
  return false;
}

// Grid size of the moving-hat rule: from Nw down, the first N whose first
// interior spacing exceeds x, plus one.
double MovingHatGridSize(double x, double Nw) {
  const LammSolverSettings& st = LammSettings();
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double ratio = b / m;
  // Sizes above the upper limit are clamped anyway; the spacing grows as N
  // falls, so starting at the limit finds the same clamped result.
  double N = std::min(std::floor(Nw), static_cast<double>(st.gridSizeUpperLimit) + 1);
  for (; N > st.gridSizeLowerLimit; N -= 1) {
    const double spacing =
        m * std::pow(ratio, 1.5 / (N - 1)) - m * std::pow(ratio, 0.5 / (N - 1));
    if (x < spacing) return N + 1;
  }
  return N;
}

int ClampGridSize(double n) {
  const LammSolverSettings& st = LammSettings();
  double v = std::floor(n);
  v = std::min(v, static_cast<double>(st.gridSizeUpperLimit));
  v = std::max(v, static_cast<double>(st.gridSizeLowerLimit));
  return static_cast<int>(v);
}

void ReportAfterSolve(FitHost* host) {
  LammSolverSettings& st = LammSettings();
  const std::optional<AmountNotKept> amount = gAmountNotKept;
  gAmountNotKept.reset();
  if (!host) return;
  if (st.singularMatrixError) ReportSimulationError(host, kLammSingularMatrix);
  if (st.discretizationError && amount) {
    RecordAmountNotKept(*amount);
    ReportSimulationError(host, kLammAmountNotKept);
  } else if (st.discretizationError) {
    ReportSimulationError(host, kLammDiscretization);
  }
}

void SimulateFiniteElementSpecies(FitHost* host, int k, double s, double Dentry, double A,
                                  double fraction) {
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  ScanSet& ss = CurrentScanSet();
  gSimulationSwitches.constantSignal = 0;
  const double D = SpeciesDiffusion(static_cast<float>(s), static_cast<float>(Dentry));
  gSteepBoundary = SteepBoundaryTest(s, D) ? 1 : 0;
  if (!gSteepBoundary && PlainLoading() && s > 0) {
    const ScanRecord& last = LastScanRecord();
    const double T = last.temperature + 273.15;
    const double w = RpmToOmega(last.rpm);
    const double sigma = w * w / (T * 1.6628944e8) * T * 1e-13 * s * kGasConstant / D;
    StretchTwoZoneGrid(sigma);
  }
  rs.s = s;
  rs.D = D;
  SetAccelerationPhase();
  SetLammSolverStartState(host, true);
  st.singularMatrixError = st.discretizationError = 0;
  gAmountNotKept.reset();
  const bool direct = !CurvesOnCommonGrid();
  if (direct) ZeroWorkArrays();
  RunChosenSolver(host, k, s, D);

  const DataTypeFlags& data = CurrentDataTypeFlags();
  if (!ExperimentalInitialDistributionInUse() && PlainLoading() && !data.dls && !ss.equilibriumMode &&
      SolverFlagRaised()) {
    const std::uint8_t truncate = st.truncateGrid;
    st.truncateGrid = 0;
    auto attempt = [&] {
      SetGridInitialConcentration(A, fraction);
      SetAccelerationPhase();
      SetLammSolverStartState(host, true);
      rs.scanCounter = 1;
      rs.t = 0;
      rs.nextScanTime = rs.pendingTime = ScanTimeAt(1);
      rs.pendingFlag = 1;
      if (direct) {
        // The failed attempt's contribution leaves the models first.
        for (int pos = 1; pos <= ss.count; ++pos) {
          const int j = ss.order[pos];
          float* w = WorkArray(j);
          for (int p = 1; p <= ss.points[j]; ++p) {
            ss.model[j][p] -= w[p];
            w[p] = 0;
          }
        }
      }
      st.singularMatrixError = st.discretizationError = 0;
      gAmountNotKept.reset();
      gStaticGridAfterFailedRun = 1;
      RunChosenSolver(host, k, s, D);
      gStaticGridAfterFailedRun = 0;
    };
    attempt();
    // The moving frame knows only the sector cell.
    if (SolverFlagRaised() && st.claverieAlgorithm && !gModelSelectorFlags.AnyPlanarGeometryModel()) {
      st.claverieAlgorithm = 0;
      st.movingHatAlgorithm = 1;
      if (gWidthGridSize > 0) {
        // x = w / P6 of the automatic grid rule, recovered from its Nw.
        const double x = (gModelParams.bottom - gModelParams.meniscus) / gWidthGridSize;
        SetLammGridSize(ClampGridSize(MovingHatGridSize(x, gWidthGridSize)));
      } else {
        SetLammGridSize(st.gridSize.inUse);
      }
      attempt();
      st.claverieAlgorithm = 1;
      st.movingHatAlgorithm = 0;
      st.fixedTimeStep = 0;
      const int size = gWidthGridSize > 0 ? ClampGridSize(gWidthGridSize) : st.gridSize.setting;
      if (st.optimiseTimeInvariantGrid && gSteepBoundary && !ZoneLoading()) {
        st.gridSize.inUse = size;
        SetTwoZoneGridSize(gStartRadius);
      } else {
        SetLammGridSize(size);
      }
    }
    if (SolverFlagRaised()) attempt();
    st.truncateGrid = truncate;
  }
  if (st.movingHatAlgorithm) UpdateMovingGridRadii();
  ReportAfterSolve(host);
  if (host && st.nonidealityOutOfRange) ReportSimulationError(host, kLammNonidealOutOfRange);
}

// The slots of a DLS model are field autocorrelations of their D, Stokes
// radius (nm) or cumulants, not Lamm solutions.
void SimulateDlsSpecies() {
  ModelParams& mp = gModelParams;
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const int n = mp.componentCount;
  // Squares of single curves do not add up to the square of their sum:
  // g(2)-1 data take the amplitudes of several slots as fixed values.
  int used = 0;
  for (int k = 1; k <= n; ++k) used += mp.included[k] ? 1 : 0;
  if (used > 1 && DlsIntensityAutocorrelationLoaded()) mp.concentrationsLinear = 0;
  const bool algebraic = mp.concentrationsLinear != 0;
  const int first = FirstIncludedSpecies(n);
  const double celsius = gSolutionConditions.temperature - 273.15;
  DlsKernelInputs& in = DlsKernels();
  in.cube = nullptr;
  in.cumulant = sel.DlsCumulantModel != 0;
  gDlsSpeciesCount = 0;
  for (int k = 1; k <= n && !platform::StopFlag(); ++k) {
    CurrentLammRunState().species = k;
    if (!mp.included[k]) {
      mp.scaleFactor[k] = 0.0f;
      continue;
    }
    const double A = SpeciesAmplitude(k, first, SpeciesFraction(k, first, n, false), algebraic);
    ++gDlsSpeciesCount;
    in.D = sel.DlsStokesRadiiModel ? DiffusionFromStokesRadius(1e-9 * mp.massOrD[k], celsius)
                                   : SpeciesDiffusion(mp.s[k], mp.massOrD[k]);
    if (in.cumulant) {
      in.mu2 = mp.massOrD[2] * 1e-14;
      in.mu3 = mp.massOrD[3] * 1e-21;
    }
    in.amplitude = algebraic ? 1.0 : A;
    if (algebraic) mp.scaleFactor[k] = 1.0f;
    in.component = k;
    // A set that cannot be modelled ends the evaluation (and a fit).
    if (!ComputeDlsKernelsFull()) platform::StopFlag() = true;
  }
}

// The slots of equilibrium data are Boltzmann curves of their buoyant mass,
// (1 - vbar rho) M with the M-and-s parameters, else |s| R T / D from the
// Svedberg relation (s in S, D entry in 1e-7 cm^2/s: |s| 1e-6 R T / D).
void SimulateEquilibriumSpecies(FitHost* host) {
  ModelParams& mp = gModelParams;
  const ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (!hooks.equilibriumCurves) {
    NotAvailable(host, "equilibrium model curves are not available for this model");
    return;
  }
  const int n = mp.componentCount;
  const bool algebraic = mp.concentrationsLinear != 0;
  const int first = FirstIncludedSpecies(n);
  const double RT = kGasConstant * gSolutionConditions.temperature;
  for (int k = 1; k <= n && !platform::StopFlag(); ++k) {
    CurrentLammRunState().species = k;
    if (!mp.included[k]) {
      mp.scaleFactor[k] = 0.0f;
      continue;
    }
    const double A = SpeciesAmplitude(k, first, SpeciesFraction(k, first, n, false), algebraic);
    const double s = mp.s[k], entry = mp.massOrD[k];
    const bool constant = s == 0 && entry == 0;
    gSimulationSwitches.constantSignal = constant ? 1 : 0;
    double Mb = 0.0;
    if (constant)
      Mb = 0.0;
    else if (gFitEngineState.molarMassParameters)
      Mb = (1.0 - gSolutionConditions.vbarRho) * entry;
    else
      // Without diffusion the species piles up at the bottom: the curve
      // bounds the infinite mass.
      Mb = entry != 0 ? std::fabs(s) * 1e-6 * RT / entry : HUGE_VAL;
    hooks.equilibriumCurves(k, Mb, A);
  }
}

}  // namespace

// ------------------------------------------------------------ set-up steps

void ChooseFiniteElementAlgorithm(double s, bool perSpecies) {
  LammSolverSettings& st = LammSettings();
  const ScanSet& ss = CurrentScanSet();
  if (ss.count < 1) return;
  double L1 = st.automaticSwitchS;
  if (perSpecies && st.optimiseTimeInvariantGrid && !ZoneLoading() && st.automaticGridSize)
    L1 = st.automaticSwitchSOptimised;
  const double wr = LastScanRecord().rpm / 30000.0;
  const double threshold = L1 / (wr * wr);
  if (std::fabs(s) < threshold && !st.claverieAlgorithm) {
    st.claverieAlgorithm = 1;
    st.fixedTimeStep = 0;
    st.movingHatAlgorithm = 0;
    SetLammGridSize(st.gridSize.inUse);
  } else if (std::fabs(s) > threshold && !st.movingHatAlgorithm) {
    st.movingHatAlgorithm = 1;
    st.claverieAlgorithm = 0;
    SetLammGridSize(st.gridSize.inUse);
  }
}

namespace {

// What a measured start already holds, which a loading grows only later:
// a boundary as wide as its age gives it, wherever the fit range begins;
// and the layer at the end the species collects at, where the fit range
// sees it (a slow species piles up over a few of them and its
// back-diffusion reaches the fit range). The narrower of the two, for the
// rule's boundary width.
constexpr double kWidthsPerLayer = 5;  // with the rule's points per width: 25 per layer

double MeasuredStartWidth(double s, double D) {
  double width = HUGE_VAL;
  const ScanRecord& start = CurrentScanSet().initialData.record;
  const double t0 = LammSettings().rampRotorSpeed ? start.time : start.timeRead;
  if (t0 > 0) width = std::sqrt(D * t0);
  const EndLayer layer = EndLayerOf(s, D);
  if (layer.SeenByTheFitRange()) width = std::min(width, layer.thickness / kWidthsPerLayer);
  return width;
}

}  // namespace

void ApplyAutomaticGridRule(double s, double D) {
  LammSolverSettings& st = LammSettings();
  if (gModelSelectorFlags.ElectrophoresisLammModel) {
    // The rule below is the sector cell's; s is a velocity here.
    SetLammGridSize(ElectrophoresisGridSize(s, D, st.gridSize.setting));
    return;
  }
  const ScanSet& ss = CurrentScanSet();
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  const double ff0 = CurrentModelEvaluationHooks().frictionalRatio(s, D);
  if (ff0 < 0.5) {
    gSteepBoundary = 0;
    gStaticGridDefault = 1;
    SetLammGridSize(st.gridSize.setting);
    return;
  }
  gStaticGridDefault = 0;
  gSteepBoundary = SteepBoundaryTest(s, D) ? 1 : 0;
  const ScanRecord& last = LastScanRecord();
  const double w = RpmToOmega(last.rpm);
  const double sw2 = w * w * std::fabs(s) * 1e-13;
  // First radius inside the fit limits of the first scan.
  const int j = ss.order[1];
  double r0 = m;
  for (int p = 1; p <= ss.points[j]; ++p)
    if (ss.radii[j][p] >= ss.leftFitLimit) {
      r0 = ss.radii[j][p];
      break;
    }
  if (r0 < m + 0.001) r0 = m + 0.001;
  const ScanRecord& first = FirstScanRecord();
  const double wa = RpmToOmega(first.acceleration);
  const double ta = first.accelerationTime;
  const double dra = std::fabs(s) * (1.0 / 3) * 1e-13 * wa * wa * m * ta * ta * ta;
  const double t = r0 - m <= dra ? (r0 - m) / (sw2 * r0) : (r0 - dra - m) / (sw2 * r0) + ta;
  double width = std::sqrt(D * t);
  if (ExperimentalInitialDistributionInUse()) width = std::min(width, MeasuredStartWidth(s, D));
  width = std::max(width, 0.001);
  const double x = width / st.pointsPerSigma;
  const double Nw = std::floor((b - m) * st.pointsPerSigma / width);
  gStartRadius = static_cast<float>(r0);
  gWidthGridSize = Nw;
  const double n = st.movingHatAlgorithm ? MovingHatGridSize(x, Nw) : Nw;
  const int size = ClampGridSize(n);
  if (st.claverieAlgorithm && st.optimiseTimeInvariantGrid && gSteepBoundary && !ZoneLoading()) {
    // The two-zone grid starts from the rule's size, not from the last
    // two-zone grid, which would shrink it at every evaluation.
    st.gridSize.inUse = size;
    SetTwoZoneGridSize(gStartRadius);
  } else {
    SetLammGridSize(size);
  }
}

// ------------------------------------------------------------ species loop

void SimulateSpeciesOnGlobalGrid(FitHost* host) {
  ModelParams& mp = gModelParams;
  ScanSet& ss = CurrentScanSet();
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const DataTypeFlags& data = CurrentDataTypeFlags();
  const int n = mp.componentCount;
  const bool buffer = hooks.bufferSedimentationOn();
  const bool algebraic = mp.concentrationsLinear != 0;
  const int first = FirstIncludedSpecies(n);
  platform::StopFlag() = false;

  if (data.dls) {
    SimulateDlsSpecies();
    return;
  }
  if (ss.equilibriumMode) {
    SimulateEquilibriumSpecies(host);
    return;
  }

  for (int k = 1; k <= n && !platform::StopFlag(); ++k) {
    rs.species = k;
    if (buffer && k == n) {
      ScaleBufferSpecies(host, n, algebraic);
      continue;
    }
    const double s = mp.s[k];
    const double Dentry = mp.massOrD[k];
    rs.sStar = st.automaticSGrid ? BufferSedimentationCoefficient(s) : st.gridS;
    if (st.automaticAlgorithm) ChooseFiniteElementAlgorithm(s, true);
    if (mp.included[k]) {
      if (!st.automaticGridSize || ZoneLoading() || Dentry <= 0)
        SetLammGridSize(st.gridSize.setting);
      else
        ApplyAutomaticGridRule(s, SpeciesDiffusion(mp.s[k], mp.massOrD[k]));
    }
    if (!st.rampRotorSpeed && st.claverieAlgorithm && !st.automaticAlgorithm) {
      double L = st.automaticSwitchS;
      if (st.optimiseTimeInvariantGrid && st.automaticGridSize) L = st.automaticSwitchSOptimised;
      const double wr = LastScanRecord().rpm / 30000.0;
      rs.maxStepAccelerating = std::fabs(s) > L / (wr * wr) ? 1.0 : 10.0;
    }
    if (!mp.included[k]) {
      mp.scaleFactor[k] = 0.0f;
      continue;
    }
    double f = SpeciesFraction(k, first, n, buffer);
    double A = SpeciesAmplitude(k, first, f, algebraic);
    if (algebraic && WholeProfileStart(k)) {
      f = A = 1.0;
      mp.scaleFactor[k] = 1.0f;
    }

    if (!CurrentLammGrid().GridAllocated) {
      if (host) ReportSimulationError(host, kLammNoWorkMemory);
      return;
    }
    SetGridInitialConcentration(A, f);
    if (CurvesOnCommonGrid() && ss.gridLength > 0) {
      // The initial-distribution scan is data, not a simulated scan: its
      // curves are empty whatever an earlier evaluation left there.
      EnsureSpeciesCurves(k);
      for (int pos = 1; pos < gFirstSimulatedScan; ++pos) {
        float* curve = ss.species[k].onGridPerScan[ss.order[pos]];
        for (int p = 1; p <= ss.gridLength; ++p) curve[p] = 0;
      }
    }

    if (s == 0 && Dentry == 0) {
      gSimulationSwitches.constantSignal = 1;
      for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
        const int j = ss.order[pos];
        float* w = WorkArray(j);
        for (int p = 1; p <= ss.points[j]; ++p) {
          w[p] = static_cast<float>(A);
          ss.model[j][p] += static_cast<float>(A);
        }
      }
      if (CurvesOnCommonGrid() && ss.gridLength > 0) InitialProfileToCurve(k);
    } else if (Dentry == 0 && PlainLoading()) {
      const SolventGradientSettings& sg = CurrentSolventGradientSettings();
      if (sg.UseInhomogeneousSolvent && !sg.CompressedSolvent()) {
        // Only the compressed solvent has a closed form; the species is
        // shown as in a uniform solvent. Once per Run, once per fit.
        const bool quiet = gFitEngineState.fitRunning != 0;
        if (host && (!quiet || !gSimulationSwitches.inhomogeneousWarningShown)) {
          if (quiet) gSimulationSwitches.inhomogeneousWarningShown = 1;
          host->MessageBox("", "D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent",
                           platform::BoxIcon::Warning);
        }
      }
      const double w = RpmToOmega(LastScanRecord().rpm);
      const double sw2 = w * w * s * 1e-13;
      // The curve of a compressed solvent reads the species' own s here.
      rs.s = s;
      AddClosedFormCurves(k, [&](double t, const float* r, float* out, int count) {
        hooks.sharpBoundaryCurve(static_cast<float>(A), t, sw2, r, out, count);
      });
    } else if (gFaxenApproximation) {
      gSimulationSwitches.constantSignal = 0;
      const double w = RpmToOmega(LastScanRecord().rpm);
      const double sw2 = w * w * s * 1e-13;
      const double D = SpeciesDiffusion(mp.s[k], mp.massOrD[k]);
      AddClosedFormCurves(k, [&](double t, const float* r, float* out, int count) {
        FaxenApproximationCurve(static_cast<float>(A), t, r, out, count, static_cast<float>(sw2),
                                static_cast<float>(D), mp.meniscus);
      });
    } else {
      SimulateFiniteElementSpecies(host, k, s, Dentry, A, f);
    }
    rs.progressWindow = nullptr;
  }
}
