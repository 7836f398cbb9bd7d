// The Model menu: each command checks that the loaded data suit the model,
// clears the previous model, sets its own switches and menu mark and the
// solver switches, and puts the model's start values into the parameter
// vector. The distribution family's switch logic lives with the
// distributions; the window keeps help, refusals and menu marks.
#include "app/commands/model/model_commands.h"

#include <algorithm>
#include <cmath>

#include "app/window/program_options.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/main_window_flags.h"
#include "app/window/main_fit_host.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_entries.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "fit/clear_model_selection.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/species_simulation.h"
#include "lamm/lamm_settings.h"
#include "models/buffer/buffer_sedimentation.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr int n = kComponentSlots;
// Without a loaded run the temperature is taken as 20 degC (erg/mol).
constexpr float kRT20 = 2.436002e10f;

}  // namespace

void ReallocLammArraysIfPresent() {
  RoadServices& r = Road();
  if (r.lammArraysAllocated && r.lammArraysAllocated()) {
    if (r.freeLammArrays) r.freeLammArrays();
    if (r.allocLammArrays) r.allocLammArrays();
  }
}

void MarkChosenModel(TXLAWindow& w, int item) {
  for (const ModelRow& row : ModelTable()) w.CheckMenuItem(row.id, row.id == item);
}

void MarkSelectedModel(TXLAWindow& w) {
  const int key = SelectedModelKey();
  const int beside = ModelMarkedBeside(key);
  for (const ModelRow& row : ModelTable()) w.CheckMenuItem(row.id, row.id == key || (beside && row.id == beside));
}

void ReleaseDistributionArrays() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if ((m.DistributionModel || m.SedTransformModel) && Road().freeDistributionArrays)
    Road().freeDistributionArrays();
  // The apparent-s extrapolation of a boundary transform goes with it.
  if (m.SedTransformModel) FreeLsgsArrays();
}

bool RefuseModelFor(const char* text) {
  PlaySoundInfo();
  platform::Tell("ERROR", text, platform::BoxIcon::Error);
  return true;
}

bool RefuseDlsData() {
  if (!CurrentDataTypeFlags().dls) return false;
  return RefuseModelFor("this model is not implemented for DLS data");
}

void ClearSelectionForModel() {
  // The reset starts the solver choice afresh; a model's entries in place
  // keep the choice they were left with.
  const std::uint8_t automatic = LammSettings().automaticAlgorithm;
  ClearModelSelection();
  if (ModelEntriesInPlace()) LammSettings().automaticAlgorithm = automatic;
}

void TXLAWindow::CmDiscreteSpeciesModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.LammDiscreteModel = 1;
  CheckMenuItem(kCmDiscreteSpeciesModel, true);
  UnpackModelParameters();
  if (gBufferSedSettings.BufferSedOn) CheckBufferSedimentationModel();
  ReallocLammArraysIfPresent();
}

