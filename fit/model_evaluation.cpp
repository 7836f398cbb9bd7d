#include "fit/model_evaluation.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "fit/amplitudes.h"
#include "fit/conc_dependent_evaluation.h"
#include "fit/dls_kernels.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nonideal_species.h"
#include "fit/simulation_errors.h"
#include "fit/simulation_switches.h"
#include "fit/solvent_gradient.h"
#include "fit/species_simulation.h"
#include "fit/species_slots.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "platform/input_events.h"

unsigned char gModelEvaluated = 0;

namespace {

constexpr double kLn10 = 2.30258509;

void ApplyIntensityTransform() {
  ScanSet& ss = CurrentScanSet();
  if (!CurrentDataTypeFlags().intensity) return;
  for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    const float* reference = static_cast<int>(ss.signals2.size()) > j ? ss.signals2[j] : nullptr;
    if (!reference) continue;
    for (int p = 1; p <= ss.points[j]; ++p)
      ss.model[j][p] = static_cast<float>(reference[p] * std::exp(-kLn10 * ss.model[j][p]));
  }
}

bool MeniscusAndBottomSet(FitHost* host) {
  if (gModelParams.meniscus != 0.0f && gModelParams.bottom != 0.0f) return true;
  if (host) host->MessageBox("", "set Meniscus and Bottom first", platform::BoxIcon::None);
  return false;
}

void CheckFitLimitsSet(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  // DLS limits are log10 lag times: 0 is 1 s, not a missing limit.
  if (CurrentDataTypeFlags().dls) return;
  if (ss.leftFitLimit == 0.0f) {
    ss.leftFitLimit = gModelParams.meniscus;
    if (host) host->CheckLeftFitLimit();
  }
  if (ss.rightFitLimit == 0.0f) {
    ss.rightFitLimit = gModelParams.bottom;
    if (host) host->CheckRightFitLimit();
  }
}

void ZeroModels(int firstPosition) {
  ScanSet& ss = CurrentScanSet();
  for (int pos = firstPosition; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    if (!ss.model[j]) continue;
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0.0f;
  }
}

// The kernels describe g(1); sets holding g(2)-1 = g(1)^2 (coherence
// factor 1) are modelled by the square. On the common grid the slots' sum
// is squared into the first slot's curves (the square of a sum is not the
// sum of the squares), which the linear terms then take as one curve.
void SquareDlsIntensityModels() {
  ScanSet& ss = CurrentScanSet();
  if (!DlsIntensityAutocorrelationLoaded()) return;
  if (!CurvesOnCommonGrid() || ss.gridLength < 1) {
    for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
      const int j = ss.order[pos];
      if (!DlsSetHoldsG2(j) || !ss.model[j]) continue;
      for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] *= ss.model[j][p];
    }
    return;
  }
  const ModelParams& mp = gModelParams;
  const int first = FirstIncludedSpecies(mp.componentCount);
  if (first == 0) return;
  for (int j = 1; j <= ss.count; ++j) {
    if (!DlsSetHoldsG2(j)) continue;
    float* sum = static_cast<int>(ss.species[first].onGridPerScan.size()) > j ? ss.species[first].onGridPerScan[j] : nullptr;
    if (!sum) continue;
    for (int k = first + 1; k <= mp.componentCount; ++k) {
      const std::vector<float*>& c = ss.species[k].onGridPerScan;
      if (!mp.included[k] || static_cast<int>(c.size()) <= j || !c[j]) continue;
      for (int r = 1; r <= ss.gridLength; ++r) {
        sum[r] += c[j][r];
        c[j][r] = 0.0f;
      }
    }
    for (int r = 1; r <= ss.gridLength; ++r) sum[r] *= sum[r];
  }
}

// Nested OutlyingSpeciesScopes, and the species they left unsolved.
int gOutlyingDepth = 0;
long gUnsolvedEmptyCount = 0, gPlateauCount = 0;

// Slot k's curves on the common grid 0, or nothing added to the models: the
// profile of a species gone from the fit range, as the fit reads it.
void LeaveSpeciesOutEmpty(int k) {
  ScanSet& ss = CurrentScanSet();
  if (!CurvesOnCommonGrid() || ss.gridLength < 1) return;
  EnsureSpeciesCurves(k);
  const std::vector<float*>& curves = ss.species[k].onGridPerScan;
  for (int j = 1; j <= ss.count && j < static_cast<int>(curves.size()); ++j)
    if (curves[j]) std::fill(curves[j] + 1, curves[j] + 1 + ss.gridLength, 0.0f);
}

