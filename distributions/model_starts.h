#pragma once
// The first start of every model: what a model shows when it is chosen for
// the first time (and when a saved file or the unattended run chooses it,
// before the file's values are read), and the conversion of the species a
// species model takes from the one before it. The constant part of each
// start is the model's row in the table of models (fit/model_table.h); the
// rules here add what follows from the loaded data, the settings and the
// values kept outside the models' entries. The records of the models'
// entries (model_entries.h) put these starts in place; nothing here reads
// those records.
#include <utility>
#include <vector>

// ---- the start of the entries -------------------------------------------------
// Written over the start-up entries, before the start of the model's row.

// The start-up species of a species model that finds no species to take:
// component 1 alone (into the slots only; the caller derives the rest).
void WriteStartUpSpecies();
// A distribution chosen for the first time starts from its start-up f/f0
// and `vbar` (the solution's, as the model left held it), not from a value
// another model left in the slots.
void WriteFamilySlotsStart(int id, float vbar);
// A nonideal c(s) chosen for the first time starts from the ideal limit,
// log10 k = -6 (k in ml/mg), whatever nonideality was entered before; the
// hard-sphere variant takes the absolute values (its row's start).
void WriteNonidealLimitStart(int id);

// ---- the start of the row, before the command ---------------------------------
// The loaded data as a first start reads them.
struct ModelStartData {
  bool dls = false, electrophoresis = false;
  int scanCount = 0;
  float lastScanTemperature = 20.0f;  // C
  bool multiSpeed = false;
  bool fitMAndS = false;  // the M-and-s parametrisation switch (in/out)
};
ModelStartData LoadedModelStartData();

// What a first start changed that the model's command tells the user.
struct ModelStartNotes {
  bool written = false;             // the model's start is the table's
  bool rangeToMolarMass = false;    // the S range became molar masses
  bool toMaxEntropy = false;        // from Tikhonov-Phillips
  bool toSecondDerivative = false;  // from maximum entropy
};

// The first start of model `id` from its row of the model table and the
// data: the entries a model chosen for the first time shows, written before
// its command runs. Models whose start is not the table's are left alone
// (`written` false).
ModelStartNotes WriteModelStart(int id, ModelStartData& data);

// The grid of an ls-g*(s) model chosen for the first time (`id`: its
// command): confidence level, resolution and s range. Multi-speed runs span
// a wide range of s and float the meniscus; the zone form keeps the narrow.
void WriteLsgGridStart(int id, bool multiSpeed);

// ---- the start that follows the switches, after the command -------------------
// The first start of model `id` that its row's species start gives,
// written once its command has set its switches: the species taken from
// model `speciesFrom` converted to the model's own quantities, the solver,
// the fit boxes, and the values its stores kept, read before the command
// (whose unpack writes the slots into those stores). Nothing for a model
// without one.
struct StoredStartValues {
  std::vector<std::pair<int, float>> P;  // slot, value
  std::vector<std::pair<int, int>> F;    // slot, fit box
};
StoredStartValues TakeStoredStart(int id);
void WriteSpeciesStart(int id, int speciesFrom, const StoredStartValues& stored = {});

// Start values of the equilibrium hetero-association A + B <-> AB (command
// 523), kept between selections, named by the model slots they fill.
struct EquilibriumStartValues {
  float concentration1 = 0.5f;  // A, loading signal
  float concentration2 = 0.5f;  // B, loading signal
  float concentration4 = 1.0f;  // divides the signal of B in the mass action
  float massOrD1 = 50000.0f;    // M of A (g/mol)
  float massOrD2 = 50000.0f;    // M of B (g/mol)
  float massOrD4 = 1.0f;        // divides the signal of A in the mass action
  float s4 = 5.0f;              // log10 K of the association (K in the units of the signals)
};
EquilibriumStartValues& StoredEquilibriumStartValues();
