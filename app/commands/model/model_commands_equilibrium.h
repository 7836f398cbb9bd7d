#pragma once
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