// A curve is the same multiple of one profile whatever the loading (and
// whatever loading the evaluation before left behind).
void ScaleSpeciesCurves(int k, double amplitude) {
  ScanSet& ss = CurrentScanSet();
  if (amplitude == 1.0) return;
  const float f = static_cast<float>(amplitude);
  const std::vector<float*>& curves = ss.species[k].onGridPerScan;
  for (int j = 1; j <= ss.count && j < static_cast<int>(curves.size()); ++j)
    if (curves[j])
      for (int i = 1; i <= ss.gridLength; ++i) curves[j][i] *= f;
}

// The curves of the species solved last under a SpeciesSolveMemoScope, the
// one used last first.
struct MemoisedSpecies {
  std::string key;
  std::vector<float> curves;  // scan after scan, gridLength values each
  bool staticGrid = false;
  double loading = 0.0;  // the loading the curves were solved at
};
int gMemoDepth = 0;
std::list<MemoisedSpecies> gMemo;
size_t gMemoBytes = 0;
long gMemoisedCount = 0;

size_t CurveBytes(const MemoisedSpecies& m) { return m.curves.size() * sizeof(float) + m.key.size(); }

// Slot k's curves at `loading` from memory when a species was solved with
// these settings before (at this loading: bit for bit; at another: in
// proportion, as the solver writes them within its rounding); true then.
bool TakeMemoisedCurves(const std::string& key, double loading, int k, bool* staticGrid) {
  const auto it = std::find_if(gMemo.begin(), gMemo.end(), [&key](const MemoisedSpecies& m) { return m.key == key; });
  if (it == gMemo.end()) return false;
  gMemo.splice(gMemo.begin(), gMemo, it);
  ScanSet& ss = CurrentScanSet();
  const std::vector<float*>& curves = ss.species[k].onGridPerScan;
  const size_t length = static_cast<size_t>(ss.gridLength);
  const bool same = loading == it->loading;
  const float f = static_cast<float>(loading / it->loading);
  for (int j = 1; j <= ss.count && j < static_cast<int>(curves.size()); ++j) {
    if (!curves[j]) continue;
    const float* from = it->curves.data() + (j - 1) * length;
    if (same)
      std::copy_n(from, length, curves[j] + 1);
    else
      for (size_t i = 0; i < length; ++i) curves[j][i + 1] = from[i] * f;
  }
  *staticGrid = it->staticGrid;
  return true;
}

// Keeps slot k's curves as the solver wrote them, the oldest let go beyond
// the bounds.
void MemoiseCurves(std::string key, double loading, int k, bool staticGrid) {
  ScanSet& ss = CurrentScanSet();
  const std::vector<float*>& curves = ss.species[k].onGridPerScan;
  const size_t length = static_cast<size_t>(ss.gridLength);
  if (static_cast<int>(curves.size()) <= ss.count) return;
  MemoisedSpecies m{std::move(key), std::vector<float>(length * static_cast<size_t>(ss.count)), staticGrid, loading};
  for (int j = 1; j <= ss.count; ++j) {
    if (!curves[j]) return;
    std::copy_n(curves[j] + 1, length, m.curves.data() + (j - 1) * length);
  }
  const size_t bytes = CurveBytes(m);
  if (bytes > SpeciesSolveMemoScope::kMemoBytes) return;
  while (!gMemo.empty() && (static_cast<int>(gMemo.size()) >= SpeciesSolveMemoScope::kMemoSpecies ||
                            gMemoBytes + bytes > SpeciesSolveMemoScope::kMemoBytes)) {
    gMemoBytes -= CurveBytes(gMemo.back());
    gMemo.pop_back();
  }
  gMemoBytes += bytes;
  gMemo.push_front(std::move(m));
}

}  // namespace

SpeciesSolveMemoScope::SpeciesSolveMemoScope() { ++gMemoDepth; }

