#pragma once
// First starts of the species models written once their command has set its
// switches, and the start values kept outside the models' entries.
#include <utility>
#include <vector>

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