namespace {

// The shared head of a model command: the reset, the model's switch and
// its tick.
void EnterModel(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  gModelSelectorFlags.*own = 1;
  w.CheckMenuItem(item, true);
}

// The discrete species in a Lamm geometry of their own: linear, external
// loading cell, and the static-grid variant without menu item.
void SelectGeometryModel(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.LammDiscreteModel = 1;
  m.*own = 1;
  w.CheckMenuItem(item, true);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

}  // namespace

void TXLAWindow::CmLinearLammModel() {
  if (RefuseDlsData()) return;
  SelectGeometryModel(*this, &ModelSelectorFlags::LinearLammModel, kCmLinearLammModel);
}

void TXLAWindow::CmExternalLoadingCellModel() {
  if (RefuseDlsData()) return;
  float& volume = ExternalLoadingOilVolume();
  float answer = volume;
  // A negative volume would put the taper start at a NaN: asked again.
  if (!InputPositiveFloat(&answer, 0.01f, true, "enter volume of oil used in run [ml]",
                          "EXTERNAL LOADING GEOMETRY"))
    answer = 0;
  volume = answer;
  if (ModelOptionsOnly(kCmExternalLoadingCellModel)) return;
  SelectGeometryModel(*this, &ModelSelectorFlags::ExternalLoadingCellModel, kCmExternalLoadingCellModel);
}

void TXLAWindow::CmModel282() {
  SelectGeometryModel(*this, &ModelSelectorFlags::Model282, kCmModel282);
}

void TXLAWindow::CmMonomerDimerModel() {
  if (RefuseDlsData()) return;
  EnterModel(*this, &ModelSelectorFlags::MonomerDimerModel, kCmMonomerDimerModel);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmMonomerTrimerModel() {
  if (RefuseDlsData()) return;
  EnterModel(*this, &ModelSelectorFlags::MonomerTrimerModel, kCmMonomerTrimerModel);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmZoneCentrifugationSpeciesModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.LammDiscreteModel = 1;
  m.ZoneCentrifugationModel = 1;
  CheckMenuItem(kCmZoneCentrifugationSpeciesModel, true);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmFaxenSimulation() {
  // The approximation forms the boundaries of discrete species one by one;
  // a distribution or an association has none that it could form.
  if (!gModelSelectorFlags.LammDiscreteModel || gModelSelectorFlags.AnySelfAssociationModel() ||
      gModelSelectorFlags.NonidealSingleSpeciesModel || gModelSelectorFlags.Model267) {
    platform::Tell("FAXEN APPROXIMATION",
                   "the Faxen approximation simulates non-interacting species:\nchoose Model > Non-Interacting "
                   "Discrete Species first",
                   platform::BoxIcon::Information);
    return;
  }
  RunState().FaxenSimulation = true;
  gFaxenApproximation = 1;
  CmRun();
  gFaxenApproximation = 0;
  RunState().FaxenSimulation = false;
}

// ---- the distribution family ------------------------------------------------

ContiModelCommandContext ModelCommandContext() {
  ContiModelCommandContext ctx;
  // The loaded data as a first start reads them.
  const ModelStartData data = LoadedModelStartData();
  ctx.dlsDataLoaded = data.dls;
  ctx.electrophoresisDataLoaded = data.electrophoresis;
  ctx.scanCount = data.scanCount;
  ctx.lastScanTemperature = data.lastScanTemperature;
  static bool fitMAndS = false;
  fitMAndS = data.fitMAndS;
  ctx.fitMAndS = &fitMAndS;
  ctx.host = MainFitHost();
  ctx.startToMaxEntropy = ModelStartJustWritten().toMaxEntropy;
  return ctx;
}

void AfterContiCommand(TXLAWindow& w, const ContiModelCommandContext& ctx, const ContiModelCommandResult& r) {
  if (!gModelSelectorFlags.SedTransformModel) FreeLsgsArrays();
  gFitEngineState.molarMassParameters = *ctx.fitMAndS ? 1 : 0;
  w.CheckMenuItem(cmd::FitMAndS, *ctx.fitMAndS);
  if (r.reallocLamm) ReallocLammArraysIfPresent();
  if (r.invalidate) w.Frame().Invalidate(true);
  // The family's set-up may have switched the regularisation.
  w.CheckMenuItem(cmd::Regularization2ndDerivative, Conti().secondDerivative != 0);
  w.CheckMenuItem(cmd::RegularizationMaxEnt, Conti().maxEntropy != 0 && !Conti().secondDerivative);
}

void TXLAWindow::CmContinuousCMModel() {
  const ContiModelCommandContext ctx = ModelCommandContext();
  const ContiModelCommandResult r = ::CmContinuousCMModel(ctx);
  if (r.refused) return;
  const ModelSelectorFlags& m = gModelSelectorFlags;
  CheckMenuItem(kCmContinuousCMModel, !m.CSModel);
  CheckMenuItem(kCmContinuousCSModel, m.CSModel != 0);
  AfterContiCommand(*this, ctx, r);
}

void TXLAWindow::CmContinuousCSModel() {
  const ContiModelCommandContext ctx = ModelCommandContext();
  const ContiModelCommandResult r = ::CmContinuousCSModel(ctx);
  if (r.refused) return;
  for (const ModelRow& row : ModelTable())
    if (row.id != kCmContinuousCSModel) CheckMenuItem(row.id, false);
  CheckMenuItem(kCmContinuousCSModel, gModelSelectorFlags.CSModel != 0);
  AfterContiCommand(*this, ctx, r);
}

namespace {

// A c(s) variant: the family's set-up through the distribution code, then
// the window's marks (235 and 275 off, the variant's own item on).
void SelectVariant(TXLAWindow& w, CsVariant variant, int item) {
  const ContiModelCommandContext ctx = ModelCommandContext();
  const ContiModelCommandResult r = ::CmContinuousCSVariant(variant, ctx);
  if (r.refused) return;
  w.CheckMenuItem(kCmContinuousCMModel, false);
  w.CheckMenuItem(kCmContinuousCSModel, false);
  w.CheckMenuItem(item, true);
  AfterContiCommand(w, ctx, r);
}

}  // namespace

void TXLAWindow::CmCSWith1DiscreteModel() { SelectVariant(*this, CsVariant::With1Discrete, kCmCSWith1DiscreteModel); }
void TXLAWindow::CmCSWithMsTableModel() { SelectVariant(*this, CsVariant::MsTable, kCmCSWithMsTableModel); }
void TXLAWindow::CmConformationalChangeCSModel() {
  SelectVariant(*this, CsVariant::ConformationalChange, kCmConformationalChangeCSModel);
}
void TXLAWindow::CmBimodalFF0CSModel() { SelectVariant(*this, CsVariant::BimodalFf0, kCmBimodalFF0CSModel); }
void TXLAWindow::CmBimodalFF0With1DiscreteCSModel() {
  SelectVariant(*this, CsVariant::BimodalFf0With1Discrete, kCmBimodalFF0With1DiscreteCSModel);
}
void TXLAWindow::CmFixFF0FloatingVbarCSModel() {
  SelectVariant(*this, CsVariant::FixFf0FloatingVbar, kCmFixFF0FloatingVbarCSModel);
}
void TXLAWindow::CmGeneralScalingLawCSModel() {
  SelectVariant(*this, CsVariant::GeneralScalingLaw, kCmGeneralScalingLawCSModel);
}
void TXLAWindow::CmWormlikeChainCSModel() { SelectVariant(*this, CsVariant::WormlikeChain, kCmWormlikeChainCSModel); }
namespace {

// The size-and-shape distribution has no buffer signal of its own.
bool RefuseInBufferMismatch() {
  if (!gBufferSedSettings.BufferSedOn || gModelSelectorFlags.AnyCsff0Model()) return false;
  if (RefuseDlsData()) return true;
  return RefuseModelFor("this model does not work in buffer mismatch mode");
}

}  // namespace

void TXLAWindow::CmCSff0Model() {
  if (RefuseInBufferMismatch()) return;
  CheckMenuItem(kCmCSff0With1DiscreteModel, false);
  SelectVariant(*this, CsVariant::CsFf0, kCmCSff0Model);
}
void TXLAWindow::CmCSff0With1DiscreteModel() {
  if (RefuseInBufferMismatch()) return;
  CheckMenuItem(kCmCSff0Model, false);
  SelectVariant(*this, CsVariant::CsFf0With1Discrete, kCmCSff0With1DiscreteModel);
}
void TXLAWindow::CmCSInvariantDModel() { SelectVariant(*this, CsVariant::InvariantD, kCmCSInvariantDModel); }
void TXLAWindow::CmCSModel521() { SelectVariant(*this, CsVariant::LinearRod521, kCmCSModel521); }

void ConvertSpeciesMassAndD(float RT, float buoyancy) {
  ModelParams& mp = gModelParams;
  // The reacting system holds M or D of A and B only: its complex follows
  // from them when the parameters are packed, slot 4 is A's extinction.
  const bool reacting = gModelSelectorFlags.Model267 || gModelSelectorFlags.EquilibriumModel523;
  const int slots = reacting ? 2 : std::min(mp.componentCount, kComponentSlots);
  for (int i = 1; i <= slots; ++i) {
    const float q = mp.massOrD[i];
    mp.massOrD[i] = q > 0 ? std::fabs(mp.s[i]) * 1e-6f * RT / (buoyancy * q) : 0.0f;
  }
}

void SetFitMAndS(TXLAWindow& w, bool on) {
  const bool was = gFitEngineState.molarMassParameters != 0;
  gFitEngineState.molarMassParameters = on ? 1 : 0;
  w.CheckMenuItem(cmd::FitMAndS, on);
  // Only the species models hold species in the slots (the association
  // models load their own start values over them), and so do the start-up
  // entries while no model is chosen.
  const int key = SelectedModelKey();
  if (was == on || (key != 0 && !TakesSpeciesKey(key))) return;
  const float buoyancy = 1.0f - gSolutionConditions.vbarRho;
  const float* rt = CurrentLoadTargets().RT;
  const float RT = CurrentScanSet().count > 0 && rt ? *rt : kRT20;
  if (buoyancy == 0.0f) return;
  // Slot by slot, without the model's derivations (an unpack would read
  // the slots into the model's own store).
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  for (int k = 1; k <= n; ++k) {
    mp.massOrD[k] = P[k];
    mp.s[k] = P[n + k];
  }
  ConvertSpeciesMassAndD(RT, buoyancy);
  for (int k = 1; k <= n; ++k) P[k] = mp.massOrD[k];
}

void TXLAWindow::CmFitMAndS() {
  float& RT = *CurrentLoadTargets().RT;
  if (CurrentScanSet().count <= 0) {
    RT = kRT20;
    platform::Tell("", "assuming t = 20 'C", platform::BoxIcon::None);
  }
  const float buoyancy = 1.0f - gSolutionConditions.vbarRho;
  if (buoyancy == 0.0f) {
    // Neither form can be converted into the other without buoyancy.
    platform::Tell("FIT M AND S", "v*rho is 1: molar mass and diffusion coefficient cannot be converted",
                   platform::BoxIcon::None);
    return;
  }
  gFitEngineState.molarMassParameters = gFitEngineState.molarMassParameters ? 0 : 1;
  CheckMenuItem(cmd::FitMAndS, gFitEngineState.molarMassParameters != 0);
  UnpackModelParameters();
  ConvertSpeciesMassAndD(RT, buoyancy);
  PackModelParameters();
}

namespace {

// A model command is running (one that calls another as its first step is
// one choice).
bool& ModelCommandRunning() {
  static bool inside = false;
  return inside;
}

// The trip of the saved parameter file being read (nullptr: none).
const ModelEntryTrip*& TripOfFileBeingRead() {
  static const ModelEntryTrip* trip = nullptr;
  return trip;
}

}  // namespace

ModelCommandsFromFile::ModelCommandsFromFile(const ModelEntryTrip& fileTrip) : was_(TripOfFileBeingRead()) {
  TripOfFileBeingRead() = &fileTrip;
}
ModelCommandsFromFile::~ModelCommandsFromFile() { TripOfFileBeingRead() = was_; }

void RunModelCommand(TXLAWindow& w, int id, const std::function<void()>& command) {
  bool& inside = ModelCommandRunning();
  if (inside) {
    command();
    return;
  }
  // (A file's model is set up again even where it was the model in use:
  // the file cleared the switches.)
  const ModelEntryTrip* file = TripOfFileBeingRead();
  // The model in use chosen again: its row says what its command does.
  if (!file && SelectedModelKey() == id && ModelInUseAgain(id) == InUseAgain::Nothing) return;
  struct Inside {
    Inside() { ModelCommandRunning() = true; }
    ~Inside() { ModelCommandRunning() = false; }
  } scope;
  const ModelEntryTrip trip = BeginModelEntry(id, file);
  // A model of its own start entered for the first time is set up as from
  // no model at all: its command takes its whole way and writes all its
  // start values (from another model of the family it would keep that
  // model's range and regularization). Data it refuses leave everything.
  const ModelRow* row = FindModelRow(id);
  const bool fromNoModel = trip.entered && !trip.restored && row && row->start == ModelStart::StartUp &&
                           (CurrentScanSet().count < 1 || (row->accepts & LoadedDataKind()));
  const ModelSelectorFlags switchesBefore = gModelSelectorFlags;
  const LammGridSize gridSizeBefore = LammSettings().gridSize;
  const StoredStartValues stored = trip.speciesStart ? TakeStoredStart(id) : StoredStartValues{};
  if (fromNoModel) {
    ReleaseDistributionArrays();
    // (The start in place keeps its own solver choice through the reset.)
    ClearSelectionForModel();
    gModelSelectorFlags.CSModel = 0;
  }
  command();
  if (fromNoModel && SelectedModelKey() != id) {
    // Refused or cancelled after all: the model before is chosen again.
    gModelSelectorFlags = switchesBefore;
    LammSettings().gridSize = gridSizeBefore;
    if (!file) w.CheckMenuItem(trip.before, true);
  }
  // (The solver of a species start decides the Lamm grid.)
  const bool speciesStart = trip.speciesStart && SelectedModelKey() == id;
  if (speciesStart) WriteSpeciesStart(id, trip.speciesFrom, stored);
  const bool changed = FinishModelEntry(trip);
  if (speciesStart) ReallocLammArraysIfPresent();
  // The marks are the table's: the model chosen (or kept), and no other
  // that a command of the same family left marked.
  if (!file) MarkSelectedModel(w);
  if (!changed) return;
  w.CheckMenuItem(cmd::FitMAndS, gFitEngineState.molarMassParameters != 0);
  w.CheckMenuItem(cmd::Regularization2ndDerivative, Conti().secondDerivative != 0);
  w.CheckMenuItem(cmd::RegularizationMaxEnt, Conti().maxEntropy != 0 && !Conti().secondDerivative);
  // The buffer's slot is set up again for the species given back.
  if (SelectedModelKey() == kCmDiscreteSpeciesModel && gBufferSedSettings.BufferSedOn) CheckBufferSedimentationModel();
}

namespace {

void SelectNonidealSingleSpecies(TXLAWindow& w, bool hindered) {
  if (RefuseDlsData()) return;
  if (CurrentScanSet().equilibriumMode) {
    RefuseModelFor("this model is not implemented for equilibrium data");
    return;
  }
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.NonidealSingleSpeciesModel = 1;
  m.NonidealVariantModel = hindered ? 1 : 0;
  SetFitMAndS(w, false);
  w.CheckMenuItem(kCmNonidealSingleSpeciesModel, !hindered);
  w.CheckMenuItem(kCmNonidealSingleSpeciesModel1099, hindered);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

// The rapid self-association of three states (its start, from the store
// of its values, is its row's).
void SelectThreeStateAssociation(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.*own = 1;
  w.CheckMenuItem(item, true);
  if (!gFitEngineState.molarMassParameters) SetFitMAndS(w, true);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

}  // namespace

void TXLAWindow::CmNonidealSingleSpeciesModel() { SelectNonidealSingleSpecies(*this, false); }
void TXLAWindow::CmNonidealSingleSpeciesModel1099() { SelectNonidealSingleSpecies(*this, true); }

void TXLAWindow::CmNonidealMultipleSpeciesModel() {
  if (RefuseDlsData()) return;
  if (CurrentScanSet().equilibriumMode) {
    RefuseModelFor("this model is not implemented for equilibrium data");
    return;
  }
  EnterModel(*this, &ModelSelectorFlags::NonidealMultipleSpeciesModel, kCmNonidealMultipleSpeciesModel);
  SetFitMAndS(*this, false);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmMonomerTetramerOctamerModel() {
  SelectThreeStateAssociation(*this, &ModelSelectorFlags::MonomerTetramerOctamerModel, kCmMonomerTetramerOctamerModel);
}

void TXLAWindow::CmMonomerDimerTetramerModel() {
  SelectThreeStateAssociation(*this, &ModelSelectorFlags::MonomerDimerTetramerModel, kCmMonomerDimerTetramerModel);
}

namespace {

// The common set-up of the distribution family with the window's share;
// false when it refused.
bool CommonContiSetup(TXLAWindow& w) {
  const ContiModelCommandContext ctx = ModelCommandContext();
  const ContiModelCommandResult r = ::CmContinuousCMModel(ctx);
  if (r.refused) return false;
  AfterContiCommand(w, ctx, r);
  return true;
}

void SelectNonidealCS(TXLAWindow& w, bool alt) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (!m.CSModel && (gFitEngineState.fitTINoise || gModelParams.riNoiseFit)) {
    PlaySoundInfo();
    platform::Tell("ERROR", "you may need to run normal c(s) first, to get estimates for baselines",
                   platform::BoxIcon::Warning);
  }
  if (!CommonContiSetup(w)) return;
  MarkChosenModel(w, alt ? kCmNonidealCSModel1100 : kCmNonidealCSModel);
  m.NonidealCSModel = 1;
  m.NonidealCSVariant = alt ? 1 : 0;
  RebuildDistributionPlotKeepingRange(Conti());
  UnpackModelParameters();
}

}  // namespace

void TXLAWindow::CmZoneCentrifugationCSModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ClearSelectionForModel();
  m.CSModel = 1;
  if (!CommonContiSetup(*this)) return;
  CheckMenuItem(kCmContinuousCMModel, false);
  CheckMenuItem(kCmContinuousCSModel, false);
  CheckMenuItem(kCmZoneCentrifugationCSModel, true);
  m.CSModel = 1;
  m.ZoneCentrifugationCSModel = 1;
  m.ZoneCentrifugationModel = 1;
  RebuildDistributionPlotKeepingRange(Conti());
  if (ModelStartJustWritten().toSecondDerivative)
    platform::Tell("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
  UnpackModelParameters();
}

void TXLAWindow::CmElectrophoresisCVModel() {
  if (!CurrentDataTypeFlags().electrophoresis) {
    RefuseModelFor("need electrophoresis data for this model");
    return;
  }
  ReleaseDistributionArrays();
  if (!CommonContiSetup(*this)) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  m.ElectrophoresisCVModel = 1;
  m.ElectrophoresisLammModel = 1;
  cs.constantDSwitch = 1;
  CheckMenuItem(kCmContinuousCMModel, false);
  CheckMenuItem(kCmElectrophoresisCVModel, true);
  LammSettings().gridSize.inUse = 200;
  UnpackModelParameters();
  RebuildDistributionPlotKeepingRange(Conti());
}

void TXLAWindow::CmNonidealCSModel() {
  if (RefuseDlsData()) return;
  SelectNonidealCS(*this, false);
}

void TXLAWindow::CmNonidealCSModel1100() {
  if (RefuseDlsData()) return;
  SelectNonidealCS(*this, true);
}

void TXLAWindow::CmFMScalingLawModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  // The molar-mass distribution keeps its plot through the set-up.
  RunState().KeepDistributionPlot = true;
  if (!CommonContiSetup(*this)) return;
  for (int item : {kCmContinuousCMModel, kCmContinuousCSModel}) CheckMenuItem(item, false);
  CheckMenuItem(kCmFMScalingLawModel, true);
  m.CSModel = 0;
  m.FMScalingLawModel = 1;
  RebuildDistributionPlotKeepingRange(Conti());
  UnpackModelParameters();
  if (platform::UI().MessageBox("C(M) POWERLAW", "enter new s(M) power-law calibration?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) == platform::IDYES) {
    if (!Road().calibrateCMPowerLaw())
      platform::Tell("C(M) POWERLAW", "sorry, s(M) power-law calibration failed!", platform::BoxIcon::Error);
  }
  if (ModelStartJustWritten().toSecondDerivative)
    platform::Tell("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
}
