#include "distributions/model_entries.h"

#include <algorithm>
#include <utility>

#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_settings.h"

namespace {

constexpr int kN = kComponentSlots;

bool BorrowsFfSlot(int key) { return ModelBorrowsSlot(key, kBorrowsFfSlot); }
// The floating vbar is the model's own: the unpack writes it over the
// solution's vbar.
bool BorrowsVbar(int key) { return ModelBorrowsSlot(key, kBorrowsVbar); }
// The electrophoresis cell ends at meniscus + column length.
bool BorrowsBottom(int key) { return ModelBorrowsSlot(key, kBorrowsBottom); }

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
  if (!rec) WriteStartUpSpecies();
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
}

void Restore(const ModelEntryRecord& r, bool sameData, int key) {
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
    fs.fitTINoise = r.fitTINoise;
    mp.riNoiseFit = r.riNoiseFit;
  } else {
    v.P[13] = menP13;
    v.P[14] = menP14;
    v.F[13] = menF13;
    v.F[14] = menF14;
    v.dialogF[13] = dF13;
    v.dialogF[14] = dF14;
  }
  for (int k = 1; k <= kN; ++k) mp.included[k] = r.included[k];
  mp.concentrationsLinear = r.concentrationsLinear;
  mp.baselineLinear = r.baselineLinear;
  fs.molarMassParameters = r.molarMassParameters;
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
  // (key -1: the command has yet to run, and the switch still tells the
  // model being left.)
  if (key >= 0 && key != kCmContinuousCMModel && key != kCmContinuousCSModel) gModelSelectorFlags.CSModel = r.csModel;
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

// The stores that a model's entries pass through (its unpack writes them),
// kept from the last model whose entries do not, and given back when such a
// model is left: the next model's command takes its start from them.
void HoldStores(int key, FamilySharedEntries& sh) {
  if (!ModelBorrowsSlot(key, kBorrowsDiscrete)) {
    const ContiSettings& cs = Conti();
    sh.discreteS = cs.discreteS;
    sh.discreteM = cs.discreteM;
    sh.discreteD = cs.discreteD;
    sh.fitDiscreteS = cs.fitDiscreteS;
    sh.fitDiscreteM = cs.fitDiscreteM;
    sh.fitDiscreteD = cs.fitDiscreteD;
    sh.hybridThreshold = cs.hybridThreshold;
    sh.hybridDiscrete = cs.hybridDiscrete;
  }
  if (!ModelBorrowsSlot(key, kBorrowsNonideality)) {
    const AssociationModelParams& as = gAssociationModelParams;
    sh.logKs = as.logKs;
    sh.logKd = as.logKd;
    sh.logKsFit = as.logKsFit;
    sh.logKdFit = as.logKdFit;
  }
}

void GiveBackStores(int key, const FamilySharedEntries& sh) {
  if (ModelBorrowsSlot(key, kBorrowsDiscrete)) {
    ContiSettings& cs = Conti();
    cs.discreteS = sh.discreteS;
    cs.discreteM = sh.discreteM;
    cs.discreteD = sh.discreteD;
    cs.fitDiscreteS = sh.fitDiscreteS;
    cs.fitDiscreteM = sh.fitDiscreteM;
    cs.fitDiscreteD = sh.fitDiscreteD;
    cs.hybridThreshold = sh.hybridThreshold;
    cs.hybridDiscrete = sh.hybridDiscrete;
  }
  if (ModelBorrowsSlot(key, kBorrowsNonideality)) {
    AssociationModelParams& as = gAssociationModelParams;
    as.logKs = sh.logKs;
    as.logKd = sh.logKd;
    as.logKsFit = sh.logKsFit;
    as.logKdFit = sh.logKdFit;
  }
}

}  // namespace

