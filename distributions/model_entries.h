#pragma once
// What the user entered for each model, kept while another model is chosen.
// Every model shares the one parameter vector P[1..34]: the discrete
// species, the c(s) grid and the variants' own values take turns in the
// same slots. Leaving a model puts its entries aside under the model's
// command id; coming back gives them back, so that no model's choice
// changes what was typed for another.
#include <cstdint>
#include <map>

#include "distributions/model_starts.h"
#include "fit/model_params.h"
#include "fit/model_table.h"

// The entries of one model as they stood when it was left.
struct ModelEntryRecord {
  float P[kParameterSlots + 1] = {};
  int F[kParameterSlots + 1] = {};
  int dialogF[kParameterSlots + 1] = {};
  int included[kComponentSlots + 1] = {};
  // Concentrations and baseline floated as linear amplitudes (their fit
  // boxes show ticked, the vector's flags are clear).
  std::uint8_t concentrationsLinear = 0, baselineLinear = 0;
  std::uint8_t molarMassParameters = 0;  // "Fit M and s"
  std::uint8_t fitTINoise = 0, riNoiseFit = 0;
  float meniscusMin = 0, meniscusMax = 0, bottomMin = 0, bottomMax = 0;
  std::uint8_t maxEntropy = 1, secondDerivative = 0;
  std::uint8_t show2D = 0, display2DSwitch[4] = {};
  float ffDirectionWeight = 10.0f;  // the 2-D regularisation's weight
  // The grid as the boundary transforms keep it (outside the vector).
  float resolution = 100.0f, sMin = 0.1f, sMax = 20.0f, confidenceLevel = 0.95f, ffValue = 1.2f;
  std::uint8_t fitFfValue = 0, gridFromFile = 0, logSpacedGrid = 0;
  std::uint8_t csModel = 0;  // the c(s) switch the reset leaves (the transforms' dialog reads it)
  // The Lamm solver choices the models set and the dialog shows.
  std::uint8_t claverie = 0, automatic = 1, movingHat = 1, automaticSGrid = 1, fixedTimeStep = 0;
  std::uint8_t experimentalStart = 0, modelStart = 1;
  // The solution as this model's dialog had it.
  float vbar = 0.73f, vbar20 = 0.73f, density = 1.0f, viscosity = 1.0f, hydration = 0.3f;
  std::uint8_t stickyHardSpheres = 0;  // the hindered models' option
  // Meniscus, bottom, their limits and the noise choices belong to the data
  // they were set for: entries of earlier data give them up.
  int dataGeneration = 0;
};

// The f/f0 and vbar of the distribution family and the cell bottom, as the
// last model that does not borrow their slots had them.
struct FamilySharedEntries {
  float ffValue = 1.2f;
  std::uint8_t fitFfValue = 0;
  float vbar = 0.73f;
  float bottom = 0;
  int bottomFit = 0;
  // The distributions' discrete component and the nonideality, as the last
  // model whose entries do not pass through them left them.
  float discreteS = 0.34f, discreteM = 350.0f, discreteD = 0;
  std::uint8_t fitDiscreteS = 0, fitDiscreteM = 0, fitDiscreteD = 0;
  double hybridThreshold = 0;
  std::uint8_t hybridDiscrete = 0;
  float logKs = 0, logKd = 0;
  int logKsFit = 0, logKdFit = 0;
};

// The records of the models used on one kind of data.
struct ModelEntryShelf {
  std::map<int, ModelEntryRecord> records;
  // The last model whose slots held plain species (0: the start-up entries).
  int lastSpeciesModel = 0;
};

struct ModelEntryBook : ModelEntryShelf {
  FamilySharedEntries shared;
  int dataGeneration = 0;
  // The kind of data (a ModelData bit) the records above were made on; the
  // records of the other kinds wait here until data of their kind return.
  unsigned dataKind = kVelocityData;
  std::map<unsigned, ModelEntryShelf> otherKinds;
};
ModelEntryBook& ModelEntries();

// The current entries; the record of `key` made from them.
ModelEntryRecord CaptureModelEntries();

// The two halves of a model command. Begin runs before the command's own
// set-up: the model about to be chosen gets its own last entries, or, the
// first time, the start-up entries with the species it starts from and the
// start of its row in the table of models. Finish
// runs after it: when the model changed, the one left is put aside and the
// borrowed f/f0, vbar and bottom go back. A command finding its entries in
// place writes no start values, so what it asks is the newest entry.
struct ModelEntryTrip {
  int id = 0;  // the command
  int before = 0;
  ModelEntryRecord leaving;
  bool entered = false;   // Begin put the model's entries or start in place
  bool restored = false;  // they were its own entries
  bool fromFile = false;  // a saved parameter file names the model
  ModelStartNotes start;  // the first start the table gave it
  // The rest of its first start follows the switches its command sets:
  // the model command writes it before the finish (with the values its
  // stores kept, read before the command).
  bool speciesStart = false;
  // The model whose species the slots took (the model's own when none).
  int speciesFrom = 0;
};
// With `file` (the trip a saved parameter file began): the model the file
// names is entered as from the menu, from the model in use before the file
// was read; its finish leaves the putting aside to FinishReloadedModel.
ModelEntryTrip BeginModelEntry(int id, const ModelEntryTrip* file = nullptr);
// True when the model changed.
bool FinishModelEntry(const ModelEntryTrip& trip);
// While a model command runs between the two halves: the model's own
// entries are in place (it was chosen before), or the start of its row
// (chosen for the first time), so its command sets its switches and asks
// its questions but writes no start values over them.
bool ModelEntriesInPlace();
// While the command of model `id` runs with that model in use and its row
// lets only its options change: it asks its question, takes the answer and
// leaves the model as it is.
bool ModelOptionsOnly(int id);
// What the first start of the model being entered changed (nothing when
// its own entries came back): the command tells the user of it.
const ModelStartNotes& ModelStartJustWritten();

// A saved parameter file chooses the model it names: the model left is put
// aside (what it shares with the others held before the file's values are
// read), the model the file names is
// entered through BeginModelEntry with this trip, and what the file gave is
// the chosen model's newest entries.
ModelEntryTrip BeginReloadedModel();
void FinishReloadedModel(const ModelEntryTrip& trip);

// Data of another kind are about to be loaded, and the model in use goes
// with the data it was used on: its entries are recorded as they stand,
// before the loader writes the new data's settings over them.
void RecordModelInUse();
// The same in two steps, for a loader that knows the kind of the new data
// only once they are in: the model in use and its entries taken before the
// load, recorded if the data turn out to be of another kind.
struct ModelInUse {
  int key = 0;
  ModelEntryRecord entries;
};
ModelInUse TakeModelInUse();
void RecordModelInUse(const ModelInUse& inUse);
// Data were loaded: meniscus, bottom, their limits and the noise choices of
// the entries put aside are those of the earlier data. The records of the
// models used on data of another kind are put aside under that kind, and
// those made on data of the new kind come back.
void NoteNewDataForModelEntries(bool otherKind);