SpeciesSolveMemoScope::~SpeciesSolveMemoScope() {
  if (--gMemoDepth > 0) return;
  gMemo.clear();
  gMemoBytes = 0;
}

long MemoisedSpeciesCount() { return gMemoisedCount; }

OutlyingSpeciesScope::OutlyingSpeciesScope() { ++gOutlyingDepth; }

OutlyingSpeciesScope::~OutlyingSpeciesScope() { --gOutlyingDepth; }

long UnsolvedEmptySpeciesCount() { return gUnsolvedEmptyCount; }

long PlateauSpeciesCount() { return gPlateauCount; }

void LoadSpeciesSolver(CLammIdeal& L, int k, double s, double D, double amplitude) {
  ScanSet& ss = CurrentScanSet();
  const LammSolverSettings& st = LammSettings();
  const ModelParams& mp = gModelParams;
  L.MarkLoaded();
  L.SetSpecialGeometry(gModelSelectorFlags.AnyPlanarGeometryModel());
  L.SetOutputParameters(s, D, mp.meniscus, mp.bottom, amplitude, ss.leftFitLimit, ss.rightFitLimit);
  if (!st.checkRotorAcceleration) L.ClearRunFlag();
  CurrentModelEvaluationHooks().applySolverOptions(L);
  const bool onGrid = CurvesOnCommonGrid() && ss.gridLength > 0;
  if (onGrid) EnsureSpeciesCurves(k);
  const DataTypeFlags& data = CurrentDataTypeFlags();
  L.SetScanTimes({.records = ss.records.data(),
                  .output = onGrid ? ss.species[k].onGridPerScan.data() : ss.model.data(),
                  .grid = onGrid ? ss.grid : nullptr, .gridLength = onGrid ? ss.gridLength : 0,
                  .perScanRadii = ss.radii.data(), .perScanCounts = ss.points.data(),
                  .showProgress = gSimulationSwitches.redrawDuringSimulation != 0,
                  .indexMap = ss.order.data(), .scanCount = ss.count, .component = k,
                  .timeResolution = st.simulateTimeResolution != 0, .scanVelocity = st.scanVelocity,
                  .radialResolution = st.simulateRadialResolution != 0,
                  .convolutionRange = st.convolutionRange, .absorbanceData = data.absorbance != 0});
  SetModelOptionsFromSettings(L, st, st.maxDcOverC, st.gridSize.inUse);
  if (mp.startTimeFit || mp.startTime != 0.0f) L.SetInitialTime(mp.startTime);
  if (CurrentSpeedProfile.Active())
    L.LoadFromThreadJob(*CurrentSpeedProfile.profile, 0.0, st.variableSpeedDiffusionShutOff);
  if (gModelSelectorFlags.ZoneCentrifugationModel) L.SetGeometryFlags(true, mp.zoneValue, false);
  const SolutionConditions& sc = gSolutionConditions;
  L.SetSolventAndComputeFrictionalRatio(sc.temperature - 273.15, sc.vbar, sc.density, sc.viscosity);
  PrepareSolventForSolverObjects();
  ApplySolventGradientToSolver(L, sc.vbar);
  if (data.absorbance && st.simulateTimeResolution && st.scanVelocity > 0.0f && ss.count >= 1 && ss.radii[1])
    L.SetStartTimeOffset(ss.radii[1][1]);
}

