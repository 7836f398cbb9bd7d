#include "distributions/model_entries.h"

#include <algorithm>

#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_settings.h"

namespace {

constexpr int kN = kComponentSlots;

// Models whose own value sits in the f/f0 slot P[2n+3] (the unpack also
// reads that slot as the family's f/f0).
bool BorrowsFfSlot(int key) {
  switch (key) {
    case 602: case 872: case 887: case 603: case 526: case 521: case 522: case 510: case 595: case 598:
      return true;
    default: return false;
  }
}
// The floating vbar is the model's own: the unpack writes it over the
// solution's vbar.
bool BorrowsVbar(int key) { return key == 602; }
// The electrophoresis cell ends at meniscus + column length.
bool BorrowsBottom(int key) { return key == 291 || key == 513 || key == 501; }

bool DistributionKey(int key) {
  switch (key) {
    case 235: case 275: case 277: case 278: case 279: case 288: case 539: case 950: case 503: case 522:
    case 502: case 511: case 510: case 513: case 514: case 531: case 521: case 585: case 1100: case 587:
    case 595: case 598: case 602: case 603: case 872: case 887: case 548: case 870: case 526: case 501:
      return true;
    default: return false;
  }
}

// Slot k of each of the species' four quantities.
constexpr int SpeciesSlot(int quantity, int k) { return quantity == 3 ? 15 + k : quantity * kN + k; }

// The species of `rec` into the slots and their record fields, without the
// derivations of the model still selected (they would read the species as
// that model's quantities).
void PutSpecies(const ModelEntryRecord* rec) {
  ModelParams& mp = gModelParams;
  ModelParameterVector& v = gModelParameterVector;
  FitEngineState& fs = gFitEngineState;
  if (rec) fs.molarMassParameters = rec->molarMassParameters;
  for (int k = 1; k <= kN; ++k) {
    for (int q = 0; q < 4; ++q) {
      const int i = SpeciesSlot(q, k);
      v.P[i] = rec ? rec->P[i] : 0.0f;
      v.F[i] = rec ? rec->F[i] : 0;
      v.dialogF[i] = rec ? rec->dialogF[i] : 0;
    }
    mp.included[k] = rec ? rec->included[k] : 0;
  }
  if (!rec) {
    // The start-up species: one component, nothing floated.
    mp.included[1] = 1;
    v.P[SpeciesSlot(2, 1)] = 0.5f;
    v.P[SpeciesSlot(0, 1)] = fs.molarMassParameters ? 50000.0f : 5.0f;
    v.P[SpeciesSlot(1, 1)] = 4.0f;
  }
  for (int k = 1; k <= kN; ++k) {
    mp.massOrD[k] = v.P[SpeciesSlot(0, k)];
    mp.massOrDFit[k] = v.F[SpeciesSlot(0, k)];
    mp.s[k] = v.P[SpeciesSlot(1, k)];
    mp.sFit[k] = v.F[SpeciesSlot(1, k)];
    mp.concentration[k] = v.P[SpeciesSlot(2, k)];
    mp.concentrationFit[k] = v.F[SpeciesSlot(2, k)];
    mp.extra[k] = v.P[SpeciesSlot(3, k)];
    mp.extraFit[k] = v.F[SpeciesSlot(3, k)];
  }
  // The discrete-species command gives back what was held for it.
  HoldSpeciesEntries();
}

void Restore(const ModelEntryRecord& r, bool sameData) {
  ModelParameterVector& v = gModelParameterVector;
  ModelParams& mp = gModelParams;
  FitEngineState& fs = gFitEngineState;
  ContiSettings& cs = Conti();
  const float menP13 = v.P[13], menP14 = v.P[14];
  const int menF13 = v.F[13], menF14 = v.F[14];
  const int dF13 = v.dialogF[13], dF14 = v.dialogF[14];
  std::copy(std::begin(r.P), std::end(r.P), std::begin(v.P));
  std::copy(std::begin(r.F), std::end(r.F), std::begin(v.F));
  std::copy(std::begin(r.dialogF), std::end(r.dialogF), std::begin(v.dialogF));
  if (sameData) {
    fs.meniscusMin = r.meniscusMin;
    fs.meniscusMax = r.meniscusMax;
    fs.bottomMin = r.bottomMin;
    fs.bottomMax = r.bottomMax;
  } else {
    v.P[13] = menP13;
    v.P[14] = menP14;
    v.F[13] = menF13;
    v.F[14] = menF14;
    v.dialogF[13] = dF13;
    v.dialogF[14] = dF14;
  }
  for (int k = 1; k <= kN; ++k) mp.included[k] = r.included[k];
  fs.molarMassParameters = r.molarMassParameters;
  fs.fitTINoise = r.fitTINoise;
  mp.riNoiseFit = r.riNoiseFit;
  cs.maxEntropy = r.maxEntropy;
  cs.secondDerivative = r.secondDerivative;
  cs.show2D = r.show2D;
  cs.ffDirectionWeight = r.ffDirectionWeight;
  cs.resolution = r.resolution;
  cs.sMin = r.sMin;
  cs.sMax = r.sMax;
  cs.confidenceLevel = r.confidenceLevel;
  cs.ffValue = r.ffValue;
  cs.fitFfValue = r.fitFfValue;
  cs.gridFromFile = r.gridFromFile;
  cs.logSpacedGrid = r.logSpacedGrid;
  const int key = SelectedModelKey();
  if (key != 235 && key != 275) gModelSelectorFlags.CSModel = r.csModel;
  std::copy(std::begin(r.display2DSwitch), std::end(r.display2DSwitch), std::begin(cs.display2DSwitch));
  LammSolverSettings& l = LammSettings();
  l.claverieAlgorithm = r.claverie;
  l.automaticAlgorithm = r.automatic;
  l.movingHatAlgorithm = r.movingHat;
  l.automaticSGrid = r.automaticSGrid;
  l.fixedTimeStep = r.fixedTimeStep;
  l.experimentalInitialDistribution = r.experimentalStart;
  l.modelInitialDistribution = r.modelStart;
  SolutionConditions& sol = gSolutionConditions;
  sol.vbar = r.vbar;
  sol.vbar20 = r.vbar20;
  sol.density = r.density;
  sol.viscosity = r.viscosity;
  sol.hydration = r.hydration;
  sol.vbarRho = sol.vbar * sol.density;
  StickyHardSphereFlag = r.stickyHardSpheres;
}

// A model chosen for the first time after one that borrowed the family's
// slots starts from the family's f/f0 and vbar, not from the borrowed value.
void FamilySlotsAfterBorrower(int key, const FamilySharedEntries& sh) {
  if (!DistributionKey(key)) return;
  ModelParameterVector& v = gModelParameterVector;
  const int ffSlot = 2 * kN + 3;
  if (key == 602) {
    v.P[3] = sh.ffValue;
    v.P[ffSlot] = sh.vbar;
    return;
  }
  if (key != 513) v.P[3] = sh.vbar;
  if (!BorrowsFfSlot(key)) {
    v.P[ffSlot] = sh.ffValue;
    v.F[ffSlot] = sh.fitFfValue;
  }
}

}  // namespace

