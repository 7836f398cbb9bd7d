#include "fit/model_table.h"

#include <algorithm>
#include <iterator>

#include "data/scan_set.h"
#include "fit/model_selector.h"

namespace {

using F = ModelFamily;
using S = ModelStart;
constexpr unsigned kSed = kSedimentationData;
// The concentration-dependent models have no equilibrium form.
constexpr unsigned kVelocityOnly = kVelocityData | kElectrophoresisData;
// The discrete species also describe autocorrelation functions.
constexpr unsigned kSedOrDls = kSedimentationData | kDlsData;

// In the order of the menu marks the reset clears.
constexpr ModelRow kRows[] = {
    {198, F::Species, kSedOrDls, S::LastSpecies, 0, 0, true},
    {280, F::Species, kSed, S::LastSpecies, 0, 0, true},
    {281, F::Species, kSed, S::LastSpecies, 0, kAsksOwnValues, true},
    {282, F::Species, kSedOrDls, S::LastSpecies, 0, 0, true},
    {291, F::Species, kSed, S::LastSpecies, kBorrowsBottom, 0, true},
    {501, F::Distribution, kSed, S::StartUp, kBorrowsBottom | kBorrowsFfSlot},
    {536, F::Species, kDlsData, S::LastSpecies, 0, kAsksViscosity, true},
    {197, F::Association, kSed, S::LastSpecies},
    {229, F::Association, kSed, S::LastSpecies},
    {520, F::Association, kSed, S::StartUp},
    {228, F::Association, kSed, S::StartUp},
    {227, F::Nonideal, kVelocityOnly, S::LastSpecies},
    {893, F::Nonideal, kVelocityOnly, S::LastSpecies, 0, 0, true},
    {235, F::Distribution, kSed, S::StartUp},
    {526, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {275, F::Distribution, kSed, S::StartUp},
    {267, F::Association, kSed, S::StartUp},
    {277, F::Distribution, kSed, S::StartUp},
    {278, F::Distribution, kSed, S::StartUp, 0, kAsksOwnValues},
    {279, F::Distribution, kSed, S::StartUp, 0, kAsksOwnValues},
    {288, F::Distribution, kSed, S::StartUp},
    {539, F::Distribution, kSed, S::StartUp},
    {950, F::Distribution, kSed, S::StartUp},
    {503, F::Distribution, kDlsData, S::StartUp},
    {522, F::Distribution, kDlsData, S::StartUp, kBorrowsFfSlot},
    {502, F::Distribution, kDlsData, S::StartUp},
    {292, F::Transform, kSed, S::StartUp, 0, kAsksResolution},
    {293, F::Transform, kSed, S::StartUp},
    {284, F::Equilibrium, kSed, S::StartUp},
    {523, F::Equilibrium, kSed, S::StartUp},
    {246, F::Species, kSedOrDls, S::LastSpecies, 0, 0, true},
    {511, F::Distribution, kSed, S::StartUp},
    {510, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {513, F::Distribution, kElectrophoresisData, S::StartUp, kBorrowsBottom},
    {514, F::Distribution, kSed, S::StartUp},
    {531, F::Distribution, kSed, S::StartUp},
    {521, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {585, F::Distribution, kSed, S::StartUp},
    {587, F::Distribution, kSed, S::StartUp},
    {595, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {598, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {1099, F::Nonideal, kVelocityOnly, S::LastSpecies},
    {1100, F::Distribution, kSed, S::StartUp},
    {602, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot | kBorrowsVbar},
    {603, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {872, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {887, F::Distribution, kSed, S::StartUp, kBorrowsFfSlot},
    {548, F::Distribution, kSed, S::StartUp},
    {870, F::Distribution, kSed, S::StartUp},
    {890, F::Species, kDlsData, S::LastSpecies, 0, 0, true},
};

}  // namespace

std::span<const ModelRow> ModelTable() { return kRows; }

const ModelRow* FindModelRow(int id) {
  const auto it = std::find_if(std::begin(kRows), std::end(kRows), [id](const ModelRow& r) { return r.id == id; });
  return it == std::end(kRows) ? nullptr : &*it;
}

int SelectedModelKey() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  if (f.EquilibriumModel284) return 284;
  if (f.EquilibriumModel523) return 523;
  if (f.SedTransformModel) return f.LsgExtrapolationModel ? 293 : 292;
  if (f.DlsStokesRadiiModel) return 536;
  if (f.DlsCumulantModel) return 890;
  if (f.DlsIRhTimeCourseModel) return 522;
  if (f.DlsIRhModel) return 503;
  if (f.DlsIDModel) return 502;
  if (f.ElectrophoresisLsgModel) return 501;
  if (f.ElectrophoresisCVModel) return 513;
  if (f.ElectrophoresisLammModel) return 291;
  if (f.ZoneCentrifugationLsgModel) return 510;
  if (f.ZoneCentrifugationCSModel) return 511;
  if (f.ZoneCentrifugationModel) return 246;
  if (f.HybridCSLsgModel) return 950;
  if (f.LsgStarWith1DiscreteModel) return 539;
  if (f.LsgStarModel) return 288;
  if (f.NonidealCSModel) return f.NonidealCSVariant ? 1100 : 585;
  if (f.CSWithMsTableModel) return 587;
  if (f.CSWith1DiscreteModel || f.CSWith1DiscreteComponent) return 531;
  if (f.ConformationalChangeCSModel) return 514;
  if (f.BimodalFF0With1DiscreteCSModel) return 870;
  if (f.BimodalFF0CSModel) return 548;
  if (f.FixFF0FloatingVbarCSModel) return 602;
  if (f.GeneralScalingLawCSModel) return 872;
  if (f.FMScalingLawModel) return 887;
  if (f.WormlikeChainCSModel) return 603;
  if (f.CSff0With1DiscreteModel) return 598;
  if (f.CSff0Model) return 595;
  if (f.CSInvariantDModel) return 526;
  if (f.CSModel521) return 521;
  if (f.CMPriorVbarModel) return 279;
  if (f.CMInvariantDModel) return 277;
  if (f.CMPowerLawModel) return 278;
  if (f.DistributionModel) return f.CSModel ? 275 : 235;
  if (f.MonomerDimerModel) return 197;
  if (f.MonomerTrimerModel) return 229;
  if (f.MonomerDimerTetramerModel) return 228;
  if (f.MonomerTetramerOctamerModel) return 520;
  if (f.Model267) return 267;
  if (f.NonidealSingleSpeciesModel) return f.NonidealVariantModel ? 1099 : 227;
  if (f.NonidealMultipleSpeciesModel) return 893;
  if (f.LinearLammModel) return 280;
  if (f.ExternalLoadingCellModel) return 281;
  if (f.Model282) return 282;
  if (f.LammDiscreteModel) return 198;
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

bool DistributionKey(int key) {
  const ModelRow* r = FindModelRow(key);
  return r && r->family == ModelFamily::Distribution;
}

bool ModelBorrowsSlot(int key, ModelBorrows what) {
  const ModelRow* r = FindModelRow(key);
  return r && (r->borrows & what) != 0;
}

bool ModelAsksAgain(int key) {
  const ModelRow* r = FindModelRow(key);
  return r && r->asks != 0;
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
  // Without a model chosen the start-up species are sedimenting species.
  if (key == 0) return kind == kDlsData ? "no model is chosen for the DLS data loaded" : nullptr;
  const ModelRow* r = FindModelRow(key);
  if (!r || (r->accepts & kind)) return nullptr;
  if (kind == kDlsData) return "this model is not implemented for DLS data";
  if (r->accepts == kDlsData) return "need DLS data for this analysis";
  if (r->accepts == kElectrophoresisData) return "need electrophoresis data for this model";
  if (kind == kEquilibriumData) return "this model is not implemented for equilibrium data";
  return "this model is not implemented for the data loaded";
}