void SimulateDiscreteSpecies(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  ModelParams& mp = gModelParams;
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (ss.count < 1) return;
  if (!MeniscusAndBottomSet(host)) return;
  hooks.nonlinearTransform(1);
  CheckFitLimitsSet(host);
  UnpackModelParameters();
  gFirstSimulatedScan = 1;
  ZeroModels(1);
  if (gSimulationSwitches.redrawDuringSimulation && host) host->RequestRepaint();
  gSimulationSwitches.constantSignal = 0;

  const int n = mp.componentCount;
  const bool buffer = hooks.bufferSedimentationOn();
  const bool algebraic = mp.concentrationsLinear != 0;
  const int first = FirstIncludedSpecies(n);
  platform::StopFlag() = false;
  LammSolverSettings& lamm = LammSettings();

  for (int k = 1; k <= n && !platform::StopFlag(); ++k) {
    if (buffer && k == n) {
      ScaleBufferSpecies(host, n, algebraic);
      continue;
    }
    lamm.discretizationError = lamm.singularMatrixError = lamm.nonidealityOutOfRange = 0;
    if (gModelSelectorFlags.NonidealMultipleSpeciesModel && k == 1) {
      // Slot 1 of the multiple-species model carries all its components,
      // sedimenting with one nonideality of their total.
      const AssociationModelParams& as = gAssociationModelParams;
      mp.scaleFactor[1] = 1.0f;
      auto solver = std::make_unique<CLammIdeal>();
      LoadSpeciesSolver(*solver, 1, as.nonidealS, std::fabs(as.nonidealD * 1e-7), mp.concentration[1]);
      LoadNonidealComponents(*solver);
      const int code = solver->CheckAndRun();
      if (host) ReportSimulationError(host, code);
      continue;
    }
    if (!mp.included[k]) {
      mp.scaleFactor[k] = 0.0f;
      continue;
    }
    const double s = mp.s[k];
    const double D = SpeciesDiffusion(mp.s[k], mp.massOrD[k]);
    const double amplitude = SpeciesAmplitude(k, first, SpeciesFraction(k, first, n, buffer), algebraic);

    // The equation is linear in c: the species is solved at unit loading and
    // its result scaled, on the common grid here, on per-scan radii by the
    // solver as it adds the scans to the model. A loading the solver refuses
    // goes to it as it is.
    // Loadings solved as linear amplitudes normalise the curve by the loading
    // it was solved at; a scaling that the normalisation undoes would leave
    // its rounding behind, and a saved analysis would no longer rerun to its
    // own loadings bit for bit. Those are solved at their loading as it is.
    const bool unitLoading = amplitude > 0.0 && std::isfinite(amplitude) && !algebraic;
    const bool onGrid = CurvesOnCommonGrid() && ss.gridLength > 0;
    auto solver = std::make_unique<CLammIdeal>();
    LoadSpeciesSolver(*solver, k, s, D, unitLoading ? 1.0 : amplitude);
    if (unitLoading && !onGrid) solver->SetPerScanOutputFactor(amplitude);
    if (gOutlyingDepth > 0) {
      if (solver->FitRangeEmptyInEveryScan()) {
        LeaveSpeciesOutEmpty(k);
        ++gUnsolvedEmptyCount;
        continue;
      }
      if (solver->SolvePlateauOfTheFitRange()) {
        if (unitLoading && onGrid) ScaleSpeciesCurves(k, amplitude);
        ++gPlateauCount;
        continue;
      }
      solver->SetWideEndLayersOnStaticGrid(true);
    }
    // The curves of a plain run are all its settings give; the solver's
    // refusals and failures are not kept, and so come again with their boxes.
    // Solved with linear amplitudes, a species the fit did not move comes
    // at the loading the last linear solve left, which changes from one
    // evaluation to the next: the key leaves the loading out.
    std::string key;
    const double loading = unitLoading ? 1.0 : amplitude;
    if (gMemoDepth > 0 && onGrid) key = solver->PlainRunKey(false);
    bool memoStatic = false;
    if (!key.empty() && TakeMemoisedCurves(key, loading, k, &memoStatic)) {
      ++gMemoisedCount;
      if (unitLoading) ScaleSpeciesCurves(k, amplitude);
      gSimulationSwitches.staticGridSolverRan = memoStatic ? 1 : 0;
      continue;
    }
    const int code = solver->CheckAndRun();
    if (!key.empty() && code == kLammSolved) MemoiseCurves(std::move(key), loading, k, solver->StaticGridChosen());
    if (unitLoading && onGrid) ScaleSpeciesCurves(k, amplitude);
    gSimulationSwitches.staticGridSolverRan = solver->StaticGridChosen() ? 1 : 0;
    if (host) ReportSimulationError(host, code);
  }

  SolveAmplitudesAndNoise();
  hooks.nonlinearInverse();
  hooks.nonlinearTransform(0);
  ApplyIntensityTransform();
  hooks.markPlotsForRefresh();
  if (gSimulationSwitches.redrawDuringSimulation && host) host->RequestRepaint();
}

