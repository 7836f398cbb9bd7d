#include "fit/conc_dependent_evaluation.h"

#include <cmath>

#include "data/scan_set.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/lamm_start_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_errors.h"
#include "fit/simulation_switches.h"
#include "fit/species_slots.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/conc_dependent_lamm.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/global/nonideal_moving_frame.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/regrid.h"

namespace {

const ScanRecord& LastScan() {
  const ScanSet& ss = CurrentScanSet();
  return ss.records[ss.order[ss.count]];
}

void Exclaim(FitHost* host, const char* text) {
  if (host) host->MessageBox("", text, platform::BoxIcon::Warning);
}

// The record's solvent, scale and the model bytes shared by every kind.
void CommonSpeciesFields(ConcDependentSpecies& sp) {
  const AssociationModelParams& as = gAssociationModelParams;
  const SolutionConditions& sc = gSolutionConditions;
  sp.scale = CurrentScanSet().signalPerConcentration;
  sp.repulsive = as.repulsive;
  sp.hardSphere = as.hardSphere;
  sp.dimerNonideal = as.dimerNonideal;
  sp.polynomialSD = as.polynomialSD;
  sp.csClSD = as.csClSD;
  sp.scheme = as.integrationScheme;
  sp.vbar = sc.vbar;
  sp.density = sc.density;
  sp.temperature = sc.temperature;
  sp.viscosity = sc.viscosity;
}

// Loading concentration of the selected model.
double LoadingConcentration() {
  const AssociationModelParams& as = gAssociationModelParams;
  return gModelSelectorFlags.NonidealSingleSpeciesModel ? as.nonidealConcentration
                                                        : as.totalConcentration;
}

bool ThreeStates() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  return sel.MonomerDimerTetramerModel || sel.MonomerTetramerOctamerModel;
}

void SetInitialProfile(double loading) {
  LammGrid& g = CurrentLammGrid();
  const ScanSet& ss = CurrentScanSet();
  const int N = g.AllocatedGridSize;
  if (LammSettings().experimentalInitialDistribution && ss.initialData.points > 0) {
    ExperimentalInitialProfileOnGrid(1.0, true);
    return;
  }
  for (int i = 1; i <= N; ++i) g.Concentration[i] = loading;
  if (gModelSelectorFlags.ZoneCentrifugationModel) {
    const double edge = g.Radius[1] + gModelParams.zoneValue;
    for (int i = 1; i <= N; ++i)
      if (g.Radius[i] > edge) g.Concentration[i] = 0;
  }
}

// Static grid below the normalised switching s, the moving frame above.
void ChooseAlgorithmForModel(double s) {
  LammSolverSettings& st = LammSettings();
  if (!st.automaticAlgorithm || CurrentScanSet().count < 1) return;
  const double wr = LastScan().rpm / 30000.0;
  const double threshold = st.automaticSwitchS / (wr * wr);
  if (s < threshold) {
    if (st.claverieAlgorithm) return;
    st.claverieAlgorithm = 1;
    st.fixedTimeStep = 0;
    st.movingHatAlgorithm = 0;
  } else {
    st.automaticSGrid = 1;
    if (st.movingHatAlgorithm) return;
    st.movingHatAlgorithm = 1;
    st.claverieAlgorithm = 0;
  }
  SetLammGridSize(st.gridSize.inUse);
}

// The solver of the chosen algorithm; a result code of the static twin.
int RunConcDependentSolver(bool staticOnly) {
  if (!staticOnly && LammSettings().movingHatAlgorithm) {
    const int code = SimulateNonidealMovingFrameLamm();
    UpdateMovingGridRadii();
    return code;
  }
  return SimulateConcDependentLamm();
}

}  // namespace

void LoadConcDependentSpeciesFromModel() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const AssociationModelParams& as = gAssociationModelParams;
  ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  sp = ConcDependentSpecies{};
  CommonSpeciesFields(sp);
  using Kind = ConcDependentSpecies::Kind;
  if (sel.MonomerDimerModel || sel.MonomerTrimerModel) {
    sp.kind = sel.MonomerDimerModel ? Kind::Dimer : Kind::Trimer;
    sp.s1 = as.sMonomer;
    sp.s2 = as.sNmer;
    sp.D1 = SpeciesDiffusion(as.sMonomer, as.monomer);
    sp.D2 = SpeciesDiffusion(as.sNmer, as.nmer);
    sp.logK = as.logK;
    sp.logKs = as.logKs;
  } else if (ThreeStates()) {
    sp.kind = sel.MonomerDimerTetramerModel ? Kind::DimerTetramer : Kind::TetramerOctamer;
    const float mass[4] = {0, as.monomer3, as.nmer3a, as.nmer3b};
    for (int k = 1; k <= 3; ++k) {
      sp.s3[k] = as.s3[k];
      sp.D3[k] = SpeciesDiffusion(as.s3[k], mass[k]);
    }
    sp.s1 = sp.s3[1];
    sp.D1 = sp.D3[1];
    sp.logKa = as.logK3a;
    sp.logKb = as.logK3b;
  } else {
    sp.kind = Kind::Nonideal;
    sp.s1 = as.nonidealS;
    sp.D1 = SpeciesDiffusion(as.nonidealS, as.nonidealD);
    sp.logKs = as.logKs;
    sp.logKd = as.logKd;
    if (sel.NonidealVariantModel) sp.hardSphere = 1;
  }
}