ModelEntryBook& ModelEntries() {
  static ModelEntryBook book;
  return book;
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

bool IsModelCommand(int id) {
  static const int kIds[] = {198, 280, 281, 282, 291, 501, 536, 197, 229, 520, 228, 227, 893, 235, 526, 275, 267,
                             277, 278, 279, 288, 539, 950, 503, 522, 502, 292, 293, 284, 523, 246, 511, 510, 513,
                             514, 531, 521, 585, 587, 595, 598, 1099, 1100, 602, 603, 872, 887, 548, 870, 890};
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

bool SpeciesModelKey(int key) {
  switch (key) {
    // The DLS discrete models hold the species as Stokes radii or cumulants.
    case 0: case 198: case 280: case 281: case 282: case 246: case 291: case 893: case 536: case 890:
      return true;
    default: return false;
  }
}

bool TakesSpeciesKey(int key) {
  switch (key) {
    case 227: case 1099: case 197: case 229: return true;
    default: return key != 0 && SpeciesModelKey(key);
  }
}

ModelEntryRecord CaptureModelEntries() {
  ModelEntryRecord r;
  const ModelParameterVector& v = gModelParameterVector;
  const ModelParams& mp = gModelParams;
  const FitEngineState& fs = gFitEngineState;
  const ContiSettings& cs = Conti();
  std::copy(std::begin(v.P), std::end(v.P), std::begin(r.P));
  std::copy(std::begin(v.F), std::end(v.F), std::begin(r.F));
  std::copy(std::begin(v.dialogF), std::end(v.dialogF), std::begin(r.dialogF));
  for (int k = 1; k <= kN; ++k) r.included[k] = mp.included[k];
  r.molarMassParameters = fs.molarMassParameters;
  r.fitTINoise = fs.fitTINoise;
  r.riNoiseFit = mp.riNoiseFit;
  r.meniscusMin = fs.meniscusMin;
  r.meniscusMax = fs.meniscusMax;
  r.bottomMin = fs.bottomMin;
  r.bottomMax = fs.bottomMax;
  r.maxEntropy = cs.maxEntropy;
  r.secondDerivative = cs.secondDerivative;
  r.show2D = cs.show2D;
  r.ffDirectionWeight = cs.ffDirectionWeight;
  r.resolution = cs.resolution;
  r.sMin = cs.sMin;
  r.sMax = cs.sMax;
  r.confidenceLevel = cs.confidenceLevel;
  r.ffValue = cs.ffValue;
  r.fitFfValue = cs.fitFfValue;
  r.gridFromFile = cs.gridFromFile;
  r.logSpacedGrid = cs.logSpacedGrid;
  r.csModel = gModelSelectorFlags.CSModel;
  std::copy(std::begin(cs.display2DSwitch), std::end(cs.display2DSwitch), std::begin(r.display2DSwitch));
  const LammSolverSettings& l = LammSettings();
  r.claverie = l.claverieAlgorithm;
  r.automatic = l.automaticAlgorithm;
  r.movingHat = l.movingHatAlgorithm;
  r.automaticSGrid = l.automaticSGrid;
  r.fixedTimeStep = l.fixedTimeStep;
  r.experimentalStart = l.experimentalInitialDistribution;
  r.modelStart = l.modelInitialDistribution;
  const SolutionConditions& sol = gSolutionConditions;
  r.vbar = sol.vbar;
  r.vbar20 = sol.vbar20;
  r.density = sol.density;
  r.viscosity = sol.viscosity;
  r.hydration = sol.hydration;
  r.stickyHardSpheres = StickyHardSphereFlag;
  r.dataGeneration = ModelEntries().dataGeneration;
  return r;
}

ModelEntryTrip BeginModelEntry(int id) {
  ModelEntryBook& book = ModelEntries();
  ModelEntryTrip trip;
  trip.before = SelectedModelKey();
  // The vector holds every entry as the dialog shows it (the unpack
  // derives the rest from it).
  trip.leaving = CaptureModelEntries();
  FamilySharedEntries& sh = book.shared;
  if (!BorrowsFfSlot(trip.before)) {
    sh.ffValue = Conti().ffValue;
    sh.fitFfValue = Conti().fitFfValue;
  }
  if (!BorrowsVbar(trip.before)) sh.vbar = gSolutionConditions.vbar;
  if (!BorrowsBottom(trip.before)) {
    sh.bottom = gModelParams.bottom;
    sh.bottomFit = gModelParams.bottomFit;
  }
  if (id != trip.before && TakesSpeciesKey(id) && !book.records.count(id) && !SpeciesModelKey(trip.before)) {
    auto it = book.records.find(book.lastSpeciesModel);
    PutSpecies(it == book.records.end() ? nullptr : &it->second);
    trip.speciesPut = true;
  }
  return trip;
}

bool FinishModelEntry(const ModelEntryTrip& trip) {
  ModelEntryBook& book = ModelEntries();
  const int after = SelectedModelKey();
  if (after == trip.before) {
    // Refused or cancelled: the model keeps its slots.
    if (trip.speciesPut) {
      ModelEntryRecord r = trip.leaving;
      Restore(r, true);
      UnpackModelParameters();
    }
    return false;
  }
  book.records[trip.before] = trip.leaving;
  if (SpeciesModelKey(trip.before)) book.lastSpeciesModel = trip.before;
  const FamilySharedEntries& sh = book.shared;
  // What the model left had borrowed goes back to the others.
  if (BorrowsFfSlot(trip.before)) {
    Conti().ffValue = sh.ffValue;
    Conti().fitFfValue = sh.fitFfValue;
  }
  if (BorrowsVbar(trip.before)) {
    SolutionConditions& sol = gSolutionConditions;
    sol.vbar = sh.vbar;
    sol.vbarRho = sol.vbar * sol.density;
  }
  ModelParameterVector& v = gModelParameterVector;
  if (BorrowsBottom(trip.before) && !BorrowsBottom(after)) {
    v.P[14] = gModelParams.bottom = sh.bottom;
    v.F[14] = gModelParams.bottomFit = sh.bottomFit;
  }
  auto it = book.records.find(after);
  if (it != book.records.end()) {
    Restore(it->second, it->second.dataGeneration == book.dataGeneration);
  } else {
    if (BorrowsFfSlot(trip.before) || BorrowsVbar(trip.before)) FamilySlotsAfterBorrower(after, sh);
    // The 2-D display choices are those of the size-and-shape models.
    if (after != 595 && after != 598) {
      Conti().show2D = 0;
      std::fill(std::begin(Conti().display2DSwitch), std::end(Conti().display2DSwitch), 0);
    }
  }
  UnpackModelParameters();
  return true;
}

void NoteNewDataForModelEntries(bool otherKind) {
  ModelEntryBook& book = ModelEntries();
  ++book.dataGeneration;
  if (!otherKind) return;
  book.records.clear();
  book.lastSpeciesModel = 0;
}
