#include "fit/model_table.h"

#include <algorithm>
#include <iterator>

#include "data/scan_set.h"
#include "fit/model_selector.h"

namespace {

using F = ModelFamily;
using S = ModelStart;
using R = StartRegularisation;
using I = InUseAgain;
constexpr unsigned kSed = kSedimentationData;
// The concentration-dependent models have no equilibrium form.
constexpr unsigned kVelocityOnly = kVelocityData | kElectrophoresisData;
// The discrete species also describe autocorrelation functions.
constexpr unsigned kSedOrDls = kSedimentationData | kDlsData;
constexpr unsigned kDiscrete = kBorrowsDiscrete;
constexpr unsigned kNonideality = kBorrowsNonideality;
// The species in a Lamm geometry of their own start on the finite-element
// solver with nothing floated and the third slots empty.
constexpr StartValues kGeometryStart = {
    .species = {.automatic = 0, .claverie = 1, .movingHat = 0, .fixAll = true, .emptyThirdSlots = true}};
constexpr StartValues kNothingFloated = {.species = {.fixAll = true}};
// The discrete species: the automatic choice of solver, nothing floated,
// no fourth quantity and the third slots empty.
constexpr StartValues kDiscreteStart = {
    .species = {.automatic = 1, .emptyExtras = 0xF, .fixAll = true, .emptyThirdSlots = true}};
// The dimer's fourth quantity follows from the monomer's.
constexpr StartValues kMonomerDimerStart = {.species = {.emptyExtras = 0x2, .fixAll = true}};
// The zone's species sediment from a lamella on the moving frame (the
// lamella's loading as the zone c(s) starts it).
constexpr StartValues kZoneSpeciesStart = {.loading = 0.1f,
                                           .species = {.automatic = 0,
                                                       .claverie = 0,
                                                       .movingHat = 1,
                                                       .modelInitial = true,
                                                       .emptyExtras = 0x8,
                                                       .fixAll = true,
                                                       .zoneLoading = true}};
constexpr SpeciesStart ThreeStateStart(float a, float b) {
  return {.claverie = 1,
          .movingHat = 0,
          .fixedTimeStep = 0,
          .stored = StoredStart::ThreeStateAssociation,
          .oligomerA = a,
          .oligomerB = b};
}
constexpr StartValues kReactingStart = {
    .species = {.movingHat = 1, .modelInitial = true, .fixAll = true, .stored = StoredStart::ReactingSystem}};
constexpr StartValues kNonidealSpeciesStart = {.species = {.fixAll = true, .stored = StoredStart::NonidealSpecies}};
constexpr StartValues kEquilibriumStart = {.species = {.fitNoise = true}};
constexpr StartValues kEquilibriumAssociationStart = {
    .species = {.fitNoise = true, .stored = StoredStart::EquilibriumAssociation}};
// The light-scattering species start with nothing floated but the baseline.
constexpr StartValues kStokesRadiiStart = {
    .species = {.fixAll = true, .floatBaseline = true, .quantity = SpeciesQuantity::StokesRadius}};
constexpr StartValues kCumulantStart = {.species = {.fixAll = true, .floatBaseline = true, .oneSpecies = true}};

// In the order of the menu marks the reset clears.
constexpr ModelRow kRows[] = {
    {kCmDiscreteSpeciesModel, F::Species, kSedOrDls, S::LastSpecies, 0, I::Nothing, true, {}, kDiscreteStart},
    {kCmLinearLammModel, F::Species, kSed, S::LastSpecies, 0, I::Nothing, true, {}, kGeometryStart},
    {kCmExternalLoadingCellModel, F::Species, kSed, S::LastSpecies, 0, I::OptionsOnly, true, {}, kGeometryStart},
    {kCmModel282, F::Species, kSedOrDls, S::LastSpecies, 0, I::Nothing, true, {}, kGeometryStart},
    {kCmElectrophoresisLammModel, F::Species, kSed, S::LastSpecies, kBorrowsBottom, I::Nothing, true, {}, kGeometryStart},
    {kCmElectrophoresisLsgModel, F::Distribution, kSed, S::StartUp, kBorrowsBottom | kBorrowsFfSlot, I::Nothing, false, {1.0f, 20.0f},
     {100.0f, 0.683f, 0, 0, R::SecondDerivative}},
    {kCmDlsStokesRadiiModel, F::Species, kDlsData, S::LastSpecies, 0, I::OptionsOnly, true, {}, kStokesRadiiStart},
    {kCmMonomerDimerModel, F::Association, kSed, S::LastSpecies, 0, I::Nothing, false, {}, kMonomerDimerStart},
    {kCmMonomerTrimerModel, F::Association, kSed, S::LastSpecies, 0, I::Nothing, false, {}, kNothingFloated},
    {kCmMonomerTetramerOctamerModel, F::Association, kSed, S::StartUp, 0, I::Nothing, false, {},
     {.species = ThreeStateStart(4.0f, 8.0f)}},
    {kCmMonomerDimerTetramerModel, F::Association, kSed, S::StartUp, 0, I::Nothing, false, {},
     {.species = ThreeStateStart(2.0f, 4.0f)}},
    {kCmNonidealSingleSpeciesModel, F::Nonideal, kVelocityOnly, S::LastSpecies, kNonideality, I::Nothing, false, {},
     kNonidealSpeciesStart},
    {kCmNonidealMultipleSpeciesModel, F::Nonideal, kVelocityOnly, S::LastSpecies, kNonideality, I::Nothing, true, {},
     kNonidealSpeciesStart},
    {kCmContinuousCMModel, F::Distribution, kSed, S::StartUp},
    {kCmCSInvariantDModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {kCmContinuousCSModel, F::Distribution, kSed, S::StartUp, 0, I::Nothing, false, {0.0f, 15.0f}, {.regularisation = R::MaxEntropy}},
    {kCmModel267, F::Association, kSed, S::StartUp, 0, I::Nothing, false, {}, kReactingStart},
    {kCmCMInvariantDModel, F::Distribution, kSed, S::StartUp},
    {kCmCMPowerLawModel, F::Distribution, kSed, S::StartUp, 0, I::AsksAgain},
    {kCmCMPriorVbarModel, F::Distribution, kSed, S::StartUp, 0, I::AsksAgain},
    {kCmLsgStarModel, F::Distribution, kSed, S::StartUp, 0, I::Nothing, false, {1.0f, 20.0f}, {100.0f, 0.683f, 0, 0, R::SecondDerivative}},
    {kCmLsgStarWith1DiscreteModel, F::Distribution, kSed, S::StartUp, kDiscrete, I::Nothing, false, {1.0f, 20.0f},
     {100.0f, 0.683f, 0, 0, R::SecondDerivative}},
    // (It starts from the bimodal c(s) with one discrete component, range included.)
    {kCmHybridCSLsgModel, F::Distribution, kSed, S::StartUp, kDiscrete, I::Nothing, false, {},
     {.resolution = 101.0f, .regularisation = R::SecondDerivative}},
    {kCmDlsIRhModel, F::Distribution, kDlsData, S::StartUp, 0, I::Nothing, false, {1.0f, 50.0f},
     {.confidence = 0.55f, .regularisation = R::MaxEntropy}},
    {kCmDlsIRhTimeCourseModel, F::Distribution, kDlsData, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {1.0f, 50.0f},
     {.confidence = 0.55f, .regularisation = R::MaxEntropy}},
    {kCmDlsIDModel, F::Distribution, kDlsData, S::StartUp, 0, I::Nothing, false, {0.1f, 10.0f}, {.confidence = 0.55f}},
    {kCmVanHoldeWeischet, F::Transform, kSed, S::StartUp, 0, I::OptionsOnly},
    {kCmExtrapolateLsgAreaFractions, F::Transform, kSed, S::StartUp, 0, I::Nothing, false, {1.0f, 10.0f},
     {.resolution = 50.0f, .confidence = 0.68f}},
    {kCmEquilibriumModel284, F::Equilibrium, kSed, S::StartUp, 0, I::Nothing, false, {}, kEquilibriumStart},
    {kCmEquilibriumModel523, F::Equilibrium, kSed, S::StartUp, 0, I::Nothing, false, {}, kEquilibriumAssociationStart},
    {kCmZoneCentrifugationSpeciesModel, F::Species, kSedOrDls, S::LastSpecies, 0, I::Nothing, true, {}, kZoneSpeciesStart},
    {kCmZoneCentrifugationCSModel, F::Distribution, kSed, S::StartUp, 0, I::Nothing, false, {},
     {.confidence = 0.99f, .loading = 0.1f, .regularisation = R::SecondDerivative}},
    {kCmZoneCentrifugationLsgModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {1.0f, 20.0f},
     {100.0f, 0.95f, 1.0f, 0.1f, R::SecondDerivative}},
    {kCmElectrophoresisCVModel, F::Distribution, kElectrophoresisData, S::StartUp, kBorrowsBottom, I::Nothing, false, {1.0f, 20.0f},
     {.resolution = 100.0f, .confidence = 0.683f, .constantD = 5.0f}},
    {kCmConformationalChangeCSModel, F::Distribution, kSed, S::StartUp, 0, I::Nothing, false, {0.0f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    {kCmCSWith1DiscreteModel, F::Distribution, kSed, S::StartUp, kDiscrete, I::Nothing, false, {0.0f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    {kCmCSModel521, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {kCmNonidealCSModel, F::Distribution, kSed, S::StartUp, kDiscrete | kNonideality, I::Nothing, false, {},
     {.discreteM = 350.0f, .discreteS = 0.34f}},
    {kCmCSWithMsTableModel, F::Distribution, kSed, S::StartUp, kDiscrete, I::Nothing, false, {},
     {.regularisation = R::MaxEntropy}},
    {kCmCSff0Model, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {},
     {.regularisation = R::MaxEntropy}},
    {kCmCSff0With1DiscreteModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot | kDiscrete, I::Nothing, false, {0.1f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    {kCmNonidealSingleSpeciesModel1099, F::Nonideal, kVelocityOnly, S::LastSpecies, kNonideality, I::Nothing, false, {},
     kNonidealSpeciesStart},
    {kCmNonidealCSModel1100, F::Distribution, kSed, S::StartUp, kDiscrete | kNonideality, I::Nothing, false, {},
     {.discreteM = 350.0f, .discreteS = 0.34f}},
    {kCmFixFF0FloatingVbarCSModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot | kBorrowsVbar, I::Nothing, false, {},
     {.regularisation = R::MaxEntropy}},
    {kCmWormlikeChainCSModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {},
     {.regularisation = R::MaxEntropy}},
    {kCmGeneralScalingLawCSModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {0.5f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    // (Its range is one of molar masses.)
    {kCmFMScalingLawModel, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot, I::Nothing, false, {10000.0f, 500000.0f},
     {.regularisation = R::SecondDerivative}},
    {kCmBimodalFF0CSModel, F::Distribution, kSed, S::StartUp, 0, I::Nothing, false, {0.0f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    {kCmBimodalFF0With1DiscreteCSModel, F::Distribution, kSed, S::StartUp, kDiscrete, I::Nothing, false, {0.0f, 20.0f},
     {.regularisation = R::MaxEntropy}},
    {kCmDlsCumulantModel, F::Species, kDlsData, S::LastSpecies, 0, I::Nothing, true, {}, kCumulantStart},
};

}  // namespace

std::span<const ModelRow> ModelTable() { return kRows; }

const ModelRow* FindModelRow(int id) {
  const auto it = std::find_if(std::begin(kRows), std::end(kRows), [id](const ModelRow& r) { return r.id == id; });
  return it == std::end(kRows) ? nullptr : &*it;
}

int SelectedModelKey() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  if (f.EquilibriumModel284) return kCmEquilibriumModel284;
  if (f.EquilibriumModel523) return kCmEquilibriumModel523;
  if (f.SedTransformModel) return f.LsgExtrapolationModel ? kCmExtrapolateLsgAreaFractions : kCmVanHoldeWeischet;
  if (f.DlsStokesRadiiModel) return kCmDlsStokesRadiiModel;
  if (f.DlsCumulantModel) return kCmDlsCumulantModel;
  if (f.DlsIRhTimeCourseModel) return kCmDlsIRhTimeCourseModel;
  if (f.DlsIRhModel) return kCmDlsIRhModel;
  if (f.DlsIDModel) return kCmDlsIDModel;
  if (f.ElectrophoresisLsgModel) return kCmElectrophoresisLsgModel;
  if (f.ElectrophoresisCVModel) return kCmElectrophoresisCVModel;
  if (f.ElectrophoresisLammModel) return kCmElectrophoresisLammModel;
  if (f.ZoneCentrifugationLsgModel) return kCmZoneCentrifugationLsgModel;
  if (f.ZoneCentrifugationCSModel) return kCmZoneCentrifugationCSModel;
  if (f.ZoneCentrifugationModel) return kCmZoneCentrifugationSpeciesModel;
  if (f.HybridCSLsgModel) return kCmHybridCSLsgModel;
  if (f.LsgStarWith1DiscreteModel) return kCmLsgStarWith1DiscreteModel;
  if (f.LsgStarModel) return kCmLsgStarModel;
  if (f.NonidealCSModel) return f.NonidealCSVariant ? kCmNonidealCSModel1100 : kCmNonidealCSModel;
  if (f.CSWithMsTableModel) return kCmCSWithMsTableModel;
  if (f.CSWith1DiscreteModel || f.CSWith1DiscreteComponent) return kCmCSWith1DiscreteModel;
  if (f.ConformationalChangeCSModel) return kCmConformationalChangeCSModel;
  if (f.BimodalFF0With1DiscreteCSModel) return kCmBimodalFF0With1DiscreteCSModel;
  if (f.BimodalFF0CSModel) return kCmBimodalFF0CSModel;
  if (f.FixFF0FloatingVbarCSModel) return kCmFixFF0FloatingVbarCSModel;
  if (f.GeneralScalingLawCSModel) return kCmGeneralScalingLawCSModel;
  if (f.FMScalingLawModel) return kCmFMScalingLawModel;
  if (f.WormlikeChainCSModel) return kCmWormlikeChainCSModel;
  if (f.CSff0With1DiscreteModel) return kCmCSff0With1DiscreteModel;
  if (f.CSff0Model) return kCmCSff0Model;
  if (f.CSInvariantDModel) return kCmCSInvariantDModel;
  if (f.CSModel521) return kCmCSModel521;
  if (f.CMPriorVbarModel) return kCmCMPriorVbarModel;
  if (f.CMInvariantDModel) return kCmCMInvariantDModel;
  if (f.CMPowerLawModel) return kCmCMPowerLawModel;
  if (f.DistributionModel) return f.CSModel ? kCmContinuousCSModel : kCmContinuousCMModel;
  if (f.MonomerDimerModel) return kCmMonomerDimerModel;
  if (f.MonomerTrimerModel) return kCmMonomerTrimerModel;
  if (f.MonomerDimerTetramerModel) return kCmMonomerDimerTetramerModel;
  if (f.MonomerTetramerOctamerModel) return kCmMonomerTetramerOctamerModel;
  if (f.Model267) return kCmModel267;
  if (f.NonidealSingleSpeciesModel)
    return f.NonidealVariantModel ? kCmNonidealSingleSpeciesModel1099 : kCmNonidealSingleSpeciesModel;
  if (f.NonidealMultipleSpeciesModel) return kCmNonidealMultipleSpeciesModel;
  if (f.LinearLammModel) return kCmLinearLammModel;
  if (f.ExternalLoadingCellModel) return kCmExternalLoadingCellModel;
  if (f.Model282) return kCmModel282;
  if (f.LammDiscreteModel) return kCmDiscreteSpeciesModel;
  return 0;
}

bool IsModelCommand(int id) { return FindModelRow(id) != nullptr; }

bool SpeciesModelKey(int key) {
  if (key == 0) return true;
  const ModelRow* r = FindModelRow(key);
  return r && r->holdsSpecies;
}

bool TakesSpeciesKey(int key) {
  const ModelRow* r = FindModelRow(key);
  return r && r->start == ModelStart::LastSpecies;
}

SpeciesQuantity SpeciesQuantityOf(int key) {
  const ModelRow* r = FindModelRow(key);
  return r ? r->startValues.species.quantity : SpeciesQuantity::MassOrD;
}

bool DistributionKey(int key) {
  const ModelRow* r = FindModelRow(key);
  return r && r->family == ModelFamily::Distribution;
}

bool ModelBorrowsSlot(int key, ModelBorrows what) {
  const ModelRow* r = FindModelRow(key);
  return r && (r->borrows & what) != 0;
}

InUseAgain ModelInUseAgain(int key) {
  const ModelRow* r = FindModelRow(key);
  return r ? r->again : InUseAgain::Nothing;
}

int ModelMarkedBeside(int key) {
  const bool cmOption = key == kCmCMInvariantDModel || key == kCmCMPowerLawModel || key == kCmCMPriorVbarModel;
  return cmOption ? kCmContinuousCMModel : 0;
}

StartSRange ModelStartSRange(int key) {
  const ModelRow* r = FindModelRow(key);
  return r ? r->startS : StartSRange{};
}

unsigned LoadedDataKind() {
  const DataTypeFlags& d = CurrentDataTypeFlags();
  if (d.dls) return kDlsData;
  if (d.electrophoresis) return kElectrophoresisData;
  if (CurrentScanSet().equilibriumMode) return kEquilibriumData;
  return kVelocityData;
}

const char* ModelDataRefusal() {
  if (CurrentScanSet().count < 1) return nullptr;
  const int key = SelectedModelKey();
  const unsigned kind = LoadedDataKind();
  // Without a model nothing but the noise and baseline terms would be
  // computed: an rmsd of the data against nothing.
  if (key == 0) return kind == kDlsData ? "no model is chosen for the DLS data loaded" : "no model is chosen for the data loaded";
  const ModelRow* r = FindModelRow(key);
  if (!r || (r->accepts & kind)) return nullptr;
  if (kind == kDlsData) return "this model is not implemented for DLS data";
  if (r->accepts == kDlsData) return "need DLS data for this analysis";
  if (r->accepts == kElectrophoresisData) return "need electrophoresis data for this model";
  if (kind == kEquilibriumData) return "this model is not implemented for equilibrium data";
  return "this model is not implemented for the data loaded";
}