ModelEntryBook& ModelEntries() {
  static ModelEntryBook book;
  return book;
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
  r.concentrationsLinear = mp.concentrationsLinear;
  r.baselineLinear = mp.baselineLinear;
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

namespace {

// The entries of the program's start (a record's own initial values): a
// model chosen for the first time
// starts from them and its command's own start values. The solution, the
// noise choices, meniscus, bottom and their limits and the M-and-s form are
// the data's and the user's and stay as they are.
ModelEntryRecord StartUpEntries() {
  ModelEntryRecord r = CaptureModelEntries();
  const ModelEntryRecord fresh;
  for (int i = 0; i <= kParameterSlots; ++i) {
    if (i == 13 || i == 14) continue;
    r.P[i] = 0;
    r.F[i] = r.dialogF[i] = 0;
  }
  std::fill(std::begin(r.included), std::end(r.included), 0);
  r.concentrationsLinear = fresh.concentrationsLinear;
  r.baselineLinear = fresh.baselineLinear;
  for (int j = 1; j <= kNonidealTerms; ++j) r.P[24 + j] = kInitialNonidealTerms[j];
  // Meniscus and bottom as the data have them (a load sets them without
  // writing the vector).
  const ModelParams& mp = gModelParams;
  r.P[13] = mp.meniscus;
  r.P[14] = mp.bottom;
  r.F[13] = r.dialogF[13] = mp.meniscusFit;
  r.F[14] = r.dialogF[14] = mp.bottomFit;
  r.maxEntropy = fresh.maxEntropy;
  r.secondDerivative = fresh.secondDerivative;
  r.show2D = fresh.show2D;
  std::copy(std::begin(fresh.display2DSwitch), std::end(fresh.display2DSwitch), std::begin(r.display2DSwitch));
  r.ffDirectionWeight = fresh.ffDirectionWeight;
  r.resolution = fresh.resolution;
  r.sMin = fresh.sMin;
  r.sMax = fresh.sMax;
  r.confidenceLevel = fresh.confidenceLevel;
  r.ffValue = fresh.ffValue;
  r.fitFfValue = fresh.fitFfValue;
  r.gridFromFile = fresh.gridFromFile;
  r.logSpacedGrid = fresh.logSpacedGrid;
  r.csModel = fresh.csModel;
  r.claverie = fresh.claverie;
  r.automatic = fresh.automatic;
  r.movingHat = fresh.movingHat;
  r.automaticSGrid = fresh.automaticSGrid;
  r.fixedTimeStep = fresh.fixedTimeStep;
  r.experimentalStart = fresh.experimentalStart;
  r.modelStart = fresh.modelStart;
  r.stickyHardSpheres = fresh.stickyHardSpheres;
  return r;
}

bool& EntriesInPlace() {
  static bool inPlace = false;
  return inPlace;
}

// The command whose model was in use and whose options alone change (0: none).
int& OptionsOnlyFor() {
  static int id = 0;
  return id;
}

ModelStartNotes& StartJustWritten() {
  static ModelStartNotes notes;
  return notes;
}

// The start of model `id`'s row in place; false when it has none.
bool PutStartInPlace(int id) {
  ModelStartData data = LoadedModelStartData();
  const ModelStartNotes notes = WriteModelStart(id, data);
  if (!notes.written) return false;
  gFitEngineState.molarMassParameters = data.fitMAndS ? 1 : 0;
  StartJustWritten() = notes;
  EntriesInPlace() = true;
  return true;
}

}  // namespace

bool ModelEntriesInPlace() { return EntriesInPlace(); }

bool ModelOptionsOnly(int id) { return id != 0 && OptionsOnlyFor() == id; }

const ModelStartNotes& ModelStartJustWritten() { return StartJustWritten(); }

namespace {

// What the model being left shares with the others (the f/f0, the
// solution's vbar, the bottom, the stores its entries do not pass through),
// held as it stands.
void HoldShared(int before) {
  FamilySharedEntries& sh = ModelEntries().shared;
  if (!BorrowsFfSlot(before)) {
    sh.ffValue = Conti().ffValue;
    sh.fitFfValue = Conti().fitFfValue;
  }
  if (!BorrowsVbar(before)) sh.vbar = gSolutionConditions.vbar;
  if (!BorrowsBottom(before)) {
    sh.bottom = gModelParams.bottom;
    sh.bottomFit = gModelParams.bottomFit;
  }
  HoldStores(before, sh);
}

}  // namespace

ModelEntryTrip BeginModelEntry(int id, const ModelEntryTrip* file) {
  ModelEntryBook& book = ModelEntries();
  ModelEntryTrip trip;
  trip.id = id;
  if (file) {
    // The model left and its entries are those before the file was read;
    // what they share was held then.
    trip.before = file->before;
    trip.leaving = file->leaving;
    trip.fromFile = true;
  } else {
    trip.before = SelectedModelKey();
    // The vector holds every entry as the dialog shows it (the unpack
    // derives the rest from it).
    trip.leaving = CaptureModelEntries();
    HoldShared(trip.before);
  }
  FamilySharedEntries& sh = book.shared;
  const ModelRow* row = FindModelRow(id);
  const bool ownSpeciesStart = row && row->startValues.species.Any();
  if (id == trip.before || !IsModelCommand(id)) {
    trip.speciesFrom = id;
    if (!file && id == trip.before && ModelInUseAgain(id) == InUseAgain::OptionsOnly) OptionsOnlyFor() = id;
    if (file && row) {
      // A file's model is set up afresh even where it was the one in use:
      // its start in place, the file's values read over it.
      StartJustWritten() = {};
      if (PutStartInPlace(id)) trip.start = StartJustWritten();
      trip.speciesStart = ownSpeciesStart;
      EntriesInPlace() = true;
    }
    return trip;
  }
  // (Before the command: its first start reads them. A refusal unpacks
  // the entries of the model left again.)
  GiveBackStores(trip.before, sh);
  // The model's own entries, or its start, are in place before its command
  // runs: what the command asks, it asks about them, and its answer is the
  // newest entry.
  trip.entered = true;
  StartJustWritten() = {};
  const auto it = book.records.find(id);
  if (it != book.records.end()) {
    Restore(it->second, it->second.dataGeneration == book.dataGeneration, -1);
    trip.restored = true;
    trip.speciesFrom = id;
    EntriesInPlace() = true;
    return trip;
  }
  Restore(StartUpEntries(), true, -1);
  if (BorrowsBottom(trip.before) && sh.bottom > gModelParams.meniscus) {
    // The model left had its own bottom (an electrophoresis column's end):
    // a first start begins from the data's, where the data have one beyond
    // the meniscus (scans of a column without a cell bottom keep the end).
    gModelParameterVector.P[14] = gModelParams.bottom = sh.bottom;
    gModelParameterVector.F[14] = gModelParams.bottomFit = sh.bottomFit;
  }
  if (TakesSpeciesKey(id)) {
    // Species models hand their species on to one another; after any other
    // model the species come from the last species model.
    const ModelEntryRecord* species = &trip.leaving;
    trip.speciesFrom = trip.before;
    if (!SpeciesModelKey(trip.before)) {
      const auto last = book.records.find(book.lastSpeciesModel);
      species = last == book.records.end() ? nullptr : &last->second;
      trip.speciesFrom = species ? book.lastSpeciesModel : 0;
    }
    PutSpecies(species);
    // The multiple non-ideal species keep species 2 and 3 in their terms:
    // the first start converts them from there.
    if (species && trip.speciesFrom == kCmNonidealMultipleSpeciesModel)
      for (int j = 1; j <= kNonidealTerms; ++j) gModelParameterVector.P[24 + j] = species->P[24 + j];
  } else {
    trip.speciesFrom = id;
  }
  WriteFamilySlotsStart(id, sh.vbar);
  WriteNonidealLimitStart(id);
  // The start of the model's row: its command finds it in place and
  // writes nothing over it.
  if (PutStartInPlace(id)) trip.start = StartJustWritten();
  if (ownSpeciesStart) {
    // The rest of its start is written when its command has set the
    // switches; the command writes none of it.
    trip.speciesStart = true;
    EntriesInPlace() = true;
  }
  return trip;
}

bool FinishModelEntry(const ModelEntryTrip& trip) {
  ModelEntryBook& book = ModelEntries();
  EntriesInPlace() = false;
  OptionsOnlyFor() = 0;
  StartJustWritten() = {};
  // The file's own entries follow; the model left is put aside when the
  // file has been read.
  if (trip.fromFile) return false;
  const int after = SelectedModelKey();
  if (after == trip.before) {
    // Refused or cancelled: the model keeps its slots.
    if (trip.entered) {
      Restore(trip.leaving, true, 0);
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
  if (it != book.records.end() && after == trip.id && !DistributionKey(after)) {
    // The reset leaves the c(s) switch of the model left; the transforms'
    // dialog reads the one their entries were made with (the distributions'
    // commands set their own).
    gModelSelectorFlags.CSModel = it->second.csModel;
  }
  UnpackModelParameters();
  return true;
}

ModelEntryTrip BeginReloadedModel() {
  ModelEntryTrip trip;
  trip.before = SelectedModelKey();
  trip.leaving = CaptureModelEntries();
  trip.fromFile = true;
  // What the model left shares is held as for a model command; it goes back
  // when the file's model is entered (the file's values come after).
  HoldShared(trip.before);
  return trip;
}

void FinishReloadedModel(const ModelEntryTrip& trip) {
  ModelEntryBook& book = ModelEntries();
  const int after = SelectedModelKey();
  if (after != trip.before) {
    book.records[trip.before] = trip.leaving;
    if (SpeciesModelKey(trip.before)) book.lastSpeciesModel = trip.before;
  }
  book.records.erase(after);
}

ModelInUse TakeModelInUse() { return {SelectedModelKey(), CaptureModelEntries()}; }

void RecordModelInUse(const ModelInUse& inUse) {
  ModelEntryBook& book = ModelEntries();
  book.records[inUse.key] = inUse.entries;
  if (SpeciesModelKey(inUse.key)) book.lastSpeciesModel = inUse.key;
}

void RecordModelInUse() { RecordModelInUse(TakeModelInUse()); }

void NoteNewDataForModelEntries(bool otherKind) {
  ModelEntryBook& book = ModelEntries();
  ++book.dataGeneration;
  const unsigned kind = LoadedDataKind();
  if (!otherKind && kind == book.dataKind) return;
  ModelEntryShelf& shelf = book;
  book.otherKinds[book.dataKind] = std::move(shelf);
  const auto back = book.otherKinds.find(kind);
  shelf = back == book.otherKinds.end() ? ModelEntryShelf{} : std::move(back->second);
  if (back != book.otherKinds.end()) book.otherKinds.erase(back);
  book.dataKind = kind;
  if (!otherKind) return;
  if (const int key = SelectedModelKey(); key != 0) {
    // The model kept for the new data takes the entries it had on data of
    // their kind (their meniscus, bottom and noise choices stay the new
    // data's).
    const auto own = book.records.find(key);
    if (own != book.records.end()) {
      Restore(own->second, false, -1);
      UnpackModelParameters();
    }
    return;
  }
  // No model is chosen for the new data: the slots hold the start-up entries
  // and the species of this kind's last species model, not what the model
  // of the earlier data left in them.
  Restore(StartUpEntries(), true, -1);
  const auto last = book.records.find(book.lastSpeciesModel);
  PutSpecies(last == book.records.end() ? nullptr : &last->second);
  UnpackModelParameters();
}