int RunFirstComponentNonideal(double s, double D) {
  const AssociationModelParams& as = gAssociationModelParams;
  ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  sp = ConcDependentSpecies{};
  CommonSpeciesFields(sp);
  sp.kind = ConcDependentSpecies::Kind::Nonideal;
  sp.s1 = s;
  sp.D1 = D;
  sp.logKs = as.logKs;
  sp.logKd = as.logKd;
  return RunConcDependentSolver(false);
}

void ReportConcDependentErrors(FitHost* host, int code) {
  const LammSolverSettings& st = LammSettings();
  if (!host) return;
  if (code != kLammSolved) ReportSimulationError(host, code);
  if (st.singularMatrixError) ReportSimulationError(host, kLammSingularMatrix);
  if (st.nonidealityOutOfRange) ReportSimulationError(host, kLammNonidealOutOfRange);
  if (st.discretizationError) ReportSimulationError(host, kLammDiscretization);
}

void SimulateConcDependentModel(FitHost* host) {
  ModelParams& mp = gModelParams;
  ScanSet& ss = CurrentScanSet();
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const StaticGridSolventHooks& solvent = CurrentStaticGridSolventHooks();
  if (solvent.useInhomogeneousSolvent && solvent.useInhomogeneousSolvent()) {
    // Once per Run, and once per fit rather than at every evaluation.
    const bool quiet = gFitEngineState.fitRunning != 0;
    if (!quiet || !gSimulationSwitches.inhomogeneousWarningShown) {
      if (quiet) gSimulationSwitches.inhomogeneousWarningShown = 1;
      Exclaim(host, "this model is not implemented yet for inhomogeneous solvent");
    }
  }
  if (ss.equilibriumMode) Exclaim(host, "not implemented yet for sed eq data");
  rs.species = 1;
  mp.scaleFactor[1] = 1.0f;
  LoadConcDependentSpeciesFromModel();
  const ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  ChooseAlgorithmForModel(sp.s1);
  if (!CurrentLammGrid().GridAllocated || !CurrentLammGrid().ConcDependentArrays[0]) {
    if (!SetLammGridSize(st.gridSize.inUse) && !AllocLammArrays()) {
      if (host) ReportSimulationError(host, kLammNoWorkMemory);
      return;
    }
  }
  const double loading = LoadingConcentration();
  SetInitialProfile(loading);
  SetAccelerationPhase();
  // Three states with a molar mass of 0 give no D: the signal stays constant.
  const bool constant = ThreeStates() && gFitEngineState.molarMassParameters &&
                        gAssociationModelParams.nmer3b <= 0;
  gSimulationSwitches.constantSignal = constant ? 1 : 0;
  if (!constant) {
    SetLammSolverStartState(host, false);
    st.singularMatrixError = st.discretizationError = st.nonidealityOutOfRange = 0;
    const int code = RunConcDependentSolver(ThreeStates());
    ReportConcDependentErrors(host, code);
    if (st.OptionToggle223 && ss.count >= 1) {
      // The last scan shows the final profile itself.
      const LammGrid& g = CurrentLammGrid();
      const int j = ss.order[ss.count];
      for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0;
      InterpolateCellProfile(ss.points[j], ss.radii[j], ss.model[j], g.AllocatedGridSize, g.Radius,
                             g.Concentration);
    }
  } else {
    for (int pos = gFirstSimulatedScan; pos <= ss.count; ++pos) {
      const int j = ss.order[pos];
      for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = static_cast<float>(loading);
    }
    if (CurvesOnCommonGrid() && ss.gridLength > 0) {
      LammGrid& g = CurrentLammGrid();
      EnsureSpeciesCurves(1);
      for (int pos = 1; pos <= ss.count; ++pos)
        InterpolateOntoGridD(ss.gridLength, ss.grid, ss.species[1].onGridPerScan[ss.order[pos]],
                             g.AllocatedGridSize, g.Radius, g.Concentration);
    }
  }
  rs.progressWindow = nullptr;
  if (hooks.bufferSedimentationOn()) hooks.updateBufferSedimentation(host);
}