void SimulateModel(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  gModelEvaluated = 1;
  if (ss.count < 1) return;
  hooks.nonlinearTransform(1);
  const DataTypeFlags& data = CurrentDataTypeFlags();
  const bool equilibrium = ss.equilibriumMode && !data.dls;
  if (equilibrium && sel.LammDiscreteModel && gFitEngineState.fitTINoise) {
    // A profile shared by scans of different speeds takes up whatever the
    // species leave: the species model of equilibrium scans has none, however
    // the switch came on (the equilibrium analysis, interference data, a
    // restored analysis), as the parameter dialog has it.
    gFitEngineState.fitTINoise = 0;
    if (!gModelParams.riNoiseFit) CurrentLoadHooks().removeNoiseButtons();
    if (host) host->MessageBox("", "switching off TI noise - not implemented for sed eq data");
  }
  // An equilibrium scan is no starting profile of the others: every scan
  // is modelled by its own speed.
  const bool experimental = LammSettings().experimentalInitialDistribution != 0 && !equilibrium;
  // The planar cells have their own element integrals on the global arrays;
  // the Faxen curves are formed species by species there too.
  const bool plainDiscrete = sel.LammDiscreteModel && !hooks.bufferSedimentationOn() && !data.dls &&
                             !ss.equilibriumMode && !experimental && !sel.ConcDependentSolverSwitch &&
                             !sel.AnyPlanarGeometryModel() && !gFaxenApproximation;
  if (plainDiscrete || sel.NonidealMultipleSpeciesModel) {
    SimulateDiscreteSpecies(host);
    hooks.nonlinearInverse();
    hooks.nonlinearTransform(0);
    return;
  }

  // The general path: the global-array solvers write the models or the
  // curves; the linear terms follow.
  if (!data.dls && !MeniscusAndBottomSet(host)) {
    hooks.nonlinearInverse();
    hooks.nonlinearTransform(0);
    return;
  }
  if (!data.dls) {
    const LammGrid& g = CurrentLammGrid();
    const LammSolverSettings& st = LammSettings();
    if (!g.GridAllocated) {
      AllocLammArrays();
    } else if (g.AllocatedGridSize != st.gridSize.inUse || (st.movingHatAlgorithm && !g.FrameRadius)) {
      SetLammGridSize(st.gridSize.inUse);
    } else if (std::fabs(g.Radius[1] - gModelParams.meniscus) > 1e-5) {
      MakeRadialGrid();
    }
    if (!CurrentLammGrid().GridAllocated) {
      if (host) ReportSimulationError(host, kLammNoWorkMemory);
      hooks.nonlinearInverse();
      hooks.nonlinearTransform(0);
      return;
    }
  }
  CheckFitLimitsSet(host);
  UnpackModelParameters();
  gFirstSimulatedScan = 1;
  if (experimental && ss.count >= 2) {
    // The first scan in time order is the initial distribution: captured
    // once into the initial-data arrays, and its model is its data.
    const int j = ss.order[1];
    InitialDataScan& init = ss.initialData;
    if (init.points == 0) {
      const int n = ss.points[j];
      init.radii = vector(1, n);
      init.signals = vector(1, n);
      for (int p = 1; p <= n; ++p) {
        init.radii[p] = ss.radii[j][p];
        init.signals[p] = ss.signals[j][p];
      }
      init.record = ss.records[j];
      init.points = n;
    }
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = ss.signals[j][p];
    gFirstSimulatedScan = 2;
  }
  ZeroModels(gFirstSimulatedScan);
  if (gSimulationSwitches.redrawDuringSimulation && host) host->RequestRepaint();
  gSteepBoundary = 0;
  if (sel.Model267) {
    if (hooks.simulateHeteroAssociation) hooks.simulateHeteroAssociation(host);
  } else if (sel.AnySelfAssociationModel() || sel.NonidealSingleSpeciesModel) {
    SimulateConcDependentModel(host);
  } else if (sel.LammDiscreteModel) {
    SimulateSpeciesOnGlobalGrid(host);
  }
  if (data.dls) SquareDlsIntensityModels();
  SolveAmplitudesAndNoise();
  hooks.nonlinearInverse();
  hooks.nonlinearTransform(0);
  ApplyIntensityTransform();
  hooks.markPlotsForRefresh();
  if (gSimulationSwitches.redrawDuringSimulation && host) host->RequestRepaint();
}
