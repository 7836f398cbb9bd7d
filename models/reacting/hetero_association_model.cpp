// The reacting system inside the model evaluation and the parameter vector.
#include <cmath>

#include "data/scan_set.h"
#include "fit/conc_dependent_evaluation.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/species_slots.h"
#include "lamm/lamm_run_state.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "models/reacting/hetero_association.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"

namespace {

bool ReactingArraysReady() {
  const LammGrid& g = CurrentLammGrid();
  return g.GridAllocated && g.ReactingArrays[0] && g.AllocatedGridSize == LammSettings().gridSize.inUse;
}

}  // namespace

void SimulateHeteroAssociationModel(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  LammSolverSettings& settings = LammSettings();
  LammRunState& rs = CurrentLammRunState();
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (CurrentDataTypeFlags().dls) {
    // Correlation functions have no radial profile to simulate.
    if (host) host->MessageBox("ERROR", "this model is not implemented for DLS data", platform::BoxIcon::Error);
    return;
  }
  if (ss.equilibriumMode && host) host->MessageBox("", "not implemented yet for sed eq data", platform::BoxIcon::Warning);
  rs.species = 1;
  gModelParams.scaleFactor[1] = 1.0f;
  settings.experimentalInitialDistribution = 0;
  settings.modelInitialDistribution = 1;
  LammGrid& g = CurrentLammGrid();
  g.reactingSystem = true;
  if (!ReactingArraysReady()) {
    const bool made = g.GridAllocated ? SetLammGridSize(settings.gridSize.inUse) : AllocLammArrays();
    if (!made || !ReactingArraysReady()) {
      if (host) ReportConcDependentErrors(host, 1);
      return;
    }
  }
  InitHeteroAssociationEquilibrium();
  // The rotor accelerates from rest as the first scan's header says when
  // the ramp is simulated (then the steps follow its speed), else it runs
  // at the last scan's speed from the start.
  SetAccelerationPhase();
  st.runDA = SpeciesDiffusion(st.sA, st.DA);
  st.runDB = SpeciesDiffusion(st.sB, st.DB);
  st.runDAB = SpeciesDiffusion(st.sAB, st.DAB);
  SetLammSolverStartState(host, false);
  platform::StopFlag() = false;
  settings.singularMatrixError = settings.discretizationError = settings.nonidealityOutOfRange = 0;
  SimulateHeteroAssociationLamm();
  ReportConcDependentErrors(host, 0);
  if (settings.OptionToggle223 && ss.count >= 1) {
    // The last scan shows the final profile itself.
    const int j = ss.order[ss.count];
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0;
    InterpolateCellProfile(ss.points[j], ss.radii[j], ss.model[j], g.AllocatedGridSize, g.Radius,
                           g.Concentration);
  }
  rs.progressWindow = nullptr;
  if (hooks.bufferSedimentationOn()) hooks.updateBufferSedimentation(host);
}

float ComplexMassOrD(bool molarMasses, float a, float b, float sA, float sB, float sAB, float own) {
  if (molarMasses) return a + b;
  // Diffusion coefficients entered: by Svedberg's relation M ~ s / D at one
  // temperature and buoyancy, so the complex of mass M_A + M_B diffuses
  // with D = s_AB / (s_A / D_A + s_B / D_B). Never the sum of the D.
  const double mass = std::fabs(sA) / a + std::fabs(sB) / b;
  const double D = std::fabs(sAB) / mass;
  if (a > 0 && b > 0 && mass > 0 && std::isfinite(D) && D > 0) return static_cast<float>(D);
  return own;  // no masses to add: the complex keeps its own entry
}

void DeriveHeteroAssociationParameters(bool) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.Model267 && !sel.EquilibriumModel523) return;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
  ModelParams& mp = gModelParams;
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  st.DA = P[1];
  st.DB = P[2];
  st.epsA = P[4];
  st.sA = P[5];
  st.sB = P[6];
  st.sAB = P[7];
  st.logK = P[8];
  st.loadA = P[9];
  st.loadB = P[10];
  st.epsB = P[12];
  st.DAB = ComplexMassOrD(gFitEngineState.molarMassParameters != 0, P[1], P[2], P[5], P[6], P[7], P[3]);
  InitHeteroAssociationEquilibrium();
  // Slot 3 is the complex: derived, never fitted.
  mp.concentration[3] = P[11] = static_cast<float>(st.cAB0);
  mp.massOrD[3] = P[3] = st.DAB;
  F[3] = F[11] = 0;
  mp.concentrationFit[3] = mp.massOrDFit[3] = 0;
}

void InstallHeteroAssociationModel() {
  RegisterParameterDerivation(DeriveHeteroAssociationParameters);
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  hooks.simulateHeteroAssociation = SimulateHeteroAssociationModel;
  hooks.heteroAssociationKeysTaken = [] { return CurrentHeteroAssociationState().noInterruptFlag != 0; };
  hooks.heteroAssociationSignal = ComputeHeteroAssociationSignal;
}
